// PNG reading and writing through libpng's simplified interface, which
// converts every stored colour type to 8-bit BGRA.
#include "tools/rvo/PngFiles.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
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

}   // namespace

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

std::vector<unsigned char> EncodePng(const std::string& path, const DWORD* pPixels, int nWidth, int nHeight,
                                     int nStride) {
    PngImage png;
    png.image.width = (png_uint_32)nWidth;
    png.image.height = (png_uint_32)nHeight;
    png.image.format = PNG_FORMAT_BGRA;
    // The first call measures, the second writes.
    png_alloc_size_t nBytes = 0;
    std::vector<unsigned char> bytes;
    if (png_image_write_to_memory(&png.image, nullptr, &nBytes, 0, pPixels, nStride * 4, nullptr)) {
        bytes.resize(nBytes);
        if (png_image_write_to_memory(&png.image, bytes.data(), &nBytes, 0, pPixels, nStride * 4, nullptr)) {
            bytes.resize(nBytes);
            return bytes;
        }
    }
    FailFile(path, "cannot write the PNG file (" + PngProblem(png.image) + ")");
}

void WritePngFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) FailFile(path, std::string("cannot write the PNG file (") + std::strerror(errno) + ")");
    const bool bWritten = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int nError = errno;
    if (std::fclose(f) != 0 || !bWritten)
        FailFile(path, std::string("cannot write the PNG file (") + std::strerror(bWritten ? errno : nError) + ")");
}

void WritePng(const std::string& path, const DWORD* pPixels, int nWidth, int nHeight, int nStride) {
    WritePngFile(path, EncodePng(path, pPixels, nWidth, nHeight, nStride));
}
