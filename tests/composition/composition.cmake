# Kernel tests use the colour tests' guarded buffers and CPU variants; the module and pipeline
# tests load InsetVideoFilter.so, TileMixFilter.so and PlenorUtilities.so from the plugin folder
# (PLENOR_PLUGIN_DIR under CTest, the build's plugin folder otherwise).
file(GLOB _composition_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_*.cpp)
foreach(src ${_composition_tests})
  get_filename_component(stem ${src} NAME_WE)
  if(TARGET composition_${stem})
    target_sources(composition_${stem} PRIVATE ${PROJECT_SOURCE_DIR}/tests/colour/support_colour.cpp
                   ${PROJECT_SOURCE_DIR}/tests/utilities/support_utilities.cpp)
    target_compile_definitions(composition_${stem} PRIVATE PLENOR_UTILITIES_PLUGIN_DIR="${PLENOR_PLUGIN_DIR}")
    add_dependencies(composition_${stem} InsetVideoFilter TileMixFilter PlenorUtilities)
  endif()
endforeach()
