#include "icon_kind.h"

#include "program_windows.h"
#include "screen_pixels.h"

#include <vector>

namespace kqdriver {

namespace {

struct Counts {
    int red = 0, yellow = 0, blue = 0;
};

Counts Classify(const std::vector<RGBQUAD>& pixels) {
    Counts counts;
    for (const RGBQUAD& p : pixels) {
        const int r = p.rgbRed, g = p.rgbGreen, b = p.rgbBlue;
        if (r > 150 && g > 150 && b < 110)
            ++counts.yellow;
        else if (r > 150 && g < 110 && b < 110)
            ++counts.red;
        else if (b > 140 && r < 140 && b > g)
            ++counts.blue;
    }
    return counts;
}

} // namespace

HWND FindIconControl(HWND box) {
    for (HWND child : ChildrenOf(box)) {
        if (ClassOf(child) != "Static")
            continue;
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON)
            return child;
    }
    return nullptr;
}

IconReading ReadIcon(HWND iconControl) {
    IconReading reading;
    if (!iconControl || !IsWindowVisible(iconControl)) {
        reading.kind = "none";
        return reading;
    }
    RECT rect{};
    GetWindowRect(iconControl, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) {
        reading.kind = "none";
        return reading;
    }

    const std::vector<RGBQUAD> pixels = ScreenPixels(rect);
    const Counts counts = Classify(pixels);
    reading.red = counts.red;
    reading.yellow = counts.yellow;
    reading.blue = counts.blue;
    reading.pixels = width * height;
    // An icon covers a good part of its control; a few stray pixels are anti-aliasing.
    const int least = reading.pixels / 20;
    if (counts.red >= least && counts.red > counts.yellow && counts.red > counts.blue)
        reading.kind = "stop";
    else if (counts.yellow >= least && counts.yellow > counts.blue)
        reading.kind = "warning";
    else if (counts.blue >= least)
        reading.kind = "information";
    else
        reading.kind = "unknown";
    return reading;
}

} // namespace kqdriver
