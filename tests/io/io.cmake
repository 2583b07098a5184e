# The pack tool: create, list, extract and append round-trip a folder byte for byte.
if(TARGET vxcpack)
  add_test(NAME io_vxcpack_roundtrip
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/vxcpack_roundtrip.sh $<TARGET_FILE:vxcpack>)
endif()
