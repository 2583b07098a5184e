#!/usr/bin/env bash
# vxsc lint --game on a folder whose pack, picture and script names are FIFOs: it ends at once,
# reports them as missing and names the pack that cannot be read.
set -u
vxsc=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkfifo data01.vxc pic.png Sub.vxs
ln -s pic.png link.png
printf 'Graphic(Layer=1, File="pic.png")\nGraphic(Layer=2, File="link.png")\nScriptCall(File="Sub.vxs")\n' >Start.vxs
out=$(timeout 20 "$vxsc" lint --game . Start.vxs 2>&1)
code=$?
status=0
[ $code -eq 1 ] || { echo "exit code $code, want 1 (missing files)"; status=1; }
for want in 'picture "pic.png" exists neither' 'picture "link.png" exists neither' \
  'script "Sub.vxs" exists neither' 'data01.vxc: pack cannot be read: not a regular file'; do
  case "$out" in *"$want"*) ;; *) echo "missing: $want"; status=1 ;; esac
done
[ $status -eq 0 ] && echo "lint on special files ok" || echo "$out"
exit $status
