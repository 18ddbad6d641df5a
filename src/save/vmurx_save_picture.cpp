// vmurx-save icon and eyecatch: a save's pictures as a PNG, scaled.
#include "save/images.h"
#include "save/png_file.h"
#include "save/vmurx_save.h"

namespace {

int write_picture(const std::string& path, const rgba_image& image, const command_line& cl,
                  const save_input& read) {
    std::vector<std::uint8_t> png;
    std::string reason;
    if (!encode_png(scale_image(image, cl.scale), png, reason))
        return fail(path, reason);
    // The picture never replaces the save or its companion, whatever its name.
    input_files inputs;
    for (const std::string& file : read.files_read)
        add_input(inputs, file);
    file_error error;
    if (!write_outputs({{path, png, std::nullopt}}, cl.force, error, &inputs))
        return fail_write(error);
    return 0;
}

}  // namespace

int run_picture(const command_line& cl, bool eyecatch) {
    if (cl.operands.size() != 2)
        return usage_error("expected FILE and OUT.png");
    const std::string& path = cl.operands[0];
    examined f;
    file_error error;
    if (!examine(path, f, error))
        return fail(error.object, error.reason);
    const save_analysis& a = f.analysis;
    if (!a.kind)
        return fail(path, "not a save (" + a.reason + ")");
    std::optional<rgba_image> image;
    if (a.kind == save_kind::icondata) {
        if (eyecatch)
            return fail(path, "the card's icon file has no eyecatch");
        image = decode_icondata(f.input.content);
    } else if (!a.header) {
        return fail(path, a.reason);
    } else if (eyecatch) {
        if (a.header->eyecatch_type == 0)
            return fail(path, "no eyecatch in this save");
        image = decode_eyecatch(f.input.content, a.header_offset);
    } else {
        if (cl.frame > a.header->icon_count) {
            const unsigned count = a.header->icon_count;
            return fail(path, "no frame " + std::to_string(cl.frame) + " (the save has " +
                                  std::to_string(count) + (count == 1 ? " icon)" : " icons)"));
        }
        image = decode_icons(f.input.content, a.header_offset, cl.frame);
    }
    if (!image)
        return fail(path, "the picture runs past the end of the file");
    return write_picture(cl.operands[1], *image, cl, f.input);
}
