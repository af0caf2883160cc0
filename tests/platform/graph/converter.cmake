# Test-only plugin module for the graph tests: a registered RGB32 -> RGB24 converter that Connect
# inserts through the filter mapper. Built beside the other test-only modules, never into the
# plugin folder.
plenor_add_plugin(PlenorGraphTestConverter ${CMAKE_CURRENT_LIST_DIR}/converter/converter.cpp)
set_target_properties(PlenorGraphTestConverter PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testplugins)
target_include_directories(PlenorGraphTestConverter PRIVATE ${PROJECT_SOURCE_DIR})
foreach(t platform_graph_test_graph_intermediate)
  if(TARGET ${t})
    target_compile_definitions(${t} PRIVATE PLENOR_GRAPH_CONVERTER_PATH="$<TARGET_FILE:PlenorGraphTestConverter>")
    add_dependencies(${t} PlenorGraphTestConverter)
  endif()
endforeach()
