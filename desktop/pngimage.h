// PNG data decoded with libpng into an image the widgets can show.
#pragma once

#include <QImage>
#include <cstddef>

// Any PNG colour type, palette included, as 32-bit RGBA; a null image when
// the data is not a PNG libpng can read.
QImage DecodePng(const unsigned char* Data, size_t Size);
