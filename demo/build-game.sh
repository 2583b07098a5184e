#!/usr/bin/env bash
# Assembles the demo game folder: draws the pictures, makes the sounds and the movie, lints the
# scripts, and packs everything.
# usage: build-game.sh DEMO_SRC STAGE GAME PACK_TOOL|none LINT_TOOL|none
set -eu
src=$1 stage=$2 game=$3 pack=$4 lint=$5
mkdir -p "$stage" "$game"
"$src/make-assets.sh" "$stage/art"
"$src/make-sounds.sh" "$stage/sound"
"$src/make-movies.sh" "$stage/movie"

# Stage: pictures and scripts together, with the folder layout the scripts name.
rm -rf "$stage/data01" "$stage/data02"
mkdir -p "$stage/data01" "$stage/data02"
cp -r "$stage/art/." "$stage/data01/"
cp -r "$stage/sound/." "$stage/data01/"
cp -r "$stage/movie/." "$stage/data01/"
cp -r "$src/game/." "$stage/data01/"
rm -f "$stage/data01/.assets-stamp" "$stage/data01/.sounds-stamp" "$stage/data01/.movies-stamp"

if [ "$lint" != none ]; then
  find "$src/game" -name '*.vxs' -print0 | xargs -0 "$lint" lint --game "$stage/data01"
fi

rm -f "$game"/data0?.vxc
if [ "$pack" != none ]; then
  "$pack" create "$game/data01.vxc" "$stage/data01" >/dev/null
  # data02 is searched before data01: it carries a replacement evening picture to show that a
  # later pack overrides an earlier one.
  mkdir -p "$stage/data02/bg"
  convert "$stage/art/bg/evening.png" -modulate 100,130,100 "$stage/data02/bg/evening.png"
  "$pack" create "$game/data02.vxc" "$stage/data02" >/dev/null
  # Loose copies would shadow nothing (packs come first) but would hide packing mistakes.
  find "$game" -mindepth 1 -maxdepth 1 ! -name 'data0?.vxc' ! -name save -exec rm -rf {} +
else
  # No pack tool yet: the runtime reads loose files.
  cp -r "$stage/data01/." "$game/"
fi
echo "demo game ready in $game"
