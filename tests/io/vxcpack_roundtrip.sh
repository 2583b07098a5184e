#!/usr/bin/env bash
# Packs a folder, lists and extracts it again (plain and appended to a host file) and checks
# that the files come back byte for byte, that packing is reproducible and that a damaged pack
# is refused with a message.
set -eu
vxcpack=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src=$work/src
mkdir -p "$src/system/Sub" "$src/voice"
printf 'Start script\n' >"$src/Start.vxs"
head -c 70000 /dev/urandom >"$src/system/Title.PNG"
: >"$src/empty.dat"
kana=$(printf '\xe3\x81\x82')
printf '%s' "$kana" >"$src/voice/$kana.ogg"
printf 'deep' >"$src/system/Sub/deep.bin"

"$vxcpack" create "$work/a.vxc" "$src"
"$vxcpack" create "$work/b.vxc" "$src"
cmp "$work/a.vxc" "$work/b.vxc"

listing=$("$vxcpack" list "$work/a.vxc")
expected=$(printf 'Start.vxs\t13\nempty.dat\t0\nsystem\\Sub\\deep.bin\t4\nsystem\\Title.PNG\t70000\nvoice\\\xe3\x81\x82.ogg\t3')
[ "$listing" = "$expected" ] || { echo "unexpected listing:"; echo "$listing"; exit 1; }

"$vxcpack" extract "$work/a.vxc" "$work/out"
diff -r "$src" "$work/out"

head -c 3000 /dev/urandom >"$work/host.bin"
cp "$work/host.bin" "$work/host0.bin"
"$vxcpack" append "$work/host.bin" "$work/a.vxc"
cmp -n 3000 "$work/host.bin" "$work/host0.bin"
[ "$("$vxcpack" list "$work/host.bin")" = "$expected" ]
"$vxcpack" extract "$work/host.bin" "$work/out2"
diff -r "$src" "$work/out2"

head -c 60 "$work/a.vxc" >"$work/cut.vxc"
if "$vxcpack" list "$work/cut.vxc" 2>"$work/err"; then
  echo "a cut pack was accepted"; exit 1
fi
grep -q "damaged pack" "$work/err"
if "$vxcpack" extract "$work/missing.vxc" "$work/out3" 2>/dev/null; then
  echo "a missing pack was accepted"; exit 1
fi
echo "vxcpack round trip ok"
