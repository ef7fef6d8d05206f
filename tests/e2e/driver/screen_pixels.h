#pragma once
// The pixels of a rectangle of the screen, as a person would see them.

#include <windows.h>

#include <vector>

namespace kqdriver {

// Row by row from the top; empty when the rectangle is empty.
std::vector<RGBQUAD> ScreenPixels(const RECT& rect);

} // namespace kqdriver
