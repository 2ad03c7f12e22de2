// PNG files as the tool reads and writes them: 8-bit pixels in the module's
// byte order (blue, green, red, alpha) with straight (not premultiplied) alpha.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"

struct PngPicture {
    int nWidth = 0;
    int nHeight = 0;
    std::vector<DWORD> pixels;   // packed, top row first
};

// Reads any PNG libpng understands, samples as stored (codec/PngPixels.h:
// 16-bit rounded to 8, no gamma or colour-space conversion); throws a
// ToolFailure naming the file when it cannot.
PngPicture ReadPng(const std::string& path);

// Writes nWidth x nHeight pixels with row step nStride; throws a ToolFailure
// naming the file when it cannot.
void WritePng(const std::string& path, const DWORD* pPixels, int nWidth, int nHeight, int nStride);

// The PNG file of nWidth x nHeight pixels (row step nStride) in memory, so it
// can be made on one thread and written on another; a ToolFailure naming path
// when libpng cannot make it.
std::vector<unsigned char> EncodePng(const std::string& path, const DWORD* pPixels, int nWidth, int nHeight,
                                     int nStride);
// Writes a PNG file's bytes (EncodePng) as the file path, replacing it; a
// ToolFailure naming it when it cannot be written in full.
void WritePngFile(const std::string& path, const std::vector<unsigned char>& bytes);
