# The Windows ZIP package. Included by the top-level CMakeLists on WIN32 after src/ and tools/.
# Everything lies flat in one folder, as a pair's folder holds it: the exe is copied or
# hard-linked once per pair beside its own VelGnMD5.dll, Ini\ and Log\.
#
#   brimlet-<version>-win64\brimlet.exe           the program (copy it as prefix_AGENT_OS.exe)
#   brimlet-<version>-win64\brimlet-cli.exe       the same program at a prompt: --check, --status
#   brimlet-<version>-win64\VelGnMD5.dll          its MD5 library, looked for beside the exe
#   brimlet-<version>-win64\brimlet-decrypt.exe   prints a published document as plain XML
#   brimlet-<version>-win64\brimlet-events.dll    the Event Log's message table (registered once)
#   brimlet-<version>-win64\dbstring.Ini.example  the settings a pair starts from
#   brimlet-<version>-win64\README.md, docs\      what it does; the operator manual (docs\README.md
#                                               is its index, docs\windows.md the Windows part)
#   brimlet-<version>-win64\sql\                  the reference procedures and their README
#                                               (SQL Server's in sql\sqlserver\)
foreach(target brimlet brimlet-cli velgnmd5 brimlet-decrypt brimlet_events)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION .)
  endif()
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/windows/dbstring.Ini DESTINATION .
        RENAME dbstring.Ini.example)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
# The manual pages' mdoc sources stay out: Windows has no reader for them.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs
        FILES_MATCHING PATTERN "*.md" PATTERN man EXCLUDE)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sql/ DESTINATION sql FILES_MATCHING PATTERN "*.sql"
        PATTERN "*.md")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME brimlet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brimlet project")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
