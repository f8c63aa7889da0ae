# The Windows zip, made by `cpack -G ZIP` in the cross build folder:
#   corvalink-windows-<version>.zip
#     corvalink-windows-<version>/corvalink-cli.exe, router_sim.exe, README.md, cli.md,
#                                 LICENSE.txt, THIRD-PARTY-NOTICES.txt
#     (and corvalink.exe, the Windows front end, once there is a target `corvalink`)
# Everything in it is installed under the component ${CORVALINK_WINDOWS_COMPONENT}, to the
# zip's top folder; nothing else goes in. CMakeLists.txt includes this file last, so every
# program target exists here; another program joins the zip by its name in the list below, or
# anywhere with
#   install(TARGETS its_target RUNTIME DESTINATION . COMPONENT windows)
# tests/process/windows_zip_test.sh checks the imports of every .exe in the zip.

set(CORVALINK_WINDOWS_COMPONENT windows)

# The programs are linked statically (cmake/mingw-w64-x86_64.cmake): no DLL to ship.
foreach(target corvalink corvalink-cli router_sim)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION . COMPONENT ${CORVALINK_WINDOWS_COMPONENT})
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/cli.md
        DESTINATION . COMPONENT ${CORVALINK_WINDOWS_COMPONENT})
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt
        COMPONENT ${CORVALINK_WINDOWS_COMPONENT})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/THIRD-PARTY-NOTICES.txt
        DESTINATION . COMPONENT ${CORVALINK_WINDOWS_COMPONENT})

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME corvalink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvalink developers")
set(CPACK_STRIP_FILES ON)
# One archive of this component alone (the plain install rules name bin/ for Linux), unpacked
# as one folder of the archive's name.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};${CORVALINK_WINDOWS_COMPONENT};/")
set(CPACK_PACKAGE_FILE_NAME corvalink-windows-${PROJECT_VERSION})
include(CPack)
