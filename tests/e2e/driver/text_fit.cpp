#include "text_fit.h"

#include "json_line.h"
#include "program_windows.h"
#include "screen_pixels.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

namespace kqdriver {

namespace {

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct FontDeleter {
    void operator()(HFONT font) const { DeleteObject(font); }
};
using Dc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

// The font the dialog manager makes from a template's "FONT points, face".
Font TemplateFont(HDC dc, const FontPlan& plan) {
    const int height = -MulDiv(plan.templatePoints, GetDeviceCaps(dc, LOGPIXELSY), 72);
    return Font(CreateFontA(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_DONTCARE,
                            plan.templateFace.c_str()));
}

// The program's bold font, created with the same arguments the program uses.
Font BoldFont(const FontPlan& plan) {
    return Font(CreateFontA(plan.boldHeight, 0, 0, 0, plan.boldWeight, FALSE, FALSE, FALSE,
                            ANSI_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH, plan.boldFace.c_str()));
}

// Dialog base units of the selected font, as the dialog manager computes them: the average
// width of the 52 letters and the character height.
POINT BaseUnits(HDC dc) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE size{};
    GetTextExtentPoint32A(dc, kLetters, 52, &size);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    return {(size.cx / 26 + 1) / 2, metrics.tmHeight};
}

bool IsTextStatic(HWND control) {
    if (ClassOf(control) != "Static")
        return false;
    switch (GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) {
    case SS_LEFT:
    case SS_CENTER:
    case SS_RIGHT:
    case SS_SIMPLE:
    case SS_LEFTNOWORDWRAP:
        return true;
    default:
        return false;
    }
}

// The DrawText flags a static control of this style paints its text with.
UINT DrawFlags(HWND control) {
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    UINT flags = DT_EXPANDTABS;
    switch (style & SS_TYPEMASK) {
    case SS_CENTER:
        flags |= DT_CENTER | DT_WORDBREAK;
        break;
    case SS_RIGHT:
        flags |= DT_RIGHT | DT_WORDBREAK;
        break;
    case SS_SIMPLE:
    case SS_LEFTNOWORDWRAP:
        flags |= DT_SINGLELINE;
        break;
    default:
        flags |= DT_WORDBREAK;
    }
    if (style & SS_NOPREFIX)
        flags |= DT_NOPREFIX;
    return flags;
}

// The columns of the control's screen area that hold ink: pixels unlike the corner's background.
// Their span shows which font the program really drew with. [-1, -1] when there is none.
std::pair<int, int> InkColumns(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    const int width = rect.right - rect.left;
    const std::vector<RGBQUAD> pixels = ScreenPixels(rect);
    if (pixels.empty())
        return {-1, -1};
    const RGBQUAD background = pixels.front();
    int first = -1, last = -1;
    for (size_t i = 0; i < pixels.size(); ++i) {
        const RGBQUAD& p = pixels[i];
        const int difference = std::abs(p.rgbRed - background.rgbRed) +
                               std::abs(p.rgbGreen - background.rgbGreen) +
                               std::abs(p.rgbBlue - background.rgbBlue);
        if (difference < 96)
            continue;
        const int column = static_cast<int>(i % width);
        first = first < 0 ? column : std::min(first, column);
        last = std::max(last, column);
    }
    return {first, last};
}

std::string Pair(long a, long b) {
    return Array({std::to_string(a), std::to_string(b)});
}

std::string Measure(HDC dc, HWND control, bool bold) {
    // Line breaks at the end draw nothing that could be cut.
    std::string text = TextOf(control);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    RECT client{};
    GetClientRect(control, &client);
    RECT need{0, 0, client.right, 0};
    DrawTextA(dc, text.c_str(), -1, &need, DrawFlags(control) | DT_CALCRECT);
    // Each line's own extent, for telling how much room a text lacks.
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        SIZE size{};
        GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &size);
        lines.push_back(std::to_string(size.cx));
    }
    const bool fits = need.right <= client.right && need.bottom <= client.bottom;
    const auto [inkFirst, inkLast] = InkColumns(control);
    return JsonLine()
        .Int("id", GetDlgCtrlID(control))
        .Str("text", text)
        .Int("font", static_cast<long long>(Send(control, WM_GETFONT, 0, 0)))
        .Bool("bold", bold)
        .Raw("box", Pair(client.right, client.bottom))
        .Raw("need", Pair(need.right, need.bottom))
        .Raw("lines", Array(lines))
        .Raw("ink", Pair(inkFirst, inkLast))
        .Bool("fits", fits)
        .Text();
}

bool IsMeasured(HWND control) {
    return IsWindowVisible(control) && IsTextStatic(control) && !TextOf(control).empty();
}

// Whether every measured text that is more than blanks has ink on the screen.
bool TextsAreOnScreen(HWND dialog) {
    for (HWND control : ChildrenOf(dialog)) {
        const std::string text = TextOf(control);
        if (IsMeasured(control) && text.find_first_not_of(" \t\r\n") != std::string::npos &&
            InkColumns(control).second < 0)
            return false;
    }
    return true;
}

} // namespace

std::string TextFit(HWND dialog, const FontPlan& plan) {
    Dc dc(CreateCompatibleDC(nullptr));
    Font templateFont = TemplateFont(dc.get(), plan);
    Font boldFont = BoldFont(plan);
    if (!dc || !templateFont || !boldFont)
        return Fail("cannot create the fonts to measure with");
    HGDIOBJ original = SelectObject(dc.get(), templateFont.get());
    const POINT base = BaseUnits(dc.get());
    // A window that has just opened is not on the screen at once: the program paints it when it
    // gets to it, and Wine copies the painted surface to the display later still. Wait, at most
    // 5 s, so that a text without ink afterwards is one that was never drawn.
    WaitFor(5000, [dialog] { return TextsAreOnScreen(dialog) ? dialog : HWND{}; });
    std::vector<std::string> texts;
    for (HWND control : ChildrenOf(dialog)) {
        if (!IsMeasured(control))
            continue;
        const bool bold = plan.boldControls.count(GetDlgCtrlID(control)) != 0;
        SelectObject(dc.get(), bold ? boldFont.get() : templateFont.get());
        texts.push_back(Measure(dc.get(), control, bold));
    }
    SelectObject(dc.get(), original);
    RECT client{};
    GetClientRect(dialog, &client);
    return JsonLine()
        .Bool("ok", true)
        .Raw("base", Pair(base.x, base.y))
        .Raw("client", Pair(client.right, client.bottom))
        .Int("font", static_cast<long long>(Send(dialog, WM_GETFONT, 0, 0)))
        .Raw("texts", Array(texts))
        .Text();
}

} // namespace kqdriver
