# plenor_add_plugin(NAME SOURCES...): a filter module (NAME.so in the plugin folder) that links
# strmbase and the module entry (strmbase_module) and exports only the COM entry points.
function(plenor_add_plugin name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${PLENOR_PLUGIN_DIR})
  target_link_libraries(${name} PRIVATE strmbase_module strmbase)
  # The entry points live in a static library: --undefined pulls them into the module.
  target_link_options(${name} PRIVATE
    -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/plugin.map -Wl,--no-undefined
    -Wl,--undefined=DllGetClassObject -Wl,--undefined=DllCanUnloadNow
    -Wl,--undefined=DllRegisterServer -Wl,--undefined=DllUnregisterServer)
endfunction()

# plenor_add_test(NAME SOURCES... [LIBS ...]): a GoogleTest binary registered with CTest.
function(plenor_add_test name)
  cmake_parse_arguments(T "" "" "LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} plenor_testmain GTest::gtest GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "PLENOR_PLUGIN_DIR=${PLENOR_PLUGIN_DIR}" LABELS "${T_LABELS}")
endfunction()

# plenor_test_folder(LIBS...): every test_*.cpp of the calling folder becomes its own test binary
# linked with LIBS (plus the shared test main and any helper sources in support_*.cpp of the
# folder); files whose name contains "threads" are labelled "threads" and also run under
# ThreadSanitizer. Every *.cmake file of the folder is included afterwards, for extras such as
# test-only modules, so that several people can add tests without editing one shared list.
function(plenor_test_folder)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  file(GLOB support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support_*.cpp)
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" prefix ${rel})
  foreach(src ${tests})
    get_filename_component(stem ${src} NAME_WE)
    set(labels "")
    if(stem MATCHES "threads")
      set(labels threads)
    endif()
    plenor_add_test(${prefix}_${stem} ${src} ${support} LIBS ${ARGN} LABELS ${labels})
  endforeach()
  file(GLOB extras CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cmake)
  foreach(extra ${extras})
    include(${extra})
  endforeach()
endfunction()
