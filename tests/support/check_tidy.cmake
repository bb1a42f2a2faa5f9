# Runs clang-tidy (.clang-tidy) over the translation units of src/ that the
# build in BUILD compiles (its compile_commands.json), two at a time; fails
# on any finding. Skips (with the line ctest looks for) when clang-tidy is
# not installed.
cmake_minimum_required(VERSION 3.25)
find_program(RUN_CLANG_TIDY NAMES run-clang-tidy-14 run-clang-tidy)
find_program(CLANG_TIDY NAMES clang-tidy-14 clang-tidy)
if(NOT RUN_CLANG_TIDY OR NOT CLANG_TIDY)
  message("SKIPPED: clang-tidy is not installed (tools/setup-debian.sh installs it)")
  return()
endif()
execute_process(COMMAND "${RUN_CLANG_TIDY}" -quiet -j 2 -clang-tidy-binary "${CLANG_TIDY}"
                        -p "${BUILD}" "^${ROOT}/src/"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "clang-tidy has findings (exit ${rc}):\n${out}\n${err}")
endif()
message(STATUS "clang-tidy: no findings")
