// PNG encoding into memory, so the result can be written like any other
// output: to a temporary file, then renamed into place.
#include "save/png_file.h"

#include <png.h>

#include <csetjmp>

namespace {

struct png_sink {
    std::vector<std::uint8_t>* bytes;
    std::string* error;
};

void append(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<png_sink*>(png_get_io_ptr(png));
    sink->bytes->insert(sink->bytes->end(), data, data + length);
}

void flush(png_structp) {}

void on_error(png_structp png, png_const_charp message) {
    auto* sink = static_cast<png_sink*>(png_get_error_ptr(png));
    *sink->error = message;
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

}  // namespace

namespace {

// The part that libpng may leave by longjmp: it holds no object with a
// destructor, so the jump skips nothing.
__attribute__((noinline)) bool run_encoder(png_structp writer, png_infop info, png_sink* sink,
                                           png_bytepp rows, png_uint_32 width, png_uint_32 height) {
    if (setjmp(png_jmpbuf(writer)))  // NOLINT(cert-err52-cpp): libpng reports errors by longjmp
        return false;
    png_set_write_fn(writer, sink, append, flush);
    png_set_IHDR(writer, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer, info);
    png_write_rows(writer, rows, height);
    png_write_end(writer, info);
    return true;
}

}  // namespace

bool encode_png(const rgba_image& image, std::vector<std::uint8_t>& png, std::string& error) {
    png.clear();
    png_sink sink{&png, &error};
    png_structp writer =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, on_error, on_warning);
    png_infop info = writer ? png_create_info_struct(writer) : nullptr;
    if (writer == nullptr || info == nullptr) {
        png_destroy_write_struct(&writer, nullptr);
        error = "cannot start the PNG encoder";
        return false;
    }
    std::vector<png_bytep> rows(image.height);
    for (std::size_t y = 0; y < image.height; ++y)
        rows[y] = const_cast<png_bytep>(&image.pixels[y * image.width * 4]);
    const bool ok =
        run_encoder(writer, info, &sink, rows.data(), static_cast<png_uint_32>(image.width),
                    static_cast<png_uint_32>(image.height));
    png_destroy_write_struct(&writer, &info);
    return ok;
}
