# The registry file tests make and inspect databases directly.
if(TARGET platform_com_test_registry_files)
  target_link_libraries(platform_com_test_registry_files PRIVATE sqlite3)
endif()
