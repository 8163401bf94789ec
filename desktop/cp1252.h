// The engine's texts are 8-bit Windows-1252 (the micro sign is 0xB5, and
// an SVF comment passes on whatever bytes its file holds); the window shows
// them as Unicode, converted here once.
#pragma once

#include <QString>

#include <string_view>

QString FromWindows1252(std::string_view Text);
