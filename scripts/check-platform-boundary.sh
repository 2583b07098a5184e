#!/usr/bin/env bash
# Fails when engine code outside src/platform includes a platform library header directly.
set -u
root=${1:-.}
hits=$(grep -rnE '#\s*include\s*[<"](SDL|GL/|GLES|EGL/|ft2build|freetype|fontconfig|libav|libsw|iconv|dlfcn|vorbis)' \
  "$root/src" --include='*.h' --include='*.cpp' | grep -v "^$root/src/platform/" || true)
if [ -n "$hits" ]; then
  echo "platform headers included outside src/platform:"
  echo "$hits"
  exit 1
fi
echo "platform boundary ok"
