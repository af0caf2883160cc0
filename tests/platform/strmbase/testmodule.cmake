# Test-only filter modules: PlenorTestModule.so and PlenorTestModule2.so .. PlenorTestModule4.so,
# one source built with a different module index. They go to their own folder (not the plugin
# folder) so that "plenor register" without arguments never registers them.
set(PLENOR_TEST_PLUGIN_DIR ${CMAKE_BINARY_DIR}/testplugins CACHE INTERNAL "Folder of the test-only modules")
set(modules "")
foreach(i 1 2 3 4)
  if(i EQUAL 1)
    set(module PlenorTestModule)
  else()
    set(module PlenorTestModule${i})
  endif()
  plenor_add_plugin(${module} ${CMAKE_CURRENT_LIST_DIR}/testmodule/testmodule.cpp)
  set_target_properties(${module} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${PLENOR_TEST_PLUGIN_DIR})
  target_include_directories(${module} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${module} PRIVATE PLENOR_TEST_MODULE_INDEX=${i})
  list(APPEND modules ${module})
endforeach()
set(PLENOR_TEST_MODULES ${modules} CACHE INTERNAL "")

# plenor_use_test_modules(TARGET): the test binary finds the modules through
# PLENOR_TEST_PLUGIN_DIR (testmodule.h's TestModulePath) and is built after them.
function(plenor_use_test_modules target)
  target_compile_definitions(${target} PRIVATE PLENOR_TEST_PLUGIN_DIR="${PLENOR_TEST_PLUGIN_DIR}")
  add_dependencies(${target} ${PLENOR_TEST_MODULES})
endfunction()

file(GLOB strmbase_module_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_dll*.cpp)
foreach(src ${strmbase_module_tests})
  get_filename_component(stem ${src} NAME_WE)
  plenor_use_test_modules(platform_strmbase_${stem})
endforeach()
