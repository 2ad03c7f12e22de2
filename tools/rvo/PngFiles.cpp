// PNG files read as they are stored (codec/PngPixels.h) and written through
// libpng's simplified interface as 8-bit BGRA.
#include "tools/rvo/PngFiles.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "codec/PngPixels.h"
#include "container/Limits.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/System.h"

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
    FILE* f = OpenFile(path, "rb");
    if (!f) FailFile(path, "not a readable PNG file (" + LastSystemError() + ")");
    std::unique_ptr<FILE, int (*)(FILE*)> file(f, std::fclose);
    CPngReader reader(f);
    if (!reader.ReadHeader()) FailFile(path, "not a readable PNG file (" + reader.Problem() + ")");
    if (!rvo::FrameSizeAllowed(reader.Width(), reader.Height()))
        FailFile(path, "picture of " + std::to_string(reader.Width()) + "x" + std::to_string(reader.Height()) +
                           " is larger than a frame may be");
    PngPicture pic;
    pic.nWidth = (int)reader.Width();
    pic.nHeight = (int)reader.Height();
    pic.pixels.resize((size_t)pic.nWidth * (size_t)pic.nHeight);
    if (!reader.ReadPixels(pic.pixels.data())) FailFile(path, "damaged PNG file (" + reader.Problem() + ")");
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
    FILE* f = OpenFile(path, "wb");
    if (!f) FailFile(path, "cannot write the PNG file (" + LastSystemError() + ")");
    const bool bWritten = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int nError = errno;
    if (std::fclose(f) != 0 || !bWritten)
        FailFile(path, std::string("cannot write the PNG file (") + std::strerror(bWritten ? errno : nError) + ")");
}

void WritePng(const std::string& path, const DWORD* pPixels, int nWidth, int nHeight, int nStride) {
    WritePngFile(path, EncodePng(path, pPixels, nWidth, nHeight, nStride));
}
