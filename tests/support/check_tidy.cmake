# Runs clang-tidy (.clang-tidy) over the translation units that the build in
# BUILD compiles (its compile_commands.json) and whose paths match FILES (a
# regular expression; by default all of src/), two at a time; fails on any
# finding. A cross build names its target (TARGET) and the compiler whose C++
# headers it uses (CXX). Skips (with the line ctest looks for) when clang-tidy
# is not installed.
cmake_minimum_required(VERSION 3.25)
find_program(RUN_CLANG_TIDY NAMES run-clang-tidy-14 run-clang-tidy)
find_program(CLANG_TIDY NAMES clang-tidy-14 clang-tidy)
if(NOT RUN_CLANG_TIDY OR NOT CLANG_TIDY)
  message("SKIPPED: clang-tidy is not installed (tools/setup-debian.sh installs it)")
  return()
endif()
if(NOT FILES)
  set(FILES "^${ROOT}/src/")
endif()
set(extra)
if(TARGET)
  # clang finds a cross compiler's C headers from the target, not its C++
  # ones: those are the compiler's own search list.
  list(APPEND extra "-extra-arg=--target=${TARGET}" "-extra-arg=-nostdinc++")
  execute_process(COMMAND "${CXX}" -x c++ -E -v - INPUT_FILE /dev/null
                  OUTPUT_QUIET ERROR_VARIABLE search)
  string(REGEX MATCHALL "\n [^\n]*/c\\+\\+[^\n]*" dirs "${search}")
  foreach(dir IN LISTS dirs)
    string(STRIP "${dir}" dir)
    list(APPEND extra "-extra-arg=-isystem${dir}")
  endforeach()
endif()
execute_process(COMMAND "${RUN_CLANG_TIDY}" -quiet -j 2 -clang-tidy-binary "${CLANG_TIDY}"
                        ${extra} -p "${BUILD}" "${FILES}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "clang-tidy has findings (exit ${rc}):\n${out}\n${err}")
endif()
message(STATUS "clang-tidy: no findings")
