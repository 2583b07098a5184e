# The pack tool: create, list, extract and append round-trip a folder byte for byte.
if(TARGET vxcpack)
  add_test(NAME io_vxcpack_roundtrip
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/vxcpack_roundtrip.sh $<TARGET_FILE:vxcpack>)
endif()
# Symlinks, special files and names that collide, in create and extract; escaped listings.
if(TARGET vxcpack)
  add_test(NAME io_vxcpack_links
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/vxcpack_links.sh $<TARGET_FILE:vxcpack>)
  set_tests_properties(io_vxcpack_links PROPERTIES TIMEOUT 60)
endif()
# A game folder whose pack, picture and script names are FIFOs: lint ends and calls them missing.
if(TARGET vxsc)
  add_test(NAME io_lint_special_files
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/lint_special_files.sh $<TARGET_FILE:vxsc>)
  set_tests_properties(io_lint_special_files PROPERTIES TIMEOUT 60)
endif()
