# Fuzz targets (clang's libFuzzer), each with a short run over its committed
# seed corpus as a test. Only the fuzzed engines are built.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz preset needs clang (libFuzzer)")
endif()
set_target_properties(launcher_core PROPERTIES EXCLUDE_FROM_ALL ON)

set(FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
add_executable(profile_fuzzer
  tests/fuzz/profile_fuzzer.cpp
  src/framework/linux/profile.cpp
  src/framework/linux/profile_file.cpp
  src/framework/linux/replacement_file.cpp
)
target_include_directories(profile_fuzzer PRIVATE src)
# Reads take the file in small pieces, so that the inputs' lines cross them.
target_compile_definitions(profile_fuzzer PRIVATE PROFILE_READ_PIECE=61)
target_compile_options(profile_fuzzer PRIVATE ${FUZZ_FLAGS})
target_link_options(profile_fuzzer PRIVATE ${FUZZ_FLAGS})

# New finds go to a scratch corpus in the build folder, never into the
# committed one; a failing input is kept in fuzz-work/artifacts/.
set(FUZZ_SECONDS 20 CACHE STRING "Length of the fuzz tests' run")
set(FUZZ_WORK ${CMAKE_BINARY_DIR}/fuzz-work)
file(MAKE_DIRECTORY ${FUZZ_WORK}/corpus ${FUZZ_WORK}/artifacts)
add_test(NAME fuzz.profile
         COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                 $<TARGET_FILE:profile_fuzzer> -max_total_time=${FUZZ_SECONDS} -timeout=10
                 -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1
                 -artifact_prefix=${FUZZ_WORK}/artifacts/
                 ${FUZZ_WORK}/corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/profile_corpus)
