# Tests of the H.264 file source and its unit reader.
if(TARGET sources_test_nalunitreader)
  target_link_libraries(sources_test_nalunitreader PRIVATE NalUnitReader)
endif()
