# Installed like a desktop program: `cmake --install` and `cpack -G DEB` lay out
#   bin/pocketdrum                                the program
#   share/pocketdrum/assets/                      its background, font and samples
#   share/applications/pocketdrum.desktop         the menu entry
#   share/icons/hicolor/<N>x<N>/apps/pocketdrum.png   the icon (tools/make_icon.py)
#   share/man/man6/pocketdrum.6.gz                the manual page
#   share/doc/pocketdrum/copyright, changelog.gz  the licence and the changes, in Debian's forms
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

# Debian wants the manual page and the changelog compressed, at the best level and with no name or
# time stamp in the header (-n), so that the same sources make the same package. They are made
# when configuring, and again whenever their sources change.
set(packaged_docs ${PROJECT_BINARY_DIR}/packaged-docs)
find_program(GZIP gzip REQUIRED)
function(gzip_for_debian source output)
  file(MAKE_DIRECTORY ${packaged_docs})
  execute_process(COMMAND ${GZIP} -9n --stdout ${source} OUTPUT_FILE ${packaged_docs}/${output}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip could not compress ${source}")
  endif()
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

gzip_for_debian(${CMAKE_CURRENT_LIST_DIR}/pocketdrum.6 pocketdrum.6.gz)
install(FILES ${packaged_docs}/pocketdrum.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)

# The changelog's newest entry names the version being built; a version raised without an entry
# stops here rather than in a package that lintian rejects.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^pocketdrum \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "install/changelog begins with \"${newest}\", not with version "
                      "${PROJECT_VERSION}: add an entry for it")
endif()
gzip_for_debian(${CMAKE_CURRENT_LIST_DIR}/changelog changelog.gz)

# The copyright file in Debian's machine-readable form, its holder and terms taken from LICENSE
# so that the two never disagree: every paragraph of the licence indented, blank lines as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE)
string(REGEX MATCH "^Copyright \\(C\\) ([^\n]+)" holder "${licence}")
set(holder ${CMAKE_MATCH_1})
string(STRIP "${licence}" licence)
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REGEX REPLACE "\n" "\n " licence " ${licence}")
file(WRITE ${packaged_docs}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: pocketdrum\n\n"
     "Files: *\n"
     "Copyright: ${holder}\n"
     "License: Zlib\n${licence}\n")
install(FILES ${packaged_docs}/copyright ${packaged_docs}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# dpkg's trigger runs update-mime-database for the package; after cmake --install, the user does
install(FILES ${CMAKE_CURRENT_LIST_DIR}/pocketdrum.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)

# The Debian package. dpkg-shlibdeps alone asks for libsdl1.2debian, which apt satisfies with the
# old SDL 1.2.15 on a clean machine; the compatibility layer's shim provides the same libraries on
# SDL 2, and only there do the layer's settings (window scaling, game controllers, vsync) apply.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pocketdrum)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pocket drum machine: ten drum tracks by sixteen steps")
# the extended description, under the summary
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "A step sequencer for a 320x240 handheld and for the desktop: ten drum tracks\n"
       "by sixteen steps, looping bar after bar at 20 to 220 BPM, with shuffle, two\n"
       "built-in patterns and an on-screen grid edited with a cursor. It is played\n"
       "from the keyboard or a game pad, keeps a beat in a plain-text pattern file,\n"
       "and exports it as a WAV file without opening a window.")
set(CPACK_PACKAGE_CONTACT "pocketdrum developers <pocketdrum@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libsdl1.2-compat-shim)
include(CPack)
