# Windows: launcher.exe, a 32-bit GUI executable cross-compiled with
# mingw-w64, with its resources compiled by windres. The C and C++ runtimes
# are linked in, so the executable imports system DLLs only.
enable_language(RC)

add_library(launcher_win32 STATIC
  src/framework/win32/win32_platform.cpp
  src/framework/win32/win32_window.cpp
  src/framework/win32/text.cpp
  src/framework/win32/download.cpp
  src/framework/win32/held_file.cpp
  src/framework/win32/signature.cpp
  src/framework/win32/browser_ie.cpp
  src/framework/win32/browser_ie_events.cpp
  src/framework/win32/imaging_gdiplus.cpp
  src/framework/win32/control_surface_win32.cpp
  src/framework/win32/label_win32.cpp
  src/framework/win32/progress_win32.cpp
)
target_compile_definitions(launcher_win32 PUBLIC
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
target_link_libraries(launcher_win32 PUBLIC launcher_core ole32 oleaut32 shell32 user32 gdi32 gdiplus urlmon winhttp uuid comctl32 crypt32 advapi32)

set(LAUNCHER_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# The resource list shared with the other builds, as resource statements:
# the same id and type name, the icon as an icon group. An entry with a
# language gets a LANGUAGE statement (primary, sub language) before it and the
# resource compiler's default, US English, again after it, so that everything
# else keeps the language it had.
set(rc_out "${CMAKE_CURRENT_BINARY_DIR}/launcher_resources.rc")
set(rc_body "// Generated from cmake/resources.cmake by cmake/win32.cmake.\n")
set(rc_files "")
function(_rc_language_statement id out)
  math(EXPR primary "${id} & 1023" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR sub "${id} >> 10" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x(.)$" "0x0\\1" primary "${primary}")
  string(REGEX REPLACE "^0x(.)$" "0x0\\1" sub "${sub}")
  set(${out} "LANGUAGE ${primary}, ${sub}\n" PARENT_SCOPE)
endfunction()
_rc_language_statement(1033 rc_default_language)
macro(_rc_one)
  list(APPEND rc_files "${RES_PATH}")
  if(RES_LANGUAGE)
    _rc_language_statement(${RES_LANGUAGE} rc_language)
    string(APPEND rc_body "${rc_language}")
  endif()
  string(APPEND rc_body "${RES_ID} ${RES_TYPE} \"${RES_PATH}\"\n")
  if(RES_LANGUAGE)
    string(APPEND rc_body "${rc_default_language}")
  endif()
endmacro()
launcher_foreach_resource(_rc_one)
file(WRITE "${rc_out}.tmp" "${rc_body}")
file(COPY_FILE "${rc_out}.tmp" "${rc_out}" ONLY_IF_DIFFERENT)
# windres reports no dependencies of its own.
set_source_files_properties(resources/launcher.rc PROPERTIES
  OBJECT_DEPENDS "${rc_out};${CMAKE_CURRENT_BINARY_DIR}/launcher_identity.h;${PROJECT_SOURCE_DIR}/resources/launcher.manifest;${rc_files}")

function(launcher_win32_exe target)
  target_include_directories(${target} PRIVATE "${CMAKE_CURRENT_BINARY_DIR}" "${PROJECT_SOURCE_DIR}/resources")
  # No link time in the PE header: the same sources link to the same bytes.
  target_link_options(${target} PRIVATE -municode ${LAUNCHER_STATIC_RUNTIME} -Wl,--no-insert-timestamp
                      $<$<CONFIG:MinSizeRel>:-s>)
endfunction()

add_executable(launcher WIN32 src/framework/win32/main.cpp resources/launcher.rc)
target_link_libraries(launcher PRIVATE launcher_win32)
launcher_win32_exe(launcher)

# Test programs, run under Wine by the tests below.
add_executable(win32_probe WIN32 tests/support/win32_probe.cpp resources/launcher.rc)
target_link_libraries(win32_probe PRIVATE launcher_win32)
launcher_win32_exe(win32_probe)

# The shaped windows and the control host in conditions the launcher never
# sets up itself (a failing GDI+ start, a colour-keyed form with controls).
add_executable(face_probe WIN32 tests/support/face_probe_win32.cpp resources/launcher.rc)
target_link_libraries(face_probe PRIVATE launcher_win32)
launcher_win32_exe(face_probe)

add_executable(inidump tests/support/inidump_win32.cpp)
target_compile_definitions(inidump PRIVATE WIN32_LEAN_AND_MEAN)
target_link_options(inidump PRIVATE ${LAUNCHER_STATIC_RUNTIME})

# --- tests: one Xvfb and one Wine prefix for the whole run -----------------
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(E2E_STATE_DIR "${CMAKE_CURRENT_BINARY_DIR}/e2e")
set(WINE_PREFIX_DIR "${CMAKE_CURRENT_BINARY_DIR}/wineprefix")
set(E2E_ENV
  "E2E_XVFB_STATE=${E2E_STATE_DIR}/xvfb.state"
  "E2E_WINEPREFIX=${WINE_PREFIX_DIR}"
  "E2E_BUILD_DIR=${CMAKE_CURRENT_BINARY_DIR}"
  "E2E_LAUNCHER=$<TARGET_FILE:launcher>"
  "E2E_PROBE=$<TARGET_FILE:win32_probe>"
  "E2E_FACE_PROBE=$<TARGET_FILE:face_probe>"
  "E2E_INIDUMP=$<TARGET_FILE:inidump>"
  "E2E_OBJDUMP=${CMAKE_OBJDUMP}")
file(MAKE_DIRECTORY "${E2E_STATE_DIR}")

# One test run at a time in this build tree: they would share the prefix,
# its server and the Xvfb state file.
add_test(NAME win32.lock
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/support/wine_env.py lock)
add_test(NAME win32.unlock
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/support/wine_env.py unlock)
set_tests_properties(win32.lock PROPERTIES FIXTURES_SETUP win32_lock)
set_tests_properties(win32.unlock PROPERTIES FIXTURES_CLEANUP win32_lock DEPENDS win32.xvfb.stop)
add_test(NAME win32.xvfb.start
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/support/xvfb_fixture.py start ${E2E_STATE_DIR}/xvfb.state)
add_test(NAME win32.wine.start
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/support/wine_env.py start)
add_test(NAME win32.wine.stop
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/support/wine_env.py stop)
add_test(NAME win32.xvfb.stop
         COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/support/xvfb_fixture.py stop ${E2E_STATE_DIR}/xvfb.state)
set_tests_properties(win32.xvfb.start PROPERTIES FIXTURES_SETUP win32_xvfb FIXTURES_REQUIRED win32_lock)
set_tests_properties(win32.xvfb.stop PROPERTIES FIXTURES_CLEANUP win32_xvfb)
set_tests_properties(win32.wine.start PROPERTIES FIXTURES_SETUP win32_wine FIXTURES_REQUIRED win32_xvfb)
# wineserver goes before Xvfb.
set_tests_properties(win32.wine.stop PROPERTIES FIXTURES_CLEANUP win32_wine DEPENDS win32.wine.start)
set_tests_properties(win32.xvfb.stop PROPERTIES DEPENDS win32.wine.stop)

set(WIN32_TESTS "")
file(GLOB WIN32_TEST_SCRIPTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/e2e/win32_*.py)
foreach(script IN LISTS WIN32_TEST_SCRIPTS ITEMS ${PROJECT_SOURCE_DIR}/tests/e2e/ini_differential.py
        ${PROJECT_SOURCE_DIR}/tests/e2e/hostile_server.py)
  get_filename_component(name "${script}" NAME_WE)
  add_test(NAME win32.${name} COMMAND ${Python3_EXECUTABLE} ${script})
  list(APPEND WIN32_TESTS win32.${name})
endforeach()
set_tests_properties(${WIN32_TESTS} PROPERTIES
  FIXTURES_REQUIRED "win32_xvfb;win32_wine" RESOURCE_LOCK wine TIMEOUT 120)
set_tests_properties(win32.lock win32.unlock win32.wine.start win32.wine.stop win32.xvfb.start win32.xvfb.stop ${WIN32_TESTS}
  PROPERTIES ENVIRONMENT "${E2E_ENV}")
# Twelve launcher starts, one of them on a 50 MB launcher.ini.
if(TEST win32.win32_bad_config)
  set_tests_properties(win32.win32_bad_config PROPERTIES TIMEOUT 300)
endif()
# Two releases built in build folders of their own before the first start.
if(TEST win32.win32_package)
  set_tests_properties(win32.win32_package PROPERTIES TIMEOUT 900)
endif()
# The image checks need no Wine.
if(TEST win32.win32_image)
  set_tests_properties(win32.win32_image PROPERTIES FIXTURES_REQUIRED "" RESOURCE_LOCK "")
endif()

# Downloader and upgrade tests: a program that calls the downloader directly,
# and a stand-in upgrade program that leaves a marker beside itself.
add_executable(download_probe tests/support/download_probe_win32.cpp)
target_link_libraries(download_probe PRIVATE launcher_win32)
launcher_win32_exe(download_probe)
add_executable(upgrade_marker WIN32 tests/support/upgrade_marker.cpp)
launcher_win32_exe(upgrade_marker)
# The browser adapter: its event sink and document reads with built
# arguments, and the real control under Wine.
add_executable(browser_probe WIN32 tests/support/browser_probe_win32.cpp
  tests/support/fake_document_win32.c)
target_link_libraries(browser_probe PRIVATE launcher_win32)
launcher_win32_exe(browser_probe)
foreach(t win32.win32_browser win32.win32_faults)
  if(TEST ${t})
    set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT
      "E2E_BROWSER_PROBE=$<TARGET_FILE:browser_probe>")
  endif()
endforeach()

# The launcher with test settings (tests/support/test_launcher.cpp): the test
# key of signed upgrades in place of the built-in one; a version check that
# gives up after 3 s.
launcher_key_source("${PROJECT_SOURCE_DIR}/tests/support/upgrade_test_key.pub.pem" testsupport
                    kTestUpgradeKey "${CMAKE_CURRENT_BINARY_DIR}/test_upgrade_key.cpp")
add_executable(signed_launcher WIN32 tests/support/test_launcher.cpp
  "${CMAKE_CURRENT_BINARY_DIR}/test_upgrade_key.cpp" resources/launcher.rc)
target_link_libraries(signed_launcher PRIVATE launcher_win32)
launcher_win32_exe(signed_launcher)
add_executable(short_check_launcher WIN32 tests/support/test_launcher.cpp resources/launcher.rc)
target_compile_definitions(short_check_launcher PRIVATE LAUNCHER_TEST_CHECK_MS=3000)
target_link_libraries(short_check_launcher PRIVATE launcher_win32)
launcher_win32_exe(short_check_launcher)

foreach(t win32.win32_download win32.win32_upgrade win32.win32_signed_upgrade win32.win32_faults
          win32.hostile_server)
  if(TEST ${t})
    set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT
      "E2E_DOWNLOAD_PROBE=$<TARGET_FILE:download_probe>" "E2E_UPGRADE_MARKER=$<TARGET_FILE:upgrade_marker>"
      "E2E_SIGNED_LAUNCHER=$<TARGET_FILE:signed_launcher>"
      "E2E_SHORT_CHECK_LAUNCHER=$<TARGET_FILE:short_check_launcher>")
  endif()
endforeach()
if(TEST win32.hostile_server)
  set_tests_properties(win32.hostile_server PROPERTIES TIMEOUT 300)
endif()
