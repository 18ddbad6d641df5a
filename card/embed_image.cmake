# Writes OUTPUT, a C++ file defining vmu_sender_image() over the bytes of
# INPUT, the assembled sender. Run as
#     cmake -DINPUT=... -DOUTPUT=... -P embed_image.cmake
file(READ ${INPUT} bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," values "${bytes}")
string(REPEAT "0x..," 16 line)  # CMake's expressions have no {16}
string(REGEX REPLACE "(${line})" "\\1\n    " values "${values}")
file(WRITE ${OUTPUT}
"// Generated from ${INPUT}; do not edit.
#include \"vmu/cpu_card/sender_image.h\"

namespace {
constexpr std::uint8_t image[] = {
    ${values}
};
}  // namespace

std::span<const std::uint8_t> vmu_sender_image() {
    return image;
}
")
