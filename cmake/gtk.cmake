# Linux: the GTK 3 adapter on X11, and its end-to-end tests under Xvfb.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(CRYPTO REQUIRED IMPORTED_TARGET libcrypto)
find_package(X11 REQUIRED)

# The adapter as a library: the launcher and the test programs share it.
add_library(launcher_gtk STATIC
  src/framework/gtk/platform.cpp
  src/framework/gtk/window.cpp
  src/framework/gtk/client_area.cpp
  src/framework/gtk/browser.cpp
  src/framework/gtk/browser_events.cpp
  src/framework/gtk/engine_library.cpp
  src/framework/gtk/page_downloads.cpp
  src/framework/gtk/imaging.cpp
  src/framework/linux/imaging.cpp
  src/framework/gtk/controls.cpp
  src/framework/gtk/label.cpp
  src/framework/gtk/control_drawing.cpp
  src/framework/gtk/progress.cpp
  src/framework/linux/platform.cpp
  src/framework/linux/folder_lock.cpp
  src/framework/linux/spawn.cpp
  src/framework/linux/player_folder.cpp
  src/framework/linux/profile.cpp
  src/framework/linux/profile_file.cpp
  src/framework/linux/replacement_file.cpp
  src/framework/linux/held_file.cpp
  src/framework/linux/download.cpp
  src/framework/linux/signature.cpp
)
# The engine's headers only: its library is opened at run time, when the first
# browser is made (engine_library.cpp).
target_include_directories(launcher_gtk PUBLIC ${WEBKIT_INCLUDE_DIRS})
target_compile_options(launcher_gtk PUBLIC ${WEBKIT_CFLAGS_OTHER})
target_link_libraries(launcher_gtk PUBLIC launcher_core PkgConfig::GTK3 PkgConfig::CURL PkgConfig::CRYPTO X11::X11 ${CMAKE_DL_LIBS})
# The rules call the files' and the network's free functions, which only the
# adapter defines: the two libraries need each other.
target_link_libraries(launcher_core PUBLIC launcher_gtk)
launcher_embed_resources(launcher_gtk)

add_executable(launcher src/main/gtk/main.cpp)
target_link_libraries(launcher PRIVATE launcher_gtk)
target_include_directories(launcher PRIVATE ${CMAKE_CURRENT_BINARY_DIR}) # launcher_identity.h

# update/upgrade: GTK for its message box and the launcher's small file
# pieces; nothing of the browser engine, libcurl or OpenSSL. UPGRADE_WAIT_MS
# shortens its wait for running launchers in the test build only.
function(launcher_upgrade_program target)
  add_executable(${target} src/main/gtk/upgrade_main.cpp
    src/framework/linux/folder_lock.cpp src/framework/linux/player_folder.cpp
    src/framework/linux/profile.cpp src/framework/linux/profile_file.cpp
    src/framework/linux/replacement_file.cpp src/framework/linux/spawn.cpp
    src/framework/portable/player_log.cpp)
  target_include_directories(${target} PRIVATE "${CMAKE_CURRENT_BINARY_DIR}")
  target_link_libraries(${target} PRIVATE upgrader_core PkgConfig::GTK3)
endfunction()
launcher_upgrade_program(upgrade)
launcher_upgrade_program(short_wait_upgrade)
target_compile_definitions(short_wait_upgrade PRIVATE UPGRADE_WAIT_MS=2000)
set(GTK_E2E_PROGRAM_upgrade_program upgrade)

# --- end-to-end tests: the real launcher on one private Xvfb for the run ---
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(GTK_E2E_STATE "${CMAKE_CURRENT_BINARY_DIR}/e2e-xvfb.state")

add_test(NAME gtk.xvfb.start
         COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/support/xvfb_fixture.py start ${GTK_E2E_STATE})
set_tests_properties(gtk.xvfb.start PROPERTIES FIXTURES_SETUP gtk_xvfb)
add_test(NAME gtk.xvfb.stop
         COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tests/support/xvfb_fixture.py stop ${GTK_E2E_STATE})
set_tests_properties(gtk.xvfb.stop PROPERTIES FIXTURES_CLEANUP gtk_xvfb)

