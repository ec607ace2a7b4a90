# Installed like a desktop program: where the assets are found, the desktop entry, and the Debian
# package built, installed, started from / under Xvfb and removed again.
drum_test(asset_lookup_test)

if(CMAKE_CROSSCOMPILING) # the rest needs the build machine's tools: native builds only
  return()
endif()

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate REQUIRED)
add_test(NAME desktop_file
         COMMAND ${DESKTOP_FILE_VALIDATE} ${PROJECT_SOURCE_DIR}/install/pocketdrum.desktop)

# Builds the package with cpack, installs it with apt-get (as root; otherwise into a scratch root),
# starts the installed program from / under Xvfb, and purges the package again; Debian's checker,
# lintian, must find nothing to report. It needs the whole project built, as cpack installs from
# the build tree.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
find_program(DPKG_DEB dpkg-deb REQUIRED)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps REQUIRED)
find_program(LINTIAN lintian REQUIRED)
add_test(NAME package
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/e2e/package_test.py
                 ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR} --cpack ${CMAKE_CPACK_COMMAND}
                 --lintian ${LINTIAN} ${e2e_flags})
set_tests_properties(package PROPERTIES LABELS package RUN_SERIAL TRUE TIMEOUT 900
                     ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
