# Writes a C++ source holding a file's bytes as an array (cmake -P).
#   -DINPUT=<file> -DOUTPUT=<cpp> -DSYMBOL=<name in namespace lcx>
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Break the one long line every 32 bytes so compilers and editors stay happy.
set(row "")
foreach(i RANGE 1 32)
  string(APPEND row "0x[0-9a-f][0-9a-f],")
endforeach()
string(REGEX REPLACE "(${row})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by resources/embed.cmake; do not edit.\n"
  "#include <cstddef>\n#include <cstdint>\n\nnamespace lcx {\n"
  "extern const uint8_t ${SYMBOL}[];\nextern const size_t ${SYMBOL}Size;\n"
  "alignas(16) const uint8_t ${SYMBOL}[] = {\n${bytes}\n};\n"
  "const size_t ${SYMBOL}Size = ${size};\n}  // namespace lcx\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
