# Installed like a desktop program: where the assets are found, the desktop entry, and the Debian
# package built, installed, started from / under Xvfb and removed again.
drum_test(asset_lookup_test)

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  add_test(NAME desktop_file
           COMMAND ${DESKTOP_FILE_VALIDATE} ${PROJECT_SOURCE_DIR}/install/pocketdrum.desktop)
endif()
