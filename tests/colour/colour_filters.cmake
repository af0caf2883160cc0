# Tests of the two conversion filters (test_rgbtoi420*.cpp, test_i420torgb*.cpp): they drive the
# filters from their static libraries in the test harness, and load RgbToI420Filter.so,
# I420ToRgbFilter.so and PlenorUtilities.so from the plugin folder (PLENOR_PLUGIN_DIR under CTest,
# the build's plugin folder otherwise) for the graphs built through the graph manager. They share
# the utility tests' helpers for registering modules and running graphs.
file(GLOB _colour_filter_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_rgbtoi420*.cpp
     ${CMAKE_CURRENT_LIST_DIR}/test_i420torgb*.cpp)
foreach(src ${_colour_filter_tests})
  get_filename_component(stem ${src} NAME_WE)
  if(TARGET colour_${stem})
    target_sources(colour_${stem} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/colourfilter_helpers.cpp
                   ${PROJECT_SOURCE_DIR}/tests/utilities/support_utilities.cpp)
    target_link_libraries(colour_${stem} PRIVATE RgbToI420FilterCore I420ToRgbFilterCore plenor_testsupport)
    target_compile_definitions(colour_${stem} PRIVATE PLENOR_UTILITIES_PLUGIN_DIR="${PLENOR_PLUGIN_DIR}")
    add_dependencies(colour_${stem} RgbToI420Filter I420ToRgbFilter PlenorUtilities)
  endif()
endforeach()
