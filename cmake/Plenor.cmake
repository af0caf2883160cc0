# plenor_add_plugin(NAME SOURCES...): a filter module (NAME.so in the plugin folder) that links
# strmbase and exports only the COM entry points.
function(plenor_add_plugin name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${PLENOR_PLUGIN_DIR})
  target_link_libraries(${name} PRIVATE strmbase)
  target_link_options(${name} PRIVATE
    -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/plugin.map -Wl,--no-undefined)
endfunction()

# plenor_add_test(NAME SOURCES... [LIBS ...]): a GoogleTest binary registered with CTest.
function(plenor_add_test name)
  cmake_parse_arguments(T "" "" "LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} plenor_testmain GTest::gtest GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "PLENOR_PLUGIN_DIR=${PLENOR_PLUGIN_DIR}" LABELS "${T_LABELS}")
endfunction()
