# Writes OUTPUT, a C++ source that holds the bytes of INPUT as the array SYMBOL (with a
# terminating NUL not counted in SYMBOL_size), in NAMESPACE. Run at build time with -P, so
# that the data file stays the only copy and a change to it rebuilds what embeds it.
if(NOT INPUT OR NOT OUTPUT OR NOT SYMBOL OR NOT NAMESPACE)
    message(FATAL_ERROR "embedfile.cmake needs INPUT, OUTPUT, SYMBOL and NAMESPACE")
endif()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
# Sixteen bytes a line.
string(REPEAT "[0-9a-f]" 32 line)
string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp" "// Generated from ${name} at build time; edit that file instead.\n#include <cstddef>\n\nnamespace ${NAMESPACE} {\nextern const char ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}_size;\nconst char ${SYMBOL}[] = {\n${bytes}'\\0'};\nconst std::size_t ${SYMBOL}_size = ${size};\n}  // namespace ${NAMESPACE}\n")
# Only a changed table recompiles its source.
configure_file("${OUTPUT}.tmp" "${OUTPUT}" COPYONLY)
file(REMOVE "${OUTPUT}.tmp")
