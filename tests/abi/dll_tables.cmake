# cmake -DOBJDUMP=... -DDLL=... -DEXPORTS=... -P dll_tables.cmake
# Fails unless the DLL exports exactly the names of EXPORTS and imports
# nothing but DLLs that every Windows has: no compiler runtime beside it.
cmake_minimum_required(VERSION 3.21)
set(system_dlls advapi32 bcrypt crypt32 iphlpapi kernel32 msvcrt normaliz ntdll ole32 secur32 shell32
  user32 ws2_32 wldap32)

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()

# The name table lists each export as "[ n] name" after its heading.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]*\\[[ 0-9]+\\] [^\n]+\n)*)" table "${dump}")
# Square brackets would keep CMake from splitting a list: one name a line first.
string(REGEX REPLACE "[^\n]*\\] ([^\n]+)\n" "\\1;" exported "${CMAKE_MATCH_1}")
list(FILTER exported INCLUDE REGEX ".")
list(SORT exported)
file(STRINGS ${EXPORTS} wanted REGEX "^[a-z_]+$")
list(SORT wanted)
if(NOT exported STREQUAL wanted)
  message(FATAL_ERROR "exported: ${exported}\nexport list: ${wanted}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(dlls)
foreach(line IN LISTS imports)
  string(SUBSTRING "${line}" 10 -1 dll)
  list(APPEND dlls ${dll})
  string(TOLOWER "${dll}" name)
  string(REGEX REPLACE "\\.dll$" "" name "${name}")
  if(NOT name IN_LIST system_dlls)
    message(FATAL_ERROR "imports ${dll}, which is not a Windows system DLL")
  endif()
endforeach()
list(LENGTH exported count)
message(STATUS "${DLL}: exports the ${count} names of the list; imports ${dlls}")
