# Live MIDI out to a JACK server on its dummy driver, judged in frames; the export's notes are
# read back with python3-mido, so it runs on Debian's Python (DEBIAN_PYTHON3, export.cmake).
if(CMAKE_CROSSCOMPILING OR NOT MIDI_OUT) # a JACK server of the build machine's
  return()
endif()
add_test(NAME e2e_midi_out
         COMMAND ${DEBIAN_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/e2e/e2e_midi_out.py
                 $<TARGET_FILE:pocketdrum> ${PROJECT_SOURCE_DIR} ${e2e_flags})
set_tests_properties(e2e_midi_out PROPERTIES LABELS e2e RUN_SERIAL TRUE TIMEOUT 600
                     ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
