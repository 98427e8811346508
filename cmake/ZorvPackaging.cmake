# Installation and the Debian package (cpack -G DEB in the build directory):
# both programs, their man pages (made from their own help), the desktop
# entry and icon, bash completion for zorvctl, and the udev rule that lets
# the group "zorv" open the family's drives. Nothing is installed setuid;
# the README says how to give the programs CAP_SYS_RAWIO instead.
include(GNUInstallDirs)

install(TARGETS zorvctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET zorv)
  install(TARGETS zorv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorv.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorv.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorvctl.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zorvctl)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/70-zorv.rules DESTINATION lib/udev/rules.d)
# The layout of zorvctl --json documents, for the scripts that read them.
install(FILES ${PROJECT_SOURCE_DIR}/schema/zorvctl.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/zorv)

set(man_dir ${PROJECT_BINARY_DIR}/man)
set(man_pages ${man_dir}/zorvctl.1)
add_custom_command(OUTPUT ${man_dir}/zorvctl.1
  COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:zorvctl> -DNAME=zorvctl
          "-DSUMMARY=the Zorv SSD engineering and service tool on the command line"
          -DOUT=${man_dir}/zorvctl.1 -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
  DEPENDS zorvctl ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake VERBATIM)
if(TARGET zorv)
  list(APPEND man_pages ${man_dir}/zorv.1)
  add_custom_command(OUTPUT ${man_dir}/zorv.1
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:zorv> -DNAME=zorv -DHELP=--help
            "-DSUMMARY=the Zorv SSD firmware downloader and engineering window"
            -DOUT=${man_dir}/zorv.1 -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS zorv ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake VERBATIM)
endif()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorv)
set(CPACK_PACKAGE_VENDOR "Zorv")
set(CPACK_PACKAGE_CONTACT "Zorv developers <zorv@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SSD engineering and service tool: firmware update, diagnostics, media tests")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
