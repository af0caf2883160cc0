# The command-line tests run the built plenor binary against the test-only modules and the real
# plugin modules.
file(GLOB host_cli_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/test_cli*.cpp)
foreach(src ${host_cli_tests})
  get_filename_component(stem ${src} NAME_WE)
  set(target host_${stem})
  target_compile_definitions(${target} PRIVATE
    PLENOR_CLI_PATH="$<TARGET_FILE:plenor>"
    PLENOR_RUNTIME_PATH="$<TARGET_FILE:plenorrt>"
    PLENOR_BUILT_PLUGIN_DIR="${PLENOR_PLUGIN_DIR}")
  add_dependencies(${target} plenor)
  foreach(plugin PlenorUtilities ChannelPickFilter FrameDropFilter TimeShiftFilter RawFrameSource
                 AvcEncodeFilter AvcDecodeFilter AvcFileSource
                 I420ToRgbFilter RgbToI420Filter InsetVideoFilter TileMixFilter OverlayKitFilter RateOverlayFilter)
    if(TARGET ${plugin})
      add_dependencies(${target} ${plugin})
    endif()
  endforeach()
  plenor_use_test_modules(${target})
endforeach()
# The pipeline parser is the host's own code: its test compiles it in.
if(TARGET host_test_cli_parse)
  target_sources(host_test_cli_parse PRIVATE ${PROJECT_SOURCE_DIR}/host/pipeline.cpp)
endif()
