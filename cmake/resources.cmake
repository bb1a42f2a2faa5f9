# The executable's own resources (pictures, icon, layouts). The win32 build
# compiles them with windres; the other builds embed the same files as byte
# arrays so that the launcher stays one self-contained executable.
#
# Each entry: id, type name, file under resources/.
set(LAUNCHER_RESOURCES
  "1;ICON;launcher.ico"
)

function(launcher_embed_resources target)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/embedded_resources.cpp")
  set(body "// Generated from resources/ by cmake/resources.cmake.\n#include \"framework/resources.h\"\n\nnamespace {\n")
  set(table "")
  set(n 0)
  list(LENGTH LAUNCHER_RESOURCES count)
  set(i 0)
  while(i LESS count)
    list(GET LAUNCHER_RESOURCES ${i} id)
    math(EXPR j "${i} + 1")
    list(GET LAUNCHER_RESOURCES ${j} type)
    math(EXPR j "${i} + 2")
    list(GET LAUNCHER_RESOURCES ${j} file)
    set(path "${PROJECT_SOURCE_DIR}/resources/${file}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    file(READ "${path}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND body "const unsigned char data${n}[] = {${bytes}};\n")
    string(APPEND table "    {${id}, \"${type}\", data${n}, sizeof data${n}},\n")
    math(EXPR n "${n} + 1")
    math(EXPR i "${i} + 3")
  endwhile()
  string(APPEND body "const fw::EmbeddedResource table[] = {\n${table}};\n} // namespace\n\n")
  string(APPEND body "std::span<const fw::EmbeddedResource> fw::embeddedResources() { return table; }\n")
  file(WRITE "${out}.tmp" "${body}")
  file(COPY_FILE "${out}.tmp" "${out}" ONLY_IF_DIFFERENT)
  target_sources(${target} PRIVATE "${out}")
endfunction()
