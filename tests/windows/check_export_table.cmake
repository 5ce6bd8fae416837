# Harvo.dll names itself Harvo.dll and exports exactly the 26 functions a host reaches by ordinal,
# each under its undecorated name at its own ordinal.
#   cmake -DLIBRARY=<Harvo.dll> -DOBJDUMP=<mingw objdump> -P check_export_table.cmake
set(expected
  HvrOpen=101 HvrClose=102 HvrStart=201 HvrEnd=202 HvrStop=203
  HvrMultiStart=301 HvrMultiEnd=302 HvrMultiStop=303
  HvrGetFavorites=351 HvrGetBookmarks=352 HvrGet4xBookmarks=353 HvrGetHotlists=354
  HvrGetOpera5=355 HvrGet4xBookmarksPath=356 HvrDelLinkArray=399
  HvrIsDL=501 HvrGetDLNum=502 HvrGetDLSiteName=503 HvrGetDLFileName=504 HvrGetDLURL=505
  HvrGetDLSize=506 HvrGetDLRestoredSize=507 HvrGetDLRestoredNum=508 HvrGetDLFailedNum=509
  HvrLogStart=9901 HvrLogStop=9902)

execute_process(COMMAND "${OBJDUMP}" -p "${LIBRARY}" OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIBRARY}")
endif()

if(NOT listing MATCHES "\nName[ \t]+[0-9a-fA-F]+ ([^\n]+)\n")
  message(FATAL_ERROR "no export table in ${LIBRARY}")
endif()
set(dll_name "${CMAKE_MATCH_1}")
if(NOT dll_name STREQUAL "Harvo.dll")
  message(FATAL_ERROR "the DLL names itself '${dll_name}', not Harvo.dll")
endif()
if(NOT listing MATCHES "Ordinal Base[ \t]+([0-9]+)")
  message(FATAL_ERROR "no ordinal base in the export table")
endif()
set(base ${CMAKE_MATCH_1})

# "[Ordinal/Name Pointer] Table" rows: "[ <index>] <name>", the ordinal being base + index.
string(FIND "${listing}" "[Ordinal/Name Pointer] Table" start)
if(start LESS 0)
  message(FATAL_ERROR "no name table in the export table")
endif()
string(SUBSTRING "${listing}" ${start} -1 names)
string(REGEX REPLACE "\n[ \t]*\n.*" "" names "${names}")
string(REPLACE "\n" ";" rows "${names}")
set(found)
foreach(row IN LISTS rows)
  if(row MATCHES "^[ \t]*\\[[ ]*([0-9]+)\\] ([^ \t]+)$")
    math(EXPR ordinal "${base} + ${CMAKE_MATCH_1}")
    list(APPEND found "${CMAKE_MATCH_2}=${ordinal}")
  endif()
endforeach()

# Exports by ordinal only would not show in the name table: count the address table as well.
string(REGEX MATCHALL "\\+base\\[[ ]*[0-9]+\\]" addresses "${listing}")
list(LENGTH addresses address_count)
list(LENGTH expected expected_count)
if(NOT address_count EQUAL expected_count)
  message(FATAL_ERROR "${address_count} exports in the address table, not ${expected_count}")
endif()

list(SORT expected)
list(SORT found)
if(NOT found STREQUAL expected)
  set(extra ${found})
  list(REMOVE_ITEM extra ${expected})
  set(missing ${expected})
  list(REMOVE_ITEM missing ${found})
  message(FATAL_ERROR "export table differs\n  unexpected: ${extra}\n  missing: ${missing}")
endif()
message(STATUS "${LIBRARY}: Harvo.dll, ${expected_count} exports at their ordinals")
