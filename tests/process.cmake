# The program as a process (start-up with broken assets, the start-up failures, the hand-over to
# the menu program) and the seeded soak test.
drum_test(soak_test)

find_package(Python3 COMPONENTS Interpreter REQUIRED)
add_test(NAME process
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/process_test.py
                 $<TARGET_FILE:pocketdrum> ${PROJECT_SOURCE_DIR}/assets ${CMAKE_CXX_COMPILER})
set_tests_properties(process PROPERTIES TIMEOUT 300)
