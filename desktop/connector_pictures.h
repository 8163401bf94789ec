// The connector pictures carried inside the program, as the PNG files in
// resources/ hold them (desktop/connector_pictures.cpp is generated from
// them by resources/draw_connectors.sh).
#pragma once

#include <cstddef>

struct TResourceBytes {
    const unsigned char* Data;
    size_t Size;
};

extern const TResourceBytes VarnelJtagConnectorPng; // 261 x 115, palette
extern const TResourceBytes MirrowJtagConnectorPng; // 271 x 128, palette
