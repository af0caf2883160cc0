# The command-line tests run the built plenor binary against the test-only modules.
file(GLOB host_cli_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_cli*.cpp)
foreach(src ${host_cli_tests})
  get_filename_component(stem ${src} NAME_WE)
  set(target host_${stem})
  target_compile_definitions(${target} PRIVATE
    PLENOR_CLI_PATH="$<TARGET_FILE:plenor>"
    PLENOR_RUNTIME_PATH="$<TARGET_FILE:plenorrt>")
  add_dependencies(${target} plenor)
  plenor_use_test_modules(${target})
endforeach()
