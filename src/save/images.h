// The pictures a save carries (its icon frames and eyecatch) and the card's
// own icon file, decoded to 8-bit RGBA. Pure functions over bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct rgba_image {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<std::uint8_t> pixels;  // rows top to bottom, 4 bytes a pixel
};

/// One ARGB4444 colour as 8-bit R, G, B, A (each 4-bit channel times 17).
void argb4444_to_rgba(std::uint16_t colour, std::uint8_t* rgba);

/// The icon frames of the save whose header stands at `header_offset`, side
/// by side, or only frame `frame` (1-based). Nothing when the header is not
/// valid, the frame does not exist or the icons run past the end.
std::optional<rgba_image> decode_icons(std::span<const std::uint8_t> file,
                                       std::size_t header_offset, unsigned frame = 0);

/// The 72x56 eyecatch; nothing when there is none or it runs past the end.
std::optional<rgba_image> decode_eyecatch(std::span<const std::uint8_t> file,
                                          std::size_t header_offset);

/// The icon of the card's icon file: the colour icon, else the monochrome one.
std::optional<rgba_image> decode_icondata(std::span<const std::uint8_t> file);

/// The image enlarged `factor` times by repeating pixels.
rgba_image scale_image(const rgba_image& image, std::size_t factor);
