#!/usr/bin/env bash
# Checks the vxsc tool end to end: a compiled image dumps exactly like its source, and lint
# fails on a bad script with file:line:column messages.
set -eu
vxsc=$1 data=$2 work=$3
mkdir -p "$work"
"$vxsc" compile "$data/sample.vxs" -o "$work/sample.img"
head -c 6 "$work/sample.img" | grep -q '^VXS002$'
"$vxsc" dump "$data/sample.vxs" > "$work/text.txt"
"$vxsc" dump "$work/sample.img" > "$work/image.txt"
diff "$work/text.txt" "$work/image.txt"
grep -q 'Graphic(Layer=1:2, File="bg, night.png", x=-3, y=2.5, Hide=1)' "$work/text.txt"
grep -q 'Wait(Time=tmp\[0\])' "$work/text.txt"
"$vxsc" lint "$data/sample.vxs" > "$work/lint-sample.txt" && exit 1 || true
grep -q "sample.vxs:5:11: error: .*never evaluated" "$work/lint-sample.txt"
if "$vxsc" lint "$data/bad.vxs" > "$work/lint-bad.txt"; then
  echo "lint passed a bad script"; exit 1
fi
grep -q "bad.vxs:1:9: error: argument 'Lay=1' matches no parameter of Graphic" "$work/lint-bad.txt"
grep -q "bad.vxs:1:21: error: value 'night' compiles to nothing" "$work/lint-bad.txt"
grep -q "bad.vxs:2:1: error: unknown command 'wiat'; did you mean 'Wait'?" "$work/lint-bad.txt"
# A script saved in a Western code page reads right only when told so.
printf 'Graphic(Layer=1, File="caf\351.png")\n' > "$work/latin1.vxs"
"$vxsc" dump --codepage CP1252 "$work/latin1.vxs" > "$work/latin1.txt"
grep -q 'File="café.png"' "$work/latin1.txt"
"$vxsc" dump "$work/latin1.vxs" > "$work/latin1-default.txt"
if grep -q 'File="café.png"' "$work/latin1-default.txt"; then
  echo "the default code page read a Western byte as Western"; exit 1
fi
if "$vxsc" dump --codepage NO-SUCH-CHARSET "$work/latin1.vxs" 2> "$work/charset.txt"; then
  echo "an unknown charset was accepted"; exit 1
fi
grep -q "cannot convert the charset 'NO-SUCH-CHARSET'" "$work/charset.txt"
# A damaged image whose list holds itself twice: dump prints it within the runtime's binding
# budget (it once printed 2^32 levels).
le32() { printf "\\x%02x\\x%02x\\x%02x\\x%02x" $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
{
  printf 'VXS002\0\0'
  for w in 48 48 4 52 12 64 24 88 6 0; do printf "$(le32 $w)"; done
  printf "$(le32 0)"                                   # CommandList: element 0
  for w in 2 1 1; do printf "$(le32 $w)"; done           # ArgumentLists: 2 items, both element 1
  for w in 1 0 0 9 5 0; do printf "$(le32 $w)"; done     # Command "Wait"; List at position 0
  printf 'Wait\0\0'
} > "$work/selfref.img"
"$vxsc" dump "$work/selfref.img" > "$work/selfref.txt"
grep -q '^  0: Wait(Time=.*\.\.\.' "$work/selfref.txt"
[ "$(wc -c < "$work/selfref.txt")" -lt 2000000 ] || { echo "dump of a self-containing list too long"; exit 1; }
echo "vxsc ok"
