# Tests of the H.264 file source and its unit reader. The filter tests drive the classes
# (AvcFileSourceCore) and load AvcFileSource.so, RawFrameSource.so (the shared source test
# helpers register it) and PlenorUtilities.so (its sample grabber) from the plugin folder; streams
# come from the suite's codec library and from ffmpeg.
if(TARGET sources_test_nalunitreader)
  target_link_libraries(sources_test_nalunitreader PRIVATE NalUnitReader)
endif()
foreach(stem test_avcfile_filter test_avcfile_threads test_avcfile_pipeline)
  if(TARGET sources_${stem})
    target_sources(sources_${stem} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/avcfile_support.cpp
      ${CMAKE_CURRENT_LIST_DIR}/rawframe_support.cpp ${PROJECT_SOURCE_DIR}/tests/corvex/support_corvex.cpp)
    target_link_libraries(sources_${stem} PRIVATE AvcFileSourceCore RawFrameSourceCore corvexstream)
    target_compile_definitions(sources_${stem} PRIVATE
      PLENOR_AVCFILE_MODULE="$<TARGET_FILE:AvcFileSource>"
      PLENOR_RAWFRAME_MODULE="$<TARGET_FILE:RawFrameSource>"
      PLENOR_UTILITIES_MODULE="$<TARGET_FILE:PlenorUtilities>")
    add_dependencies(sources_${stem} AvcFileSource RawFrameSource PlenorUtilities)
  endif()
endforeach()
# The pipelines also play through the suite's decoder and compare with the colour converter.
if(TARGET sources_test_avcfile_pipeline)
  target_link_libraries(sources_test_avcfile_pipeline PRIVATE kernels)
  target_compile_definitions(sources_test_avcfile_pipeline PRIVATE
    PLENOR_AVCDECODE_MODULE="$<TARGET_FILE:AvcDecodeFilter>")
  add_dependencies(sources_test_avcfile_pipeline AvcDecodeFilter)
endif()
