# Installed like a desktop program: `cmake --install` and `cpack -G DEB` lay out
#   bin/pocketdrum                                the program
#   share/pocketdrum/assets/                      its background, font and samples
#   share/applications/pocketdrum.desktop         the menu entry
#   share/icons/hicolor/<N>x<N>/apps/pocketdrum.png   the icon (tools/make_icon.py)
#   share/man/man6/pocketdrum.6                   the manual page
#   share/mime/packages/pocketdrum.xml            the pattern files' MIME type, *.pdrum
include(GNUInstallDirs)

set(POCKETDRUM_ASSET_DIR ${CMAKE_INSTALL_DATADIR}/pocketdrum/assets)

# The program finds the installed assets from its own folder, so the path between the two is
# built in; a prefix moved as a whole keeps working.
file(RELATIVE_PATH installed_assets ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${POCKETDRUM_ASSET_DIR})
target_compile_definitions(drumcore PRIVATE INSTALLED_ASSETS="${installed_assets}")

install(TARGETS pocketdrum RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/assets/ DESTINATION ${POCKETDRUM_ASSET_DIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/pocketdrum.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/pocketdrum.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
# dpkg's trigger runs update-mime-database for the package; after cmake --install, the user does
install(FILES ${CMAKE_CURRENT_LIST_DIR}/pocketdrum.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)

# The Debian package. dpkg-shlibdeps alone asks for libsdl1.2debian, which apt satisfies with the
# old SDL 1.2.15 on a clean machine; the compatibility layer's shim provides the same libraries on
# SDL 2, and only there do the layer's settings (window scaling, game controllers, vsync) apply.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pocketdrum)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pocket drum machine: ten drum tracks by sixteen steps")
set(CPACK_PACKAGE_CONTACT "pocketdrum developers <pocketdrum@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libsdl1.2-compat-shim)
include(CPack)
