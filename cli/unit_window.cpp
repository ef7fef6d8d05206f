#include "cli/unit_window.h"

#include "app/res/resource.h"

namespace cli {
namespace {

constexpr int kWeightBold = 700;

std::string BoxKind(unsigned style) {
    switch (style & 0xF0) {
    case platform::kMbIconError:
        return "stop";
    case platform::kMbIconWarning:
        return "warning";
    default:
        return "information";
    }
}

} // namespace

WindowState UnitWindow::State() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

void UnitWindow::SetItemText(int id, const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_texts[id] = text;
    if (id == IDC_STATUS)
        m_state.status = text;
}

std::string UnitWindow::GetItemText(int id) {
    std::lock_guard lock(m_mutex);
    const auto it = m_texts.find(id);
    return it == m_texts.end() ? "" : it->second;
}

void UnitWindow::ShowItem(int id, bool show) {
    std::lock_guard lock(m_mutex);
    m_hidden[id] = !show;
}

bool UnitWindow::IsItemVisible(int id) {
    std::lock_guard lock(m_mutex);
    return !m_hidden[id];
}

void UnitWindow::SetItemFont(int id, const platform::CFont& font) {
    std::lock_guard lock(m_mutex);
    // A step begins and ends with its label's font; either way the status is the old one.
    if (font.Weight() == kWeightBold) {
        m_state.boldLabel = id;
        m_state.lastLabel = id;
        m_state.status.clear();
    } else if (m_state.boldLabel == id) {
        m_state.boldLabel = 0;
        m_state.status.clear();
    }
}

void UnitWindow::SetProgressRange(int, uint32_t, uint32_t high) {
    std::lock_guard lock(m_mutex);
    m_state.barHigh = high;
}

void UnitWindow::SetProgressPos(int, uint32_t pos) {
    std::lock_guard lock(m_mutex);
    m_state.barPos = pos;
}

int UnitWindow::MessageBox(const std::string& text, unsigned style) {
    std::lock_guard lock(m_mutex);
    m_state.boxes.push_back({text, BoxKind(style)});
    return platform::kIdOk;
}

int UnitWindow::OwnerlessMessageBox(const std::string& text, const std::string&, unsigned style) {
    return MessageBox(text, style);
}

platform::HostFactory UnitWindowFactory(UnitWindow** window) {
    return [window](platform::CDialog&, int) {
        auto made = std::make_unique<UnitWindow>();
        *window = made.get();
        return std::unique_ptr<platform::DialogHost>(std::move(made));
    };
}

} // namespace cli
