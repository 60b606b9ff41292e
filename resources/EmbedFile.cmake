# cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<name> -P EmbedFile.cmake
# Writes the bytes of INPUT as `extern const unsigned char SYMBOL[]` and its length as
# `extern const std::size_t SYMBOL_size`, in namespace morvellan_resources.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Line breaks every 32 bytes keep the generated file readable by editors and compilers.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}"
"// Generated from ${INPUT}; do not edit.
#include <cstddef>

namespace morvellan_resources
{
extern const unsigned char ${SYMBOL}[];
extern const std::size_t ${SYMBOL}_size;
alignas(16) const unsigned char ${SYMBOL}[] = {
${bytes}
0x00};
const std::size_t ${SYMBOL}_size = ${size};
} // namespace morvellan_resources
")
