#!/usr/bin/env python3
"""Runs the text_page game with --dump-tree and checks the layout it reports.

usage: check_tree_dump.py VAXO2 MAKE_IMAGES GAME_SRC WORK
"""
import json
import os
import shutil
import subprocess
import sys

vaxo2, make_images, src, work = sys.argv[1:5]
shutil.rmtree(work, ignore_errors=True)
shutil.copytree(src, os.path.join(work, "game"))
subprocess.run([make_images, os.path.join(work, "game")], check=True)
early, late = os.path.join(work, "early.json"), os.path.join(work, "late.json")
env = dict(os.environ, SDL_AUDIODRIVER="dummy",
           ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
subprocess.run([vaxo2, "--game", os.path.join(work, "game"), "--headless", "--stepped",
                "--exit-after", "4600", "--dump-tree", "1200:" + early,
                "--dump-tree", "4400:" + late], check=True, env=env)

failures = []
checks = 0


def check(condition, what):
    global checks
    checks += 1
    if not condition:
        failures.append(what)


def message(dump):
    objects = {tuple(o["path"]): o for o in dump["screen"]}
    check(set(objects) == {(0,), (100,)}, "top-level objects are layers 0 and 100")
    return objects[(0,)], objects[(100,)]


with open(early, encoding="utf-8") as f:
    first = json.load(f)
with open(late, encoding="utf-8") as f:
    last = json.load(f)

for dump, at in ((first, 1200), (last, 4400)):
    check(dump["time"] >= at and dump["time"] < at + 17, "time %d near %d" % (dump["time"], at))
    check(dump["transition"] == [], "no transition")

background, window = message(last)
check(background["kind"] == "image" and background["file"] == "bands.png", "background source")
check(background["stencilAction"] == 1, "background stencil action")
check(window["y"] == -200 and window["x"] == 0, "window placed at y -200")
check([s["no"] for s in window["slots"]] == [0] and window["slots"][0]["done"], "window slot 0")

text = window["text"]
glyphs = window["glyphs"]
check(text["lineIndent"] == 30, "a page that opens with a quotation indents")
check(text["glyphCount"] == len(glyphs), "glyphCount counts every glyph")
check(text["drawnText"].startswith("「朝の駅") and text["drawnText"].endswith("A golden line."),
      "drawnText holds the requests")
check(all(g["visible"] for g in glyphs), "every glyph shown at the end")
base = [g for g in glyphs if not g["ruby"]]
last_line = len("A golden line.")
check(text["appearDelay"] == 20 * (len(base) - last_line) + 40 * last_line,
      "appearance delay: 20 ms a base glyph, 40 ms with NoWait 2; ruby adds none")

# The quotation wraps; its continuation line starts 30 pixels further in.
top = glyphs[0]
check(top["char"] == "「" and top["font"] == 0, "first glyph")
second_line = next(g for g in glyphs if g["y"] < top["y"])
check(second_line["x"] - second_line["width"] // 2 == top["x"] - top["width"] // 2 + 30,
      "continuation line indented by 30")
check(top["y"] - second_line["y"] == 50, "line pitch is the font size + 20")

ruby = [g for g in glyphs if g["ruby"]]
check([g["char"] for g in ruby] == list("ゆきぐに") and all(g["font"] == 1 for g in ruby),
      "ruby in font 1")
check(any(g["char"] == "★" for g in glyphs), "@u+(9733) places a star")
check([g["font"] for g in glyphs if g["char"] in "ルビ" and not g["ruby"]] == [1, 1],
      "@f(1) changes the font")
golden = [g for g in glyphs if g["color"] == 0xFFD040]
check("".join(g["char"] for g in golden) == "A golden line.", "SystemTextColor colours the last line")

_, early_window = message(first)
shown = [g["visible"] for g in early_window["glyphs"]]
check(any(shown) and not all(shown), "half-way through the appearance")
check(shown == sorted(shown, reverse=True), "glyphs appear in order")

for failure in failures:
    print("FAILED:", failure)
print("%d passed, %d failed" % (checks - len(failures), len(failures)))
sys.exit(1 if failures else 0)
