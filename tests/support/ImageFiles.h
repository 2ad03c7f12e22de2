// PNG and JPEG files written with libpng and libjpeg for the image tests.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace rvotest {

// Writes BGRA pixels as a PNG with libpng's own writer.
inline bool WritePng(const std::string& path, const std::vector<uint32_t>& px, int w, int h) {
    png_image img = {};
    img.version = PNG_IMAGE_VERSION;
    img.width = (png_uint_32)w;
    img.height = (png_uint_32)h;
    img.format = PNG_FORMAT_BGRA;
    return png_image_write_to_file(&img, path.c_str(), 0, px.data(), 0, nullptr) != 0;
}

// A flat-coloured RGB JPEG (quality 95).
inline void WriteFlatJpeg(const std::string& path, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&c, f);
    c.image_width = (JDIMENSION)w;
    c.image_height = (JDIMENSION)h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row;
    for (int x = 0; x < w; x++) row.insert(row.end(), {r, g, b});
    while (c.next_scanline < c.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

}   // namespace rvotest
