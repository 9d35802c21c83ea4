# Desktop integration and the Debian package: what `cmake --install` puts into
# a prefix, and how CPack turns that into mailsender_<version>_<arch>.deb.
# Only what is named here is installed; the libraries and test programs of the
# build have no install rules.
# The Debian package is the Linux build's; the Windows build is one .exe.
if(WIN32 OR NOT TARGET mailsender)
  return()
endif()

include(GNUInstallDirs)
# Installing and packaging need the program only: `make install` and
# `make package` build it first, so the install step does not build the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(mailsender_packaging_dir ${CMAKE_CURRENT_LIST_DIR})
set(mailsender_icon_dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

# The launcher entry carries the project's version, so it is generated here.
configure_file(${mailsender_packaging_dir}/mailsender.desktop.in
  ${PROJECT_BINARY_DIR}/packaging/mailsender.desktop @ONLY)

install(TARGETS mailsender RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/packaging/mailsender.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${mailsender_packaging_dir}/icons/mailsender.svg
  DESTINATION ${mailsender_icon_dir}/scalable/apps)
foreach(size 48 256)
  install(FILES ${mailsender_packaging_dir}/icons/mailsender-${size}.png
    DESTINATION ${mailsender_icon_dir}/${size}x${size}/apps RENAME mailsender.png)
endforeach()

# The window icon is compiled into the program as well, so that the window has
# it when the program runs from the build folder or the theme lacks it.
find_package(Qt6 REQUIRED COMPONENTS Core)
qt_add_resources(mailsender mailsender_icon
  PREFIX /icons BASE ${mailsender_packaging_dir}/icons
  FILES ${mailsender_packaging_dir}/icons/mailsender-256.png)

if(MAILSENDER_BUILD_TESTS)
  add_test(NAME install_check
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install_check.sh
      ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR} ${PROJECT_VERSION})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mailsender)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small desktop SMTP mail sender (邮件发送器)")
set(CPACK_PACKAGE_DESCRIPTION "One fixed-size window that logs in to an SMTP server and sends mail
through the open session. The server, port, account and password are kept
between runs in a settings file on the user's desktop.")
set(MAILSENDER_MAINTAINER "邮件发送器 maintainers <maintainers@mailsender.invalid>"
  CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MAILSENDER_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps adds the Qt, C and C++ runtime libraries the program links.
# Qt loads its platform plugin at run time, which no linker sees, and the
# window's Chinese labels need a CJK font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wqy-microhei")
set(CPACK_STRIP_FILES ON)
# Directories in the archive get the usual modes whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
