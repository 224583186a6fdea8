# The DLL's tables as the file holds them, read on the build machine with
# objdump: exactly the names of the export list, and only system DLLs imported.
add_test(NAME abi_dll_tables COMMAND ${CMAKE_COMMAND}
  -DOBJDUMP=${CMAKE_OBJDUMP} -DDLL=$<TARGET_FILE:quorvane-apiclient>
  -DEXPORTS=${PROJECT_SOURCE_DIR}/src/exports.txt
  -P ${CMAKE_CURRENT_LIST_DIR}/dll_tables.cmake)
