# Measurement test of the generated assets; included from tests/CMakeLists.txt,
# which provides SDL_LIBS and the SDL include directories.
add_executable(assets_test ${CMAKE_CURRENT_LIST_DIR}/assets_test.cpp)
target_link_libraries(assets_test PRIVATE GTest::gtest_main ${SDL_LIBS})
target_compile_definitions(assets_test PRIVATE ASSET_DIR="${PROJECT_SOURCE_DIR}/assets")
add_test(NAME assets COMMAND assets_test)
