#!/usr/bin/env bash
# Draws the demo's pictures with ImageMagick into a staging folder. Everything the demo shows is
# made here, so the repository carries no binary art.
set -eu
out=$1
mkdir -p "$out/bg" "$out/chara" "$out/system"
im() { convert "$@"; }

# Only redraw when this script changed (the build calls it on every demo run).
stamp="$out/.assets-stamp"
if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ]; then exit 0; fi

# Backgrounds: a daytime sky over a meadow, and the same place in the evening.
im -size 1280x720 gradient:'#6fb6ff'-'#d8f0ff' \
   \( -size 1280x260 gradient:'#5fae4f'-'#2f6e2a' \) -gravity south -composite \
   -fill '#fff6b0' -draw 'circle 1050,140 1050,200' "$out/bg/day.png"
im -size 1280x720 gradient:'#2b1d4f'-'#ff8c5a' \
   \( -size 1280x260 gradient:'#3d4f2a'-'#1c2614' \) -gravity south -composite \
   -fill '#ffd27a' -draw 'circle 240,520 240,560' "$out/bg/evening.png"

# Two characters: simple figures with distinct colours.
figure() {  # name body head
  im -size 300x500 xc:none \
     -fill "$2" -draw 'roundrectangle 60,200 240,500 40,40' \
     -fill "$3" -draw 'circle 150,120 150,40' \
     -fill '#222222' -draw 'circle 120,110 120,100' -draw 'circle 180,110 180,100' \
     "$out/chara/$1.png"
}
figure aoi '#3a6fd8' '#ffe0c4'
figure ren '#d84a3a' '#f4d2b0'

# Message window: translucent dark panel with a light border.
im -size 1200x220 xc:none -fill '#101830c0' -stroke '#c8d8ff' -strokewidth 3 \
   -draw 'roundrectangle 2,2 1197,217 24,24' "$out/system/window.png"
# The message text box: transparent; its size is the area the text fills inside the window.
im -size 1080x170 xc:none "$out/system/textbox.png"
# A small star used by the looping idle animation.
im -size 64x64 xc:none -fill '#fff28a' -draw 'polygon 32,2 40,24 62,24 44,38 52,62 32,48 12,62 20,38 2,24 24,24' \
   "$out/system/star.png"
# The backlog panel that system\History.vxs shows: a dark sheet with ruled lines standing for
# the past messages.
im -size 1100x600 xc:none -fill '#0c1020e0' -stroke '#c8d8ff' -strokewidth 3 \
   -draw 'roundrectangle 2,2 1097,597 24,24' -stroke none -fill '#8fa4d8' \
   -draw 'rectangle 60,80 900,96' -draw 'rectangle 60,140 1000,156' \
   -draw 'rectangle 60,240 760,256' -draw 'rectangle 60,300 980,316' \
   -draw 'rectangle 60,400 840,416' -draw 'rectangle 60,460 620,476' \
   "$out/system/history.png"
touch "$stamp"
