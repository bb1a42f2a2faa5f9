# The executable's own resources (pictures, icon, layouts). The win32 build
# compiles them with windres; the other builds embed the same files as byte
# arrays so that the launcher stays one self-contained executable.
#
# Each entry: id, type name, file under resources/.
set(LAUNCHER_RESOURCES
  "1;ICON;launcher.ico"
  "101;CUSTOM;background.png"
)

# Calls back for each entry: sets RES_ID, RES_TYPE and RES_PATH (absolute) in
# the caller's scope, one entry at a time, through the named macro.
macro(launcher_foreach_resource callback)
  list(LENGTH LAUNCHER_RESOURCES _res_count)
  set(_res_i 0)
  while(_res_i LESS _res_count)
    list(GET LAUNCHER_RESOURCES ${_res_i} RES_ID)
    math(EXPR _res_j "${_res_i} + 1")
    list(GET LAUNCHER_RESOURCES ${_res_j} RES_TYPE)
    math(EXPR _res_j "${_res_i} + 2")
    list(GET LAUNCHER_RESOURCES ${_res_j} _res_file)
    set(RES_PATH "${PROJECT_SOURCE_DIR}/resources/${_res_file}")
    cmake_language(CALL ${callback})
    math(EXPR _res_i "${_res_i} + 3")
  endwhile()
endmacro()

function(launcher_embed_resources target)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/embedded_resources.cpp")
  set(body "// Generated from resources/ by cmake/resources.cmake.\n#include \"framework/resources.h\"\n\nnamespace {\n")
  set(table "")
  set(n 0)
  macro(_embed_one)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${RES_PATH}")
    file(READ "${RES_PATH}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND body "const unsigned char data${n}[] = {${bytes}};\n")
    string(APPEND table "    {${RES_ID}, \"${RES_TYPE}\", data${n}, sizeof data${n}},\n")
    math(EXPR n "${n} + 1")
  endmacro()
  launcher_foreach_resource(_embed_one)
  string(APPEND body "const fw::EmbeddedResource table[] = {\n${table}};\n} // namespace\n\n")
  string(APPEND body "std::span<const fw::EmbeddedResource> fw::embeddedResources() { return table; }\n")
  file(WRITE "${out}.tmp" "${body}")
  file(COPY_FILE "${out}.tmp" "${out}" ONLY_IF_DIFFERENT)
  target_sources(${target} PRIVATE "${out}")
endfunction()
