# Writes OUTPUT, a C++ file defining the string_view NAME with the bytes of
# INPUT. Run as cmake -DINPUT=... -DOUTPUT=... -DNAME=... -P embed_text.cmake.
file(READ ${INPUT} bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," chars "${bytes}")
string(REGEX REPLACE "(('[^']+',){16})" "\\1\n    " chars "${chars}")
file(WRITE ${OUTPUT}
"// Generated from ${INPUT}; do not edit.
#include <string_view>

namespace {
constexpr char text[] = {
    ${chars}
};
}  // namespace

extern const std::string_view ${NAME}(text, sizeof text);
")
