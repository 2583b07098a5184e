# Whole-runtime sound tests: games under tests/e2e/games/sound_* run headless on the stepped clock
# with --audio-out; the capture is measured (levels, silence, pitch) and must be the same in two
# runs.
add_executable(audio_tool ${CMAKE_CURRENT_LIST_DIR}/audio_tool.cpp)

# add_audio_test(NAME EXIT_AFTER_MS CHECK...)
function(add_audio_test name exit_after)
  add_test(NAME e2e_${name}
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/run_audio.sh $<TARGET_FILE:vaxo2> $<TARGET_FILE:audio_tool>
            ${CMAKE_CURRENT_LIST_DIR}/games/${name} ${CMAKE_CURRENT_BINARY_DIR}/e2e/${name}
            ${exit_after} - ${ARGN})
  set_tests_properties(e2e_${name} PROPERTIES TIMEOUT 120 LABELS e2e)
endfunction()

# RMS of the 0.5 test tone: 0.35355. Gains: 0.5 -> -752 (0.42073), 250 -> -1505 (0.17642).
# The one-second fade starts near 2560 ms; its volume falls by a tenth per update, so the
# windows at 2870, 3094 and 3318 ms lie within one update of 690, 466 and 242 thousandths.
add_audio_test(sound_levels 5200
  rms 300 900 0.14875 0.01
  rms 1300 1900 0.06237 0.01
  rms 2300 2550 0.35355 0.01
  between 2842 2898 0.17 0.27
  between 3066 3122 0.09 0.17
  between 3290 3346 0.02 0.09
  silent 3600 3950
  rms 4300 4900 0.35355 0.01)
add_audio_test(sound_loops 5000
  rms 50 250 0.35355 0.01
  silent 400 950
  rms 1100 2400 0.35355 0.01
  freq 1100 2400 500 0.5
  silent 2550 2580
  freq 2700 3050 300 0.5
  rms 2700 3050 0.17678 0.01
  freq 3200 4900 600 0.5
  rms 3200 4900 0.35355 0.01)
add_audio_test(sound_voice 2000
  freq 150 550 440 0.5
  rms 150 550 0.35355 0.01
  silent 900 1900)
