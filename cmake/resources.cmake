# The executable's own resources (pictures, icon, layouts). The win32 build
# compiles them with windres; the other builds embed the same files as byte
# arrays so that the launcher stays one self-contained executable.
#
# Each entry: id, type name, file under resources/, and optionally
# LANGUAGE=<Windows language id> for a resource that the win32 build must
# carry under that language (the others keep the resource compiler's default).
set(LAUNCHER_RESOURCES
  "1;ICON;launcher.ico"
  "101;CUSTOM;background.png;LANGUAGE=2052"
  "201;BMP;buttons/close.bmp"
  "202;BMP;buttons/close_hot.bmp"
  "203;BMP;buttons/mini.bmp"
  "204;BMP;buttons/mini_hot.bmp"
  "205;BMP;buttons/home.bmp"
  "206;BMP;buttons/home_hot.bmp"
  "207;BMP;buttons/charge.bmp"
  "208;BMP;buttons/charge_hot.bmp"
  "209;BMP;buttons/service.bmp"
  "210;BMP;buttons/service_hot.bmp"
  "211;BMP;buttons/forum.bmp"
  "212;BMP;buttons/forum_hot.bmp"
  "301;LAYOUT;login.layout"
)

# The pictures (icon, background, buttons) come from the operator's folder
# when the build is given one (cmake/brand.cmake), under the same names.
set(LAUNCHER_BRAND_DIR "" CACHE PATH
    "Folder with the operator's pictures, named as in resources/; empty: ours")
set(LAUNCHER_PICTURE_TYPES ICON CUSTOM BMP)

# Calls back for each entry: sets RES_ID, RES_TYPE, RES_PATH (absolute) and
# RES_LANGUAGE (empty when the entry names none) in the caller's scope, one
# entry at a time, through the named macro.
macro(launcher_foreach_resource callback)
  set(_res_rest ${LAUNCHER_RESOURCES})
  list(LENGTH _res_rest _res_left)
  while(_res_left GREATER 0)
    list(POP_FRONT _res_rest RES_ID RES_TYPE _res_file)
    set(RES_PATH "${PROJECT_SOURCE_DIR}/resources/${_res_file}")
    if(LAUNCHER_BRAND_DIR AND RES_TYPE IN_LIST LAUNCHER_PICTURE_TYPES)
      set(RES_PATH "${LAUNCHER_BRAND_DIR}/${_res_file}")
    endif()
    set(RES_LANGUAGE "")
    list(LENGTH _res_rest _res_left)
    if(_res_left GREATER 0)
      list(GET _res_rest 0 _res_next)
      if(_res_next MATCHES "^LANGUAGE=([0-9]+)$")
        set(RES_LANGUAGE "${CMAKE_MATCH_1}")
        list(POP_FRONT _res_rest)
        math(EXPR _res_left "${_res_left} - 1")
      endif()
    endif()
    cmake_language(CALL ${callback})
  endwhile()
endmacro()

function(launcher_embed_resources target)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/embedded_resources.cpp")
  set(body "// Generated from resources/ by cmake/resources.cmake.\n#include \"framework/linux/resources.h\"\n\nnamespace {\n")
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
