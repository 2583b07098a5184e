# The loader tests load the sample pre-converter plugin from the build tree.
if(TARGET test_script AND TARGET Text2vxs)
  add_dependencies(test_script Text2vxs)
endif()
