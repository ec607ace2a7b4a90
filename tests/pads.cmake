# The game pad, through SDL's own joystick path: a virtual game controller attached in the SDL 2
# library that the compatibility layer loads. tests/pad/virtual_pad.cpp is the one SDL 2 source;
# it sees only SDL 2's headers and reaches the library with dlopen, never by linking.
pkg_check_modules(SDL2 REQUIRED sdl2)
find_package(Threads REQUIRED)
add_library(virtual_pad STATIC ${CMAKE_CURRENT_LIST_DIR}/pad/virtual_pad.cpp)
target_include_directories(virtual_pad PRIVATE ${SDL2_INCLUDE_DIRS})
target_link_libraries(virtual_pad PUBLIC ${CMAKE_DL_LIBS})
# also built into the preloaded helper of the end-to-end pad test
set_target_properties(virtual_pad PROPERTIES POSITION_INDEPENDENT_CODE ON)

add_executable(pads_test ${CMAKE_CURRENT_LIST_DIR}/pads_test.cpp)
target_link_libraries(pads_test PRIVATE drumcore virtual_pad GTest::gtest_main)
target_include_directories(pads_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(pads_test PRIVATE ASSET_DIR="${PROJECT_SOURCE_DIR}/assets")
# the program's own setting; then the user's 0, for a joystick that carries the handheld's indices
add_test(NAME pads_test COMMAND pads_test --gtest_filter=-HandheldLayout.*)
set_tests_properties(pads_test PROPERTIES ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy")
add_test(NAME pads_handheld_test COMMAND pads_test --gtest_filter=HandheldLayout.*)
set_tests_properties(pads_handheld_test PROPERTIES ENVIRONMENT
  "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;SDL12COMPAT_USE_GAME_CONTROLLERS=0")

drum_test(sdl_settings_test)

# The same pad preloaded into the real program, for tests/e2e/e2e_pad.py.
add_library(pad_preload SHARED ${CMAKE_CURRENT_LIST_DIR}/pad/pad_preload.cpp)
target_link_libraries(pad_preload PRIVATE virtual_pad Threads::Threads)
