# The program as a process (start-up with broken assets, the start-up failures, the hand-over to
# the menu program), the seeded soak test, and memcheck over the soak test and the program.
drum_test(soak_test)

if(CMAKE_CROSSCOMPILING) # the rest needs the build machine's tools: native builds only
  return()
endif()

find_package(Python3 COMPONENTS Interpreter REQUIRED)
# the hand-over cases need unshare, the window cases Xvfb and xdotool: none is left to skip
foreach(tool unshare Xvfb xdotool)
  find_program(tool_${tool} ${tool} REQUIRED)
endforeach()
add_test(NAME process
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/process_test.py
                 $<TARGET_FILE:pocketdrum> ${PROJECT_SOURCE_DIR}/assets ${CMAKE_CXX_COMPILER})
set_tests_properties(process PROPERTIES TIMEOUT 300)

# memcheck and the sanitizers do not mix; valgrind runs on the plain build only.
if(NOT SANITIZE)
  find_program(VALGRIND valgrind REQUIRED)
  add_test(NAME valgrind_soak
           COMMAND ${VALGRIND} --tool=memcheck --error-exitcode=9 --num-callers=30
                   $<TARGET_FILE:soak_test> --gtest_filter=Ticks/Soak.*:Sizes/*)
  set_tests_properties(valgrind_soak PROPERTIES
                       ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;POCKETDRUM_SOAK_FRAMES=1500"
                       LABELS valgrind TIMEOUT 300)
  add_test(NAME valgrind_program
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/process_test.py --valgrind
                   $<TARGET_FILE:pocketdrum> ${PROJECT_SOURCE_DIR}/assets)
  set_tests_properties(valgrind_program PROPERTIES LABELS valgrind TIMEOUT 300)
endif()
