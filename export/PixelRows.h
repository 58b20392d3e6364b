#pragma once

#include <cstdint>

namespace dravix {

class ImageContainer;

// Row y (from the top) of a 24-bit image as red, green, blue bytes.
void RowToRgb(const ImageContainer& image, uint32_t y, uint8_t* out);

// Row y (from the top) of an indexed image as one colour index per byte. For a grey-ramp table
// the index is the grey level.
void RowToIndices(const ImageContainer& image, uint32_t y, uint8_t* out);

// Clamps a resolution to the 16-bit fields of JFIF and PCX.
uint16_t ClampDpi16(int dpi);

}  // namespace dravix
