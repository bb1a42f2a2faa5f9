# Headless: the scripted platform and the unit tests.
find_package(GTest REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
pkg_check_modules(CRYPTO REQUIRED IMPORTED_TARGET libcrypto)

add_library(launcher_headless STATIC
  src/framework/linux/platform.cpp
  src/framework/linux/folder_lock.cpp
  src/framework/linux/player_folder.cpp
  src/framework/linux/profile.cpp
  src/framework/linux/profile_file.cpp
  src/framework/linux/replacement_file.cpp
  src/framework/linux/held_file.cpp
  src/framework/headless/platform.cpp
  src/framework/headless/imaging.cpp
  src/framework/linux/imaging.cpp
  src/framework/headless/controls.cpp
  src/framework/linux/download.cpp
  src/framework/linux/signature.cpp
)
target_link_libraries(launcher_headless PUBLIC launcher_core PkgConfig::CAIRO PRIVATE PkgConfig::CURL PkgConfig::CRYPTO)
# The rules call the files' and the network's free functions, which only the
# adapter defines: the two libraries need each other.
target_link_libraries(launcher_core PUBLIC launcher_headless)
launcher_embed_resources(launcher_headless)

file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS tests/unit/*.cpp)
# The test key pair for signed upgrades: the public half compiled in, the
# private half signs through tools/upgrade-key.sh.
launcher_key_source("${PROJECT_SOURCE_DIR}/tests/support/upgrade_test_key.pub.pem" testsupport
                    kTestUpgradeKey "${CMAKE_CURRENT_BINARY_DIR}/test_upgrade_key.cpp")
add_executable(unit_tests ${UNIT_TEST_SOURCES} tests/support/test_server.cpp
  "${CMAKE_CURRENT_BINARY_DIR}/test_upgrade_key.cpp")
target_include_directories(unit_tests PRIVATE tests)
# The download tests start tests/support/test_server.py with the interpreter
# itself, not a version manager's wrapper script, which would add its own start
# to every test.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
execute_process(COMMAND ${Python3_EXECUTABLE} -c "import sys; print(sys.executable, end='')"
                OUTPUT_VARIABLE TEST_PYTHON COMMAND_ERROR_IS_FATAL ANY)
target_compile_definitions(unit_tests PRIVATE TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                              TEST_PYTHON="${TEST_PYTHON}")
target_link_libraries(unit_tests PRIVATE launcher_headless upgrader_core GTest::gtest GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)

# Includes run down the layering; code outside src/framework has no OS or toolkit header.
add_test(NAME layering.includes_run_down
         COMMAND ${CMAKE_COMMAND} -DSRC=${PROJECT_SOURCE_DIR}/src -P ${PROJECT_SOURCE_DIR}/tests/support/check_layering.cmake)

# The native twin of inidump.exe for the win32 build's INI differential test.
add_executable(inidump_native tests/support/inidump_native.cpp)
target_link_libraries(inidump_native PRIVATE launcher_headless)

# The committed artwork: the background picture and the button pictures.
add_test(NAME artwork.committed_pictures
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/build/artwork.py)
# An operator's pictures: a wrong one stops the configuration, naming it.
add_test(NAME artwork.operator_pictures
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/build/brand_art.py)

# The house's layout (.clang-format) over the C and C++ sources.
add_test(NAME format.clang_format
         COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -P ${PROJECT_SOURCE_DIR}/tests/support/check_format.cmake)
set_tests_properties(format.clang_format PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED: ")

# clang-tidy (.clang-tidy) over this build's translation units in src/.
add_test(NAME tidy.clang_tidy
         COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -DBUILD=${PROJECT_BINARY_DIR}
                 -P ${PROJECT_SOURCE_DIR}/tests/support/check_tidy.cmake)
set_tests_properties(tidy.clang_tidy PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED: " TIMEOUT 900)
