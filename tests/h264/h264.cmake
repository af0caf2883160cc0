# The interoperability tests drive the real codec library and load the two modules and the
# utilities (pattern source, file writer) from the plugin folder.
if(TARGET h264_test_interop)
  target_sources(h264_test_interop PRIVATE ${PROJECT_SOURCE_DIR}/tests/utilities/support_utilities.cpp)
  target_link_libraries(h264_test_interop PRIVATE h264corvex kernels)
  target_compile_definitions(h264_test_interop PRIVATE PLENOR_UTILITIES_PLUGIN_DIR="${PLENOR_PLUGIN_DIR}")
  add_dependencies(h264_test_interop AvcEncodeFilter AvcDecodeFilter PlenorUtilities)
endif()
