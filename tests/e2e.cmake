# End-to-end tests: the real program in a real X window (Xvfb), driven by xdotool, captured
# with ImageMagick and recorded from a PulseAudio null sink. Each starts its own display and
# sound server. They run one at a time: the timing checks listen to the program, and another
# busy test beside them would be heard as well.
if(CMAKE_CROSSCOMPILING) # the rest needs the build machine's tools: native builds only
  return()
endif()
find_package(Python3 COMPONENTS Interpreter REQUIRED)
foreach(name startup play tempo shuffle edit presets quit display_lost patternfile
             sample_exact sound_back)
  add_test(NAME e2e_${name}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/e2e/e2e_${name}.py
                   $<TARGET_FILE:pocketdrum> ${PROJECT_SOURCE_DIR} ${e2e_flags})
  set_tests_properties(e2e_${name} PROPERTIES LABELS e2e RUN_SERIAL TRUE TIMEOUT 300
                       ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
endforeach()

# A game pad in the real program: a virtual controller attached by a preloaded helper.
add_test(NAME e2e_pad
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/e2e/e2e_pad.py
                 $<TARGET_FILE:pocketdrum> ${PROJECT_SOURCE_DIR} ${e2e_flags}
                 --preload $<TARGET_FILE:pad_preload>)
set_tests_properties(e2e_pad PROPERTIES LABELS e2e RUN_SERIAL TRUE TIMEOUT 300
                     ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)

# How those tests hear: onsets, breaks of the sound stream and grids, on recordings made up in
# the test itself. No display, no sound server.
add_test(NAME listening COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/e2e/listening_test.py)
set_tests_properties(listening PROPERTIES ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
