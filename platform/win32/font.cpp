// Fonts made by the system with the dialogs' fixed parameters; the handle goes to WM_SETFONT.

#include "platform/dialog.h"

#include <windows.h>

namespace platform {

CFont::~CFont() {
    Delete();
}

bool CFont::Create(int height, int weight, const char* faceName) {
    Delete();
    m_handle =
        ::CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_TT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, faceName);
    if (m_handle == nullptr)
        return false;
    m_height = height;
    m_weight = weight;
    m_face = faceName;
    return true;
}

void CFont::Delete() {
    if (m_handle != nullptr)
        ::DeleteObject(static_cast<HFONT>(m_handle));
    m_handle = nullptr;
    m_height = 0;
    m_weight = 0;
    m_face.clear();
}

} // namespace platform
