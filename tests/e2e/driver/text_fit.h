#pragma once
// Whether the static texts of a dialog fit their controls, measured the way a static control
// draws them: its font, its word breaking, its client rectangle.
//
// Under Wine one process cannot read another's fonts (the font handle that WM_GETFONT returns is
// only a number here), so the driver creates the fonts itself from what the program asks for:
// the dialog template's font for every control, and the program's own bold font for the controls
// it gives that font. The answer carries the dialog base units of the template font, so that the
// caller can prove the driver's template font is the one the dialog was laid out with, and each
// control's font handle as the program reports it, so that the caller can prove which controls
// share a font.

#include <windows.h>

#include <set>
#include <string>

namespace kqdriver {

struct FontPlan {
    std::string templateFace;
    int templatePoints = 0;
    std::string boldFace;
    int boldHeight = 0;
    int boldWeight = 0;
    std::set<int> boldControls;
};

// {"ok":true,"base":[cx,cy],"client":[w,h],"texts":[{"id","text","font","bold","box":[w,h],
// "need":[w,h],"lines":[w,...],"fits"}...]} for every visible static control with a text.
std::string TextFit(HWND dialog, const FontPlan& plan);

} // namespace kqdriver
