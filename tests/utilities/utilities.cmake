# Pipeline tests load PlenorUtilities.so from the plugin folder (PLENOR_PLUGIN_DIR under CTest;
# the build's own folder otherwise).
file(GLOB _utility_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_*.cpp)
foreach(src ${_utility_tests})
  get_filename_component(stem ${src} NAME_WE)
  if(TARGET utilities_${stem})
    target_compile_definitions(utilities_${stem} PRIVATE PLENOR_UTILITIES_PLUGIN_DIR="${PLENOR_PLUGIN_DIR}")
    add_dependencies(utilities_${stem} PlenorUtilities)
  endif()
endforeach()
