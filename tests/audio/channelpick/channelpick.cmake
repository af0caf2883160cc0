# The module tests load ChannelPickFilter.so from the plugin folder (PLENOR_PLUGIN_DIR under CTest,
# the build's plugin folder otherwise); the pipeline tests also load the utilities module.
foreach(stem test_module test_pipeline)
  if(TARGET audio_channelpick_${stem})
    target_compile_definitions(audio_channelpick_${stem} PRIVATE PLENOR_AUDIO_PLUGIN_DIR="${PLENOR_PLUGIN_DIR}")
    add_dependencies(audio_channelpick_${stem} ChannelPickFilter)
    if(TARGET PlenorUtilities)
      add_dependencies(audio_channelpick_${stem} PlenorUtilities)
    endif()
  endif()
endforeach()
