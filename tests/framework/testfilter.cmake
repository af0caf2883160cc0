# The test module PlenorFrameworkTest.so (the inverter filter and its page, registered by the
# tests that drive it through the runtime) and the inverter sources for the test binaries that
# use the filter directly.
set(PLENOR_FRAMEWORK_TEST_PLUGIN_DIR ${CMAKE_BINARY_DIR}/testplugins)
plenor_add_plugin(PlenorFrameworkTest ${CMAKE_CURRENT_LIST_DIR}/testfilter/inverter.cpp
                  ${CMAKE_CURRENT_LIST_DIR}/testfilter/module.cpp)
set_target_properties(PlenorFrameworkTest PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${PLENOR_FRAMEWORK_TEST_PLUGIN_DIR})
target_link_libraries(PlenorFrameworkTest PRIVATE framework)

foreach(stem test_custombase test_pages)
  if(TARGET framework_${stem})
    target_sources(framework_${stem} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/testfilter/inverter.cpp)
    target_compile_definitions(framework_${stem} PRIVATE
      PLENOR_FRAMEWORK_TEST_MODULE="${PLENOR_FRAMEWORK_TEST_PLUGIN_DIR}/PlenorFrameworkTest.so")
    add_dependencies(framework_${stem} PlenorFrameworkTest)
  endif()
endforeach()
