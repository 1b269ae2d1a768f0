// Writes PNG files: the art generator's pictures and the layout pictures of
// the tests.
#pragma once

#include <cstdint>
#include <string>

// width x height pixels of 8-bit red, green, blue and alpha, rows top first.
// False when the file cannot be written.
bool WritePngRgba(const std::string& path, int width, int height, const std::uint8_t* rgba);
