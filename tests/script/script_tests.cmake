# The loader tests load the sample pre-converter plugin from the build tree.
if(TARGET test_script AND TARGET Text2vxs)
  add_dependencies(test_script Text2vxs)
endif()

if(TARGET vxsc)
  add_test(NAME vxsc_tool
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/vxsc_check.sh $<TARGET_FILE:vxsc>
            ${CMAKE_CURRENT_LIST_DIR}/data ${CMAKE_CURRENT_BINARY_DIR}/vxsc_check)
  # Every script of the demo game lints clean.
  add_test(NAME vxsc_lint_demo
    COMMAND sh -c "find '${CMAKE_SOURCE_DIR}/demo/game' -name '*.vxs' -print0 | xargs -0 -r '$<TARGET_FILE:vxsc>' lint"
    VERBATIM)
endif()
