# Installation layout and the Debian package. Included by the top-level CMakeLists after
# src/ and tools/, so every target named here already exists.
#
#   lib/brimlet/brimlet           the program; the links prefix_AGENT_OS point to it
#   lib/brimlet/libVelGnMD5.so    its MD5 library, found beside the real binary
#   sbin/brimlet                  -> ../lib/brimlet/brimlet: --check, --status, usage
#   sbin/brimlet-setup            sets up one pair
#   bin/brimlet-decrypt           (tools/decrypt installs it)
#   share/brimlet/sql/            reference schemas, procedures, sample data
#   share/brimlet/prometheus/     the alert rules and their promtool tests
#   lib/systemd/system/           brimlet@.service, brimlet@.timer
#   lib/tmpfiles.d/brimlet.conf   log retention
#   share/doc/brimlet/            packaging/README.md as README.packaging.md, copyright, changelog
#   share/doc/brimlet/manual/     the operator manual (docs/*.md; docs/README.md is its index)
#   share/man/man8, man1          brimlet(8), brimlet-setup(8), brimlet-decrypt(1)
#   /etc/brimlet/dbstring.Ini.example   a conffile, the settings brimlet-setup starts from


# The program first looks for libVelGnMD5.so in the directory it was invoked from (the link's
# directory). Links live elsewhere (/var/lib/brimlet/NAME/NAME), so the fallback by bare name
# must find the copy beside the real binary: $ORIGIN is that binary's resolved directory.
# DT_RPATH rather than DT_RUNPATH: a sanitizer runtime intercepts dlopen, and then only the
# executable's DT_RPATH still applies to the search. (src/md5lib installs the library.)
# The build tree gets the same, so bin/brimlet behaves as installed (and no placeholder RPATH
# of empty entries, which would mean the working directory, is written).
set_target_properties(brimlet PROPERTIES INSTALL_RPATH "$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
set_property(TARGET brimlet APPEND PROPERTY LINK_OPTIONS -Wl,--disable-new-dtags)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/sql/ DESTINATION ${CMAKE_INSTALL_DATADIR}/brimlet/sql
        FILES_MATCHING PATTERN "*.sql")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/prometheus/brimlet.rules.yml
              ${CMAKE_CURRENT_LIST_DIR}/prometheus/brimlet.rules.test.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/brimlet/prometheus)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/systemd/brimlet@.service
              ${CMAKE_CURRENT_LIST_DIR}/systemd/brimlet@.timer
        DESTINATION lib/systemd/system)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tmpfiles/brimlet.conf DESTINATION lib/tmpfiles.d)
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/brimlet-setup DESTINATION ${CMAKE_INSTALL_SBINDIR})
# brimlet on PATH, for --check and --status; relative, as Debian wants links within /usr.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging/sbin)
file(CREATE_LINK ../lib/brimlet/brimlet ${PROJECT_BINARY_DIR}/packaging/sbin/brimlet SYMBOLIC)
install(FILES ${PROJECT_BINARY_DIR}/packaging/sbin/brimlet DESTINATION ${CMAKE_INSTALL_SBINDIR})
# /etc lies beside /usr, not under it: the package (staged under .../usr) and an install with
# --prefix /usr put the example there; any other prefix keeps it under itself.
install(CODE "set(brimlet_example \"${CMAKE_CURRENT_LIST_DIR}/examples/dbstring.Ini\")")
install(CODE [[
  get_filename_component(brimlet_base "${CMAKE_INSTALL_PREFIX}" NAME)
  if(brimlet_base STREQUAL "usr")
    get_filename_component(brimlet_etc "${CMAKE_INSTALL_PREFIX}/../etc" ABSOLUTE)
  else()
    set(brimlet_etc "${CMAKE_INSTALL_PREFIX}/etc")
  endif()
  file(INSTALL "${brimlet_example}" DESTINATION "${brimlet_etc}/brimlet" RENAME dbstring.Ini.example
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
]])
install(FILES ${CMAKE_CURRENT_LIST_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README.packaging.md)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/manual
        FILES_MATCHING PATTERN "*.md" PATTERN man EXCLUDE)

# Manual pages and the changelog go out compressed as Debian wants them (gzip -9n: no name,
# no time stamp, so the package is reproducible). The mdoc sources in docs/man are the pages.
set(brimlet_gz_dir ${PROJECT_BINARY_DIR}/packaging/gz)
set(brimlet_gz_files)
foreach(source docs/man/brimlet.8 docs/man/brimlet-setup.8 docs/man/brimlet-decrypt.1
               packaging/debian/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${brimlet_gz_dir}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${source} ${brimlet_gz_dir}/${name}
    COMMAND gzip -9nf ${brimlet_gz_dir}/${name}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND brimlet_gz_files ${brimlet_gz_dir}/${name}.gz)
endforeach()
add_custom_target(brimlet_compressed_docs ALL DEPENDS ${brimlet_gz_files})
install(FILES ${brimlet_gz_dir}/brimlet.8.gz ${brimlet_gz_dir}/brimlet-setup.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${brimlet_gz_dir}/brimlet-decrypt.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${brimlet_gz_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack's strip keeps the compiler's .comment and .note sections, which Debian's dh_strip
# removes; after the targets' own install rules (and their strip), the packaged ELF files lose
# them too.
install(CODE "set(brimlet_objcopy \"${CMAKE_OBJCOPY}\")
  set(brimlet_elves \"${CMAKE_INSTALL_LIBDIR}/brimlet/brimlet;${CMAKE_INSTALL_LIBDIR}/brimlet/libVelGnMD5.so;${CMAKE_INSTALL_BINDIR}/brimlet-decrypt\")")
install(CODE [[
  if(CMAKE_INSTALL_DO_STRIP AND brimlet_objcopy)
    foreach(elf IN LISTS brimlet_elves)
      execute_process(COMMAND "${brimlet_objcopy}" --remove-section=.comment --remove-section=.note
                              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${elf}"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
]])

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brimlet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brimlet project")
# The package's Maintainer field; set it to the people who answer for this build, e.g.
# cmake -DBRIMLET_MAINTAINER="Jane Doe <jane@example.org>".
set(BRIMLET_MAINTAINER "Brimlet Maintainers <maintainers@brimlet.example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${BRIMLET_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "publishes an agent's component list as an encrypted XML document")
# Lines within 80 columns: the control file shows them as they stand.
set(CPACK_PACKAGE_DESCRIPTION
    "brimlet is a batch program run once per agent type and OS type, through\n\
links named prefix_AGENT_OS. It queries a database over ODBC, writes an\n\
encrypted XML list of the agent's components into the output directory and\n\
records its MD5 checksum in the database.\n\
brimlet-decrypt prints a published document as plain XML. The systemd\n\
templates brimlet@.service and brimlet@.timer run one instance per link;\n\
brimlet-setup sets one up. Alert rules for Prometheus are included.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# What the binaries link (dpkg-shlibdeps on Debian 12 gives exactly these), plus adduser for
# the service account made in postinst and acl for brimlet-setup's grant on the metrics
# directory.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 9), libssl3 (>= 3.0.0), libodbc2 (>= 2.3.1), libodbcinst2 (>= 2.3.1), adduser, acl")
# One ODBC driver is needed to reach any database.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "odbc-postgresql | odbc-mariadb | tdsodbc")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "prometheus-node-exporter, libxml2-utils, openssl")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/conffiles ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/prerm ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
