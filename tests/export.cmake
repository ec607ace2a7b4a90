# The beat exported as a WAV file, against the kit as the real mixer decodes it; the export as
# the command line runs it, in a program of its own since it brings SDL up and down itself; and
# `pocketdrum --export` itself, with no display and no sound server to be had.
drum_test(export_test)
drum_test(engine_test)
drum_test(export_run_test)

if(CMAKE_CROSSCOMPILING) # the rest needs the build machine's tools: native builds only
  return()
endif()

find_package(Python3 COMPONENTS Interpreter REQUIRED)
# MIDI files are read back with Debian's python3-mido, which only Debian's own Python imports; a
# Python of one's own earlier on the PATH would not find it.
find_program(DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT DEBIAN_PYTHON3)
  set(DEBIAN_PYTHON3 ${Python3_EXECUTABLE})
endif()
add_test(NAME export_cli
         COMMAND ${DEBIAN_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/e2e/export_cli_test.py
                 $<TARGET_FILE:pocketdrum> ${PROJECT_SOURCE_DIR} ${e2e_flags})
set_tests_properties(export_cli PROPERTIES TIMEOUT 120 ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
