# Whole-runtime movie tests: clips made by the ffmpeg command line at build time (see
# make_test_movies.sh) play in test games under tests/e2e/games/movie_*; screenshots at given
# times must show the picture that belongs to that time, and the captured sound the movie's.
set(VAXO2_TEST_MOVIES ${CMAKE_CURRENT_BINARY_DIR}/movies)
add_custom_command(OUTPUT ${VAXO2_TEST_MOVIES}/.stamp
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/make_test_movies.sh ${VAXO2_TEST_MOVIES}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/make_test_movies.sh
  COMMENT "Making the test movie clips"
  VERBATIM)
add_custom_target(test_movies ALL DEPENDS ${VAXO2_TEST_MOVIES}/.stamp)
# The decoder and player tests read the clips too.
add_dependencies(test_platform test_movies)
add_dependencies(test_graphics test_movies)
target_compile_definitions(test_platform PRIVATE VAXO2_TEST_MOVIES="${VAXO2_TEST_MOVIES}")
target_compile_definitions(test_graphics PRIVATE VAXO2_TEST_MOVIES="${VAXO2_TEST_MOVIES}")

add_executable(movie_probe ${CMAKE_CURRENT_LIST_DIR}/movie_probe.cpp)
target_link_libraries(movie_probe PRIVATE vaxo2_platform)

# add_movie_test(NAME EXIT_AFTER_MS CHECK... [audio CHECK...])
function(add_movie_test name exit_after)
  add_test(NAME e2e_${name}
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/run_movie.sh $<TARGET_FILE:vaxo2> $<TARGET_FILE:movie_probe>
            $<TARGET_FILE:audio_tool> $<TARGET_FILE:make_test_images> ${VAXO2_TEST_MOVIES}
            ${CMAKE_CURRENT_LIST_DIR}/games/${name} ${CMAKE_CURRENT_BINARY_DIR}/e2e/${name}
            ${exit_after} ${ARGN})
  set_tests_properties(e2e_${name} PROPERTIES TIMEOUT 120 LABELS e2e)
endfunction()

# The counting clip in four formats, started at 544 ms: picture k of the others at 40k ms, of the
# WMV (whose pictures start 46 ms into its stream and whose sound times it) at 40k + 46 ms.
# Times are picked inside every clip's picture, away from the changes.
add_movie_test(movie_timing 2500
  frame 400 160 360 -1  frame 400 480 360 -1  frame 400 800 360 -1  frame 400 1120 360 -1
  frame 608 160 360 1   frame 608 480 360 0   frame 608 800 360 1   frame 608 1120 360 1
  frame 768 160 360 5   frame 768 480 360 4   frame 768 800 360 5   frame 768 1120 360 5
  frame 1248 160 360 17 frame 1248 480 360 16 frame 1248 800 360 17 frame 1248 1120 360 17
  frame 1648 160 360 27 frame 1648 480 360 26 frame 1648 800 360 27 frame 1648 1120 360 27
  frame 2048 160 360 37 frame 2048 480 360 36 frame 2048 800 360 37 frame 2048 1120 360 37
  frame 2128 160 360 39 frame 2128 480 360 38 frame 2128 800 360 39 frame 2128 1120 360 39
  colour 2128 660 160 120 40 40 4
  frame 2400 160 360 39 frame 2400 480 360 39 frame 2400 800 360 39 frame 2400 1120 360 39
  colour 2400 660 160 255 255 255 4)
# Play from 48 ms; pause at 608 (picture 14 holds); play on at 1136; stop at 1440 (picture 22
# stays); play again from the start at 1760, to its end at 3360. The clip only paused shows
# its first picture throughout.
add_movie_test(movie_control 3800
  frame 432 440 360 9   frame 432 840 360 0
  frame 800 440 360 14  frame 1100 440 360 14
  frame 1296 440 360 18
  frame 1600 440 360 22 frame 1600 840 360 0
  frame 1776 440 360 0  frame 2496 440 360 18
  frame 3400 440 360 39 colour 3400 660 160 120 40 40 4
  frame 3700 440 360 39 colour 3700 660 160 255 255 255 4 frame 3700 840 360 0)
# 333x211 centred: columns 473..805 and rows 255..465 are the clip's, up to the last ones.
add_movie_test(movie_odd 1400
  pixel 300 473 255 240 128 32 16  pixel 300 805 465 240 128 32 16
  pixel 300 640 255 240 128 32 16  pixel 300 640 465 240 128 32 16
  pixel 300 473 360 240 128 32 16  pixel 300 805 360 240 128 32 16
  pixel 300 472 255 40 120 40 2    pixel 300 806 465 120 40 40 2
  pixel 300 640 254 120 40 40 2    pixel 300 640 466 120 40 40 2
  pixel 1200 473 255 240 128 32 16 pixel 1200 805 465 240 128 32 16
  pixel 1200 472 360 40 120 40 2   pixel 1200 806 360 120 40 40 2)
# Bad movies: the truncated clip stops at its last good picture (21) and its GraphicWait ends at
# once after; the empty, text and missing files leave the background; the damaged clip plays
# on to its last picture.
add_movie_test(movie_bad 2200
  frame 500 160 360 11
  colour 500 800 360 120 40 40 4  colour 500 1120 360 120 120 40 4  colour 500 660 160 120 40 40 4
  colour 900 660 610 120 40 40 4
  frame 1100 160 360 21 colour 1100 660 610 255 255 255 4 colour 1100 840 610 120 40 40 4
  frame 2000 160 360 21 frame 2000 480 360 39
  colour 2000 800 360 120 40 40 4 colour 2000 1120 360 120 120 40 4 colour 2000 660 160 120 40 40 4
  colour 2000 840 610 255 255 255 4)
# Sound: silence, the clip's 1 kHz tone (0.5 of full scale) at -10 dB for one second from the
# play at 544 ms, silence after it; black before the first picture, the clip's colour while it
# plays.
add_movie_test(movie_sound 2500
  colour 400 640 360 0 0 0 2  colour 1000 640 360 32 64 96 6  colour 2000 660 160 255 255 255 4
  audio silent 0 520  rms 600 1500 0.11180 0.03  freq 600 1500 1000 5  silent 1600 2400)