# Test programs, each the program under test of the script named after it
# (the others drive the launcher).
add_executable(button_host tests/support/button_host_gtk.cpp)
target_link_libraries(button_host PRIVATE launcher_gtk)
set(GTK_E2E_PROGRAM_image_button button_host)
# The launcher with test settings (tests/support/test_launcher.cpp): the test
# key of signed upgrades in place of the built-in one; a version check that
# gives up after 3 s (the hostile-server script runs the real launcher beside it).
launcher_key_source("${PROJECT_SOURCE_DIR}/tests/support/upgrade_test_key.pub.pem" testsupport
                    kTestUpgradeKey "${CMAKE_CURRENT_BINARY_DIR}/test_upgrade_key.cpp")
add_executable(signed_launcher tests/support/test_launcher.cpp
  "${CMAKE_CURRENT_BINARY_DIR}/test_upgrade_key.cpp")
target_link_libraries(signed_launcher PRIVATE launcher_gtk)
add_executable(short_check_launcher tests/support/test_launcher.cpp)
target_compile_definitions(short_check_launcher PRIVATE LAUNCHER_TEST_CHECK_MS=3000)
target_link_libraries(short_check_launcher PRIVATE launcher_gtk)
set(GTK_E2E_PROGRAM_hostile_server short_check_launcher)

# gtk_*.py, and the scripts shared with the win32 build.
file(GLOB GTK_E2E_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/e2e/gtk_*.py)
foreach(script IN LISTS GTK_E2E_TESTS ITEMS ${PROJECT_SOURCE_DIR}/tests/e2e/hostile_server.py
        ${PROJECT_SOURCE_DIR}/tests/e2e/upgrade_road.py)
  get_filename_component(name ${script} NAME_WE)
  string(REGEX REPLACE "^gtk_" "" name ${name})
  set(program launcher)
  if(DEFINED GTK_E2E_PROGRAM_${name})
    set(program ${GTK_E2E_PROGRAM_${name}})
  endif()
  add_test(NAME gtk.e2e.${name} COMMAND Python3::Interpreter ${script} $<TARGET_FILE:${program}>)
  # One display, one pointer: these tests take turns.
  set_tests_properties(gtk.e2e.${name} PROPERTIES
    FIXTURES_REQUIRED gtk_xvfb
    RESOURCE_LOCK gtk_display
    ENVIRONMENT "E2E_XVFB_STATE=${GTK_E2E_STATE}"
    TIMEOUT 60)
endforeach()
# Twelve launcher starts, one of them on a 50 MB launcher.ini.
set_tests_properties(gtk.e2e.bad_config PROPERTIES TIMEOUT 240)
# Six desktops, each with its own display server, buses and window manager.
set_tests_properties(gtk.e2e.desktops PROPERTIES TIMEOUT 300)
set_property(TEST gtk.e2e.upgrade APPEND PROPERTY ENVIRONMENT
  "E2E_SIGNED_LAUNCHER=$<TARGET_FILE:signed_launcher>")
set_property(TEST gtk.e2e.upgrade_program APPEND PROPERTY ENVIRONMENT
  "E2E_SHORT_WAIT_UPGRADE=$<TARGET_FILE:short_wait_upgrade>")
# Three releases, two of them built in build folders of their own.
set_tests_properties(gtk.e2e.package PROPERTIES TIMEOUT 900)
set_tests_properties(gtk.e2e.hostile_server PROPERTIES TIMEOUT 180)
# Two releases, the first in a build folder of its own.
set_tests_properties(gtk.e2e.upgrade_road PROPERTIES TIMEOUT 900)

# clang-tidy (.clang-tidy) over the gtk adapter and its entry points; the
# headless suite covers the rest of src/.
add_test(NAME gtk.tidy
         COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -DBUILD=${PROJECT_BINARY_DIR}
                 "-DFILES=^${PROJECT_SOURCE_DIR}/src/(framework/gtk|main/gtk)/"
                 -P ${PROJECT_SOURCE_DIR}/tests/support/check_tidy.cmake)
set_tests_properties(gtk.tidy PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED: " TIMEOUT 900)
