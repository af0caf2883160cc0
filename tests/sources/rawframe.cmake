# Tests of the raw YUV source: they drive the filter classes directly (RawFrameSourceCore) and
# load RawFrameSource.so and PlenorUtilities.so (its sample grabber) from the plugin folder for
# the pipelines and the page.
if(TARGET sources_test_yuvfilename)
  target_link_libraries(sources_test_yuvfilename PRIVATE RawFrameSourceCore)
endif()
foreach(stem test_rawframe_filter test_rawframe_pipeline test_rawframe_threads test_yuvproperties)
  if(TARGET sources_${stem})
    target_sources(sources_${stem} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/rawframe_support.cpp)
    target_link_libraries(sources_${stem} PRIVATE RawFrameSourceCore)
    target_compile_definitions(sources_${stem} PRIVATE
      PLENOR_RAWFRAME_MODULE="$<TARGET_FILE:RawFrameSource>"
      PLENOR_UTILITIES_MODULE="$<TARGET_FILE:PlenorUtilities>")
    add_dependencies(sources_${stem} RawFrameSource PlenorUtilities)
  endif()
endforeach()
