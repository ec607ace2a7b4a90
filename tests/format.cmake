# Every C++ file follows the repository's .clang-format.
if(CMAKE_CROSSCOMPILING) # the rest needs the build machine's tools: native builds only
  return()
endif()
find_program(CLANG_FORMAT clang-format REQUIRED)
file(GLOB_RECURSE formatted_sources
  ${PROJECT_SOURCE_DIR}/*.cpp ${PROJECT_SOURCE_DIR}/*.h)
list(FILTER formatted_sources EXCLUDE REGEX "/build[^/]*/")
add_test(NAME format COMMAND ${CLANG_FORMAT} --dry-run -Werror ${formatted_sources})
