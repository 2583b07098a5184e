# Whole-runtime tests: small games under tests/e2e/games run headless on the stepped clock, and
# their screenshots are compared with tests/golden. Set VAXO2_UPDATE_GOLDEN=1 in the
# environment to write new golden pictures instead of comparing.
add_executable(golden_compare ${CMAKE_CURRENT_LIST_DIR}/golden_compare.cpp)
target_link_libraries(golden_compare PRIVATE vaxo2_platform)
add_executable(make_test_images ${CMAKE_CURRENT_LIST_DIR}/make_test_images.cpp)
target_link_libraries(make_test_images PRIVATE vaxo2_platform)

# add_golden_test(NAME GAME EXIT_AFTER_MS SHOT_MS... [SIZE WxH])
function(add_golden_test name game exit_after)
  cmake_parse_arguments(G "" "SIZE" "" ${ARGN})
  set(size_arg "-")
  if(G_SIZE)
    set(size_arg ${G_SIZE})
  endif()
  add_test(NAME e2e_${name}
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/run_golden.sh
            $<TARGET_FILE:vaxo2> $<TARGET_FILE:golden_compare> $<TARGET_FILE:make_test_images>
            ${CMAKE_CURRENT_LIST_DIR}/games/${game} ${CMAKE_CURRENT_LIST_DIR}/../golden
            ${CMAKE_CURRENT_BINARY_DIR}/e2e/${name} ${name} ${exit_after} ${size_arg}
            ${G_UNPARSED_ARGUMENTS})
  set_tests_properties(e2e_${name} PROPERTIES TIMEOUT 120 LABELS e2e)
endfunction()

# name, game, exit time, screenshot times
add_golden_test(draw_order draw_order 400 200)
add_golden_test(stencil stencil 400 200)
add_golden_test(centre centre 400 200)
add_golden_test(slot_move slot_move 1600 32 288 1200)
add_golden_test(roll roll 400 200)
add_golden_test(transmittance transmittance 400 200)
add_golden_test(transition transition 2400 400 1056 1600)
add_golden_test(letterbox letterbox 400 200 SIZE 1024x768)
# Games with an input.txt: the waits against clicks, keys, wheel, Ctrl and the history script.
add_golden_test(input_waits input_waits 5800 2800 3400 3700 4500 4900 5600)
add_golden_test(letterbox_click letterbox_click 500 200 400 SIZE 2560x1080)

# Two copies from one folder: the second says so and exits 0; a copy from another folder runs.
add_test(NAME e2e_single_instance
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/single_instance.sh $<TARGET_FILE:vaxo2>
          ${CMAKE_CURRENT_LIST_DIR}/games/long_wait ${CMAKE_CURRENT_BINARY_DIR}/e2e/single)
set_tests_properties(e2e_single_instance PROPERTIES TIMEOUT 60 LABELS e2e)

# Message text with the installed Japanese face: a page that appears character by character
# (half-way and complete) and picture character sets of both kinds.
add_golden_test(text_page text_page 4600 1200 4400)
add_golden_test(text_charset text_charset 400 200)
# The scene tree as JSON: the layout of the text page, read back by a script.
find_program(PYTHON3 python3)
if(PYTHON3)
  add_test(NAME e2e_tree_dump
    COMMAND ${PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/check_tree_dump.py $<TARGET_FILE:vaxo2>
            $<TARGET_FILE:make_test_images> ${CMAKE_CURRENT_LIST_DIR}/games/text_page
            ${CMAKE_CURRENT_BINARY_DIR}/e2e/tree_dump)
  set_tests_properties(e2e_tree_dump PROPERTIES TIMEOUT 120 LABELS e2e)
endif()
# Closing during a KeyWait on the real clock; input scripts with unknown names.
add_test(NAME e2e_input_checks
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/input_checks.sh $<TARGET_FILE:vaxo2>
          $<TARGET_FILE:make_test_images> ${CMAKE_CURRENT_LIST_DIR}/games/key_wait
          ${CMAKE_CURRENT_BINARY_DIR}/e2e/input_checks)
set_tests_properties(e2e_input_checks PROPERTIES TIMEOUT 60 LABELS e2e)

# Every wait ends within a frame of a close on the real clock; SIGHUP/SIGQUIT shut down in order.
add_test(NAME e2e_stop_waits
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/stop_waits.sh $<TARGET_FILE:vaxo2>
          ${CMAKE_CURRENT_BINARY_DIR}/e2e/stop_waits)
set_tests_properties(e2e_stop_waits PROPERTIES TIMEOUT 180 LABELS e2e)

# Damaged pictures, endless recursion and a script that loops without waiting: each said once,
# and the run ends at its time.
add_test(NAME e2e_hostile_data
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/hostile_game.sh $<TARGET_FILE:vaxo2>
          ${CMAKE_CURRENT_LIST_DIR}/games/hostile_data ${CMAKE_CURRENT_BINARY_DIR}/e2e/hostile_data)
set_tests_properties(e2e_hostile_data PROPERTIES TIMEOUT 150 LABELS e2e)
