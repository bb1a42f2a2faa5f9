# Fails when a C or C++ file under src/, tests/ or tools/ is not laid out as
# .clang-format says; names each file and its first differences. Skips (with
# the line ctest looks for) when clang-format is not installed. The layout
# differs between clang-format releases: 14 is the one the house follows.
cmake_minimum_required(VERSION 3.25)
find_program(CLANG_FORMAT NAMES clang-format-14 clang-format)
if(NOT CLANG_FORMAT)
  message("SKIPPED: clang-format is not installed (tools/setup-debian.sh installs it)")
  return()
endif()
file(GLOB_RECURSE files RELATIVE "${ROOT}"
     "${ROOT}/src/*.h" "${ROOT}/src/*.cpp" "${ROOT}/src/*.c"
     "${ROOT}/tests/*.h" "${ROOT}/tests/*.cpp" "${ROOT}/tests/*.c"
     "${ROOT}/tools/*.h" "${ROOT}/tools/*.cpp" "${ROOT}/tools/*.c")
list(SORT files)
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${files}
                WORKING_DIRECTORY "${ROOT}" RESULT_VARIABLE rc ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  string(REGEX MATCHALL "[^\n]+: error: code should be clang-formatted" hits "${out}")
  set(flagged "")
  foreach(hit IN LISTS hits)
    string(REGEX REPLACE ":[0-9]+:[0-9]+: error:.*" "" file "${hit}")
    list(APPEND flagged "${file}")
  endforeach()
  list(REMOVE_DUPLICATES flagged)
  list(LENGTH flagged n)
  string(REPLACE ";" "\n  " names "${flagged}")
  string(SUBSTRING "${out}" 0 4000 head)
  message(FATAL_ERROR "${n} files are not clang-formatted (clang-format -i FILE mends them):\n"
                      "  ${names}\n\n${head}")
endif()
list(LENGTH files n)
message(STATUS "${n} files laid out as .clang-format says")
