// PNG reading and writing through libpng's simplified interface, which
// converts every stored colour type to 8-bit BGRA.
#include "tools/rvo/PngFiles.h"

#include <png.h>

#include <cstring>

#include "container/Limits.h"
#include "tools/rvo/ToolSupport.h"

namespace {

// Frees libpng's state on every way out.
struct PngImage {
    png_image image;
    PngImage() {
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
    }
    ~PngImage() { png_image_free(&image); }
};

std::string PngProblem(const png_image& image) {
    return image.message[0] ? std::string(image.message) : std::string("libpng error");
}

}  // namespace

PngPicture ReadPng(const std::string& path) {
    PngImage png;
    if (!png_image_begin_read_from_file(&png.image, path.c_str()))
        FailFile(path, "not a readable PNG file (" + PngProblem(png.image) + ")");
    if (!rvo::FrameSizeAllowed(png.image.width, png.image.height))
        FailFile(path, "picture of " + std::to_string(png.image.width) + "x" + std::to_string(png.image.height) +
                           " is larger than a frame may be");
    png.image.format = PNG_FORMAT_BGRA;
    PngPicture pic;
    pic.nWidth = (int)png.image.width;
    pic.nHeight = (int)png.image.height;
    pic.pixels.resize((size_t)pic.nWidth * (size_t)pic.nHeight);
    if (!png_image_finish_read(&png.image, nullptr, pic.pixels.data(), 0, nullptr))
        FailFile(path, "damaged PNG file (" + PngProblem(png.image) + ")");
    return pic;
}

void WritePng(const std::string& path, const DWORD* pPixels, int nWidth, int nHeight, int nStride) {
    PngImage png;
    png.image.width = (png_uint_32)nWidth;
    png.image.height = (png_uint_32)nHeight;
    png.image.format = PNG_FORMAT_BGRA;
    if (!png_image_write_to_file(&png.image, path.c_str(), 0, pPixels, nStride * 4, nullptr))
        FailFile(path, "cannot write the PNG file (" + PngProblem(png.image) + ")");
}
