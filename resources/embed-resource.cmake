# Writes a C++ source that holds a file's bytes, so the program carries the
# resource wherever it runs. Invoked at build time:
#   cmake -DINPUT=<file> -DOUTPUT=<.cpp> -DSYMBOL=<name> -P embed-resource.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} at build time; do not edit.
#include <cstddef>

namespace tollvane {

extern const unsigned char ${SYMBOL}[];
extern const size_t ${SYMBOL}Size;

const unsigned char ${SYMBOL}[] = {
    ${bytes}
};
const size_t ${SYMBOL}Size = ${size};

}  // namespace tollvane
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
