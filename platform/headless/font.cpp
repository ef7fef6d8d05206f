// Fonts have nothing to draw with here: the headless CFont only keeps what it was made with.

#include "platform/dialog.h"

namespace platform {

CFont::~CFont() {
    Delete();
}

bool CFont::Create(int height, int weight, const char* faceName) {
    m_height = height;
    m_weight = weight;
    m_face = faceName ? faceName : "";
    return true;
}

void CFont::Delete() {
    m_height = 0;
    m_weight = 0;
    m_face.clear();
}

} // namespace platform
