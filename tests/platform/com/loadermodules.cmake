# Test-only modules of the class loader tests: one with a countable class, one plain library.
# Built next to the test binaries' own folder, never into the plugin folder.
set(PLENOR_COM_TEST_MODULE_DIR ${CMAKE_BINARY_DIR}/testplugins/com)
foreach(module PlenorLoaderTestModule PlenorPlainTestModule)
  if(module STREQUAL PlenorLoaderTestModule)
    add_library(${module} MODULE ${CMAKE_CURRENT_LIST_DIR}/modules/loadermodule.cpp)
    target_link_libraries(${module} PRIVATE plenorrt)
  else()
    add_library(${module} MODULE ${CMAKE_CURRENT_LIST_DIR}/modules/plainmodule.cpp)
  endif()
  set_target_properties(${module} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${PLENOR_COM_TEST_MODULE_DIR})
  target_include_directories(${module} PRIVATE ${PROJECT_SOURCE_DIR})
endforeach()

file(GLOB com_loader_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_classload*.cpp)
foreach(src ${com_loader_tests})
  get_filename_component(stem ${src} NAME_WE)
  target_compile_definitions(platform_com_${stem} PRIVATE
    PLENOR_LOADER_TEST_MODULE="$<TARGET_FILE:PlenorLoaderTestModule>"
    PLENOR_PLAIN_TEST_MODULE="$<TARGET_FILE:PlenorPlainTestModule>")
  add_dependencies(platform_com_${stem} PlenorLoaderTestModule PlenorPlainTestModule)
endforeach()
