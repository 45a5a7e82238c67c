# Fails unless `objdump -p` lists exactly the names of EXPECTED (comma-separated, in order) in
# the export table of DLL.
#   cmake -DOBJDUMP=... -DDLL=... -DEXPECTED=A,B -P exports.cmake
string(REPLACE "," ";" EXPECTED "${EXPECTED}")
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${rc})")
endif()
string(FIND "${listing}" "[Ordinal/Name Pointer] Table\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export table")
endif()
# The rows ("\t[   0] VelGetMD5") below that heading, up to the blank line that ends the table.
string(LENGTH "[Ordinal/Name Pointer] Table\n" heading)
math(EXPR at "${at} + ${heading}")
string(SUBSTRING "${listing}" ${at} -1 table)
string(FIND "${table}" "\n\n" end)
string(SUBSTRING "${table}" 0 ${end} table)
string(REGEX MATCHALL "[^\n]+" rows "${table}")
list(TRANSFORM rows REPLACE "^[^]]*] " "")
if(NOT rows STREQUAL EXPECTED)
  message(FATAL_ERROR "${DLL} exports \"${rows}\", expected exactly \"${EXPECTED}\"")
endif()
message(STATUS "${DLL} exports exactly ${rows}")
