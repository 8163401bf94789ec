#include "pngimage.h"

#include <png.h>

QImage DecodePng(const unsigned char* Data, size_t Size)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, Data, Size))
        return {};
    image.format = PNG_FORMAT_RGBA;
    QImage result(static_cast<int>(image.width), static_cast<int>(image.height), QImage::Format_RGBA8888);
    if (result.isNull()) {
        png_image_free(&image);
        return {};
    }
    // QImage pads its rows to 32 bits, which RGBA rows already are.
    if (!png_image_finish_read(&image, nullptr, result.bits(), result.bytesPerLine(), nullptr))
        return {};
    return result;
}
