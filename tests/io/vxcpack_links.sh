#!/usr/bin/env bash
# vxcpack and what a folder or a pack may hold besides plain files: symlinks are not packed
# (and never loop), names the runtime cannot tell apart make no pack, extraction never writes
# through a symlink or over an earlier entry, and names are printed without raw control bytes.
set -u
export LC_ALL=C
vxcpack=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

# A pack written field by field: makepack OUT NAME DATA [NAME DATA]...
u32() { printf '%b' "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) \
  $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"; }
makepack() {
  local out=$1; shift
  local n=$(($# / 2)) at i name data
  at=$((24 + n * 20))
  local -a names=() datas=() nameAt=() dataAt=()
  while [ $# -gt 0 ]; do names+=("$1"); datas+=("$2"); shift 2; done
  for ((i = 0; i < n; i++)); do nameAt[i]=$at; at=$((at + ${#names[i]} + 1)); done
  for ((i = 0; i < n; i++)); do dataAt[i]=$at; at=$((at + ${#datas[i]})); done
  {
    printf 'VXC-PACK\1\0\0\0\0\0\0\0'; u32 24; u32 $((n * 20))
    for ((i = 0; i < n; i++)); do
      u32 "${nameAt[i]}"; u32 $((${#names[i]} + 1)); u32 "${dataAt[i]}"; u32 "${#datas[i]}"; u32 0
    done
    for ((i = 0; i < n; i++)); do printf '%s\0' "${names[i]}"; done
    for ((i = 0; i < n; i++)); do printf '%s' "${datas[i]}"; done
  } >"$out"
}

# --- create: symlinks are skipped with a message, even a link to the folder itself ---
mkdir -p "$work/outside" "$work/src/sub"
echo secret >"$work/outside/hostname"
echo own >"$work/src/own.txt"
echo deep >"$work/src/sub/deep.txt"
ln -s "$work/outside/hostname" "$work/src/link.txt"
ln -s "$work/outside" "$work/src/outdir"
ln -s . "$work/src/sub/loop"
mkfifo "$work/src/fifo.vxs"
if ! timeout 20 "$vxcpack" create "$work/a.vxc" "$work/src" 2>"$work/err"; then
  fail "create with symlinks failed: $(cat "$work/err")"
fi
listing=$("$vxcpack" list "$work/a.vxc")
[ "$listing" = "$(printf 'own.txt\t4\nsub\\deep.txt\t5')" ] || fail "listing: $listing"
for l in link.txt outdir sub/loop; do
  grep -q "skipping symlink $l " "$work/err" || fail "no word about $l: $(cat "$work/err")"
done
grep -q "skipping fifo.vxs: not a regular file" "$work/err" || fail "no word about the fifo"

# --- create: names the runtime cannot tell apart make no pack ---
mkdir -p "$work/c1/back" "$work/c2"
echo 1 >"$work/c1/back/slash.txt"
echo 2 >"$work/c1/back\\slash.txt"
echo 1 >"$work/c2/Foo.txt"
echo 2 >"$work/c2/foo.TXT"
for c in c1 c2; do
  if "$vxcpack" create "$work/$c.vxc" "$work/$c" 2>"$work/err"; then fail "$c: collision accepted"; fi
  [ -e "$work/$c.vxc" ] && fail "$c: a pack was written"
  grep -q "would both be the entry" "$work/err" || fail "$c: $(cat "$work/err")"
done

# --- extract: entries that map to one file are not overwritten ---
makepack "$work/sep.vxc" 'a/b' first 'a\b' second 'A\B' third 'x\.\y' one 'x\y' two
if "$vxcpack" extract "$work/sep.vxc" "$work/sep" 2>"$work/err"; then fail "separator collision not reported"; fi
[ "$(cat "$work/sep/a/b")" = first ] || fail "a/b overwritten: $(cat "$work/sep/a/b")"
[ "$(cat "$work/sep/x/y")" = one ] || fail "x/y overwritten"
grep -q 'skipping a\\b: it would overwrite a/b' "$work/err" || fail "$(cat "$work/err")"
grep -q 'skipping later duplicate of A\\B' "$work/err" || fail "$(cat "$work/err")"

# --- extract: never through a symlink already in the target folder ---
mkdir -p "$work/target" "$work/victim"
echo untouched >"$work/victim/Start.vxs"
ln -s "$work/victim" "$work/target/sys"
ln -s "$work/victim/Start.vxs" "$work/target/Start.vxs"
makepack "$work/evil.vxc" 'sys\x.txt' evil 'Start.vxs' evil 'ok.txt' fine
if "$vxcpack" extract "$work/evil.vxc" "$work/target" 2>"$work/err"; then fail "wrote through symlinks"; fi
[ -e "$work/victim/x.txt" ] && fail "wrote through a folder symlink"
[ "$(cat "$work/victim/Start.vxs")" = untouched ] || fail "wrote through a file symlink"
[ "$(cat "$work/target/ok.txt")" = fine ] || fail "the plain entry was not written"
[ "$(grep -c 'is a symlink; nothing is written through it' "$work/err")" = 2 ] || fail "$(cat "$work/err")"

# --- names are printed escaped ---
makepack "$work/ctl.vxc" "$(printf 'a\033[2Jb\tc')" x
out=$("$vxcpack" list "$work/ctl.vxc")
[ "$out" = "$(printf 'a\\x1b[2Jb\\x09c\t1')" ] || fail "escaped listing: $out"
case "$out" in *$'\033'*) fail "raw escape printed" ;; esac

[ $status -eq 0 ] && echo "vxcpack links and collisions ok"
exit $status
