// Decoding icons and eyecatches.
#include "save/images.h"

#include <algorithm>

#include "save/save_header.h"

namespace {

constexpr std::size_t ICON_SIDE = 32;
constexpr std::size_t EYECATCH_WIDTH = 72;
constexpr std::size_t EYECATCH_HEIGHT = 56;

rgba_image blank(std::size_t width, std::size_t height) {
    return {width, height, std::vector<std::uint8_t>(width * height * 4, 0)};
}

// A picture of 4-bit palette indices, high nibble left, into `image` at column `x0`.
void draw_nibbles(rgba_image& image, std::size_t x0, std::size_t width, std::size_t height,
                  std::span<const std::uint8_t> indices, std::span<const std::uint16_t> palette) {
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t pair = indices[(y * width + x) / 2];
            const unsigned index = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
            argb4444_to_rgba(palette[index], &image.pixels[(y * image.width + x0 + x) * 4]);
        }
    }
}

std::vector<std::uint16_t> read_palette(std::span<const std::uint8_t> bytes, std::size_t count) {
    std::vector<std::uint16_t> palette(count);
    for (std::size_t i = 0; i < count; ++i)
        palette[i] = get_u16(bytes, 2 * i);
    return palette;
}

}  // namespace

void argb4444_to_rgba(std::uint16_t colour, std::uint8_t* rgba) {
    rgba[0] = static_cast<std::uint8_t>((colour >> 8 & 0x0F) * 17);
    rgba[1] = static_cast<std::uint8_t>((colour >> 4 & 0x0F) * 17);
    rgba[2] = static_cast<std::uint8_t>((colour & 0x0F) * 17);
    rgba[3] = static_cast<std::uint8_t>((colour >> 12 & 0x0F) * 17);
}

std::optional<rgba_image> decode_icons(std::span<const std::uint8_t> file,
                                       std::size_t header_offset, unsigned frame) {
    const auto header = read_save_header(file, header_offset);
    if (!header || !header_is_plausible(*header) || frame > header->icon_count)
        return std::nullopt;
    const std::size_t icons_at = header_offset + SAVE_HEADER_SIZE;
    if (file.size() - icons_at < SAVE_ICON_SIZE * header->icon_count)
        return std::nullopt;
    const unsigned first = frame == 0 ? 1 : frame;
    const unsigned last = frame == 0 ? header->icon_count : frame;
    rgba_image image = blank(ICON_SIDE * (last - first + 1), ICON_SIDE);
    for (unsigned k = first; k <= last; ++k) {
        draw_nibbles(image, ICON_SIDE * (k - first), ICON_SIDE, ICON_SIDE,
                     file.subspan(icons_at + SAVE_ICON_SIZE * (k - 1), SAVE_ICON_SIZE),
                     header->palette);
    }
    return image;
}

std::optional<rgba_image> decode_eyecatch(std::span<const std::uint8_t> file,
                                          std::size_t header_offset) {
    const auto header = read_save_header(file, header_offset);
    if (!header || !header_is_plausible(*header) || header->eyecatch_type == 0)
        return std::nullopt;
    const std::size_t at = header_offset + SAVE_HEADER_SIZE + SAVE_ICON_SIZE * header->icon_count;
    const std::size_t size = eyecatch_size(header->eyecatch_type);
    if (at > file.size() || file.size() - at < size)
        return std::nullopt;
    const auto bytes = file.subspan(at, size);
    rgba_image image = blank(EYECATCH_WIDTH, EYECATCH_HEIGHT);
    const std::size_t pixels = EYECATCH_WIDTH * EYECATCH_HEIGHT;
    if (header->eyecatch_type == 1) {
        for (std::size_t i = 0; i < pixels; ++i)
            argb4444_to_rgba(get_u16(bytes, 2 * i), &image.pixels[4 * i]);
    } else if (header->eyecatch_type == 2) {
        const auto palette = read_palette(bytes, 256);
        for (std::size_t i = 0; i < pixels; ++i)
            argb4444_to_rgba(palette[bytes[512 + i]], &image.pixels[4 * i]);
    } else {
        const auto palette = read_palette(bytes, 16);
        draw_nibbles(image, 0, EYECATCH_WIDTH, EYECATCH_HEIGHT, bytes.subspan(32), palette);
    }
    return image;
}

std::optional<rgba_image> decode_icondata(std::span<const std::uint8_t> file) {
    const auto header = read_icondata_header(file);
    if (!header)
        return std::nullopt;
    const auto fits = [&](std::uint32_t offset, std::size_t size) {
        return offset != 0 && offset <= file.size() && file.size() - offset >= size;
    };
    rgba_image image = blank(ICON_SIDE, ICON_SIDE);
    if (header->colour_offset != 0) {
        if (!fits(header->colour_offset, ICONDATA_COLOUR_SIZE))
            return std::nullopt;
        const auto bytes = file.subspan(header->colour_offset, ICONDATA_COLOUR_SIZE);
        draw_nibbles(image, 0, ICON_SIDE, ICON_SIDE, bytes.subspan(32), read_palette(bytes, 16));
        return image;
    }
    if (!fits(header->mono_offset, ICONDATA_MONO_SIZE))
        return std::nullopt;
    const auto bits = file.subspan(header->mono_offset, ICONDATA_MONO_SIZE);
    for (std::size_t i = 0; i < ICON_SIDE * ICON_SIDE; ++i) {
        const bool dark = (bits[i / 8] >> (7 - i % 8) & 1) != 0;
        std::uint8_t* p = &image.pixels[4 * i];
        p[0] = p[1] = p[2] = dark ? 0 : 255;
        p[3] = 255;
    }
    return image;
}

rgba_image scale_image(const rgba_image& image, std::size_t factor) {
    rgba_image out = blank(image.width * factor, image.height * factor);
    for (std::size_t y = 0; y < out.height; ++y) {
        for (std::size_t x = 0; x < out.width; ++x) {
            std::copy_n(&image.pixels[((y / factor) * image.width + x / factor) * 4], 4,
                        &out.pixels[(y * out.width + x) * 4]);
        }
    }
    return out;
}
