# The Debian packages, made by `cpack -G DEB` in a build folder (scripts/package.sh does it with
# Debian's build flags):
#   corvalink        the window, corvalink-cli, the CUPS backend, their manuals and documents
#   corvalink-tools  router_sim, the router simulator of the tests and the lab
# Everything a package holds is installed under its component; nothing else is packaged.

include(GNUInstallDirs)

set(PKG_SRC ${CMAKE_SOURCE_DIR}/packaging)
set(PKG_OUT ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${PKG_OUT}/icons ${PKG_OUT}/man ${PKG_OUT}/doc)

# Debian compresses manuals, documents and the changelog with gzip -9n (no name, no time), so
# that the same sources give the same package bytes.
set(PKG_GENERATED)
function(corvalink_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${source} ${output}
    DEPENDS ${source} VERBATIM)
  set(PKG_GENERATED ${PKG_GENERATED} ${output} PARENT_SCOPE)
endfunction()

# Hicolor icons rendered from the one drawing, the SVG, at the sizes desktops look for.
set(CORVALINK_ICON_SIZES 16 32 48 64 128 256)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  foreach(size ${CORVALINK_ICON_SIZES})
    set(png ${PKG_OUT}/icons/${size}/corvalink.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PKG_OUT}/icons/${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
              ${CMAKE_SOURCE_DIR}/ui/qt/res/corvalink.svg
      DEPENDS ${CMAKE_SOURCE_DIR}/ui/qt/res/corvalink.svg VERBATIM)
    list(APPEND PKG_GENERATED ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT corvalink)
  endforeach()
else()
  message(STATUS "rsvg-convert (librsvg2-bin) not found: the package gets the 32 px icon alone")
  install(FILES ${CMAKE_SOURCE_DIR}/ui/qt/res/corvalink.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps COMPONENT corvalink)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/ui/qt/res/corvalink.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT corvalink)
install(FILES ${CMAKE_SOURCE_DIR}/ui/qt/res/corvalink.desktop
              ${CMAKE_SOURCE_DIR}/ui/qt/res/corvalink-firmware.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT corvalink)
install(FILES ${PKG_SRC}/org.corvalink.Corvalink.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT corvalink)
install(FILES ${PKG_SRC}/corvalink.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME corvalink COMPONENT corvalink)

# Manuals.
foreach(page corvalink.1 corvalink-cli.1 corvalink.7 router_sim.1)
  corvalink_gzip(${CMAKE_SOURCE_DIR}/docs/man/${page} ${PKG_OUT}/man/${page}.gz)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  set(component corvalink)
  if(page STREQUAL "router_sim.1")
    set(component tools)
  endif()
  install(FILES ${PKG_OUT}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT ${component})
endforeach()

# /usr/share/doc/<package>: the copyright file and the changelog in each, the documents in the
# main one.
# The README is the package's own (packaging/README.md): the source tree's speaks of scripts and
# folders that are not installed.
corvalink_gzip(${PKG_SRC}/changelog ${PKG_OUT}/doc/changelog.gz)
foreach(doc packaging/README.md docs/cli.md)
  get_filename_component(name ${doc} NAME)
  corvalink_gzip(${CMAKE_SOURCE_DIR}/${doc} ${PKG_OUT}/doc/${name}.gz)
  install(FILES ${PKG_OUT}/doc/${name}.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvalink
          COMPONENT corvalink)
endforeach()
foreach(package corvalink corvalink-tools)
  set(component corvalink)
  if(package STREQUAL "corvalink-tools")
    set(component tools)
  endif()
  install(FILES ${PKG_SRC}/copyright ${PKG_OUT}/doc/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

add_custom_target(package_files ALL DEPENDS ${PKG_GENERATED})
# What the packages hold, without the tests: `ninja deb_contents && cpack -G DEB`.
add_custom_target(deb_contents DEPENDS corvalink corvalink-cli router_sim corvalink_cups_backend
                                       package_files)

install(TARGETS router_sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# --- CPack ---
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvalink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvalink developers")
set(CPACK_PACKAGE_CONTACT "Corvalink developers <dev@corvalink.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL corvalink tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_CORVALINK_PACKAGE_NAME corvalink)
# adduser for the maintainer scripts' addgroup and delgroup; shlibdeps adds the libraries.
set(CPACK_DEBIAN_CORVALINK_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_CORVALINK_PACKAGE_SUGGESTS "cups, corvalink-tools")
set(CPACK_DEBIAN_CORVALINK_PACKAGE_CONTROL_EXTRA ${PKG_SRC}/postinst ${PKG_SRC}/postrm)
set(CPACK_COMPONENT_CORVALINK_DESCRIPTION
  "find Corvalink routers and store one as the LPR printer server
Corvalink finds the Corvalink routers on the local IPv4 network with one
broadcast search and lists every router that answers (MAC address, IP
address, mask, location). The chosen router's address is stored as the
Server IP of the LPR printer-port software.
.
The package holds the window (corvalink), the command line (corvalink-cli),
which also upgrades router firmware over TFTP, and a CUPS backend that prints
to the router stored last. Members of the group corvalink may store the
address without root.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME corvalink-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "router simulator for testing the Corvalink utility
router_sim answers as one or many Corvalink routers: search and upgrade
replies, a TFTP server for firmware and an LPD print server, with fault
injection (delays, duplicates, stray senders, malformed datagrams, floods,
lost TFTP datagrams). It is meant for test networks such as the project's
network-namespace lab.")

include(CPack)

# The manuals render and list exactly the options the programs' --help lists.
find_program(MAN_PROGRAM man)
if(MAN_PROGRAM)
  add_test(NAME man_pages
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/process/man_pages_test.sh ${CMAKE_SOURCE_DIR}/docs/man
            $<TARGET_FILE:corvalink> $<TARGET_FILE:corvalink-cli> $<TARGET_FILE:router_sim>)
else()
  message(STATUS "man (man-db) not found: the manual check is not run")
endif()
