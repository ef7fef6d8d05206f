// CDialog forwards every window call to its backend's DialogHost; only the classic number read
// and the framework's default handlers live here, the same for every backend.

#include "platform/dialog.h"

#include "platform/dialog_host.h"

namespace platform {

CDialog::CDialog(int templateId)
    : m_templateId(templateId), m_host(CreateDialogHost(*this, templateId)) {}

CDialog::CDialog(int templateId, const HostFactory& makeHost)
    : m_templateId(templateId), m_host(makeHost(*this, templateId)) {}

CDialog::~CDialog() = default;

int CDialog::DoModal() {
    return m_host->RunModal();
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
    m_host->SetItemText(id, text);
}
std::string CDialog::GetDlgItemText(int id) const {
    return m_host->GetItemText(id);
}

std::optional<unsigned> ParseDialogUnsigned(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i == text.size())
        return std::nullopt;
    // A number above the unsigned range does not translate: wrapping it would turn a mistyped
    // field into a different, valid address byte.
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10u + unsigned(c - '0');
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    return unsigned(value);
}

unsigned CDialog::GetDlgItemInt(int id, bool* translated) const {
    const std::optional<unsigned> value = ParseDialogUnsigned(GetDlgItemText(id));
    if (translated != nullptr)
        *translated = value.has_value();
    return value.value_or(0);
}

void CDialog::ShowDlgItem(int id, bool show) {
    m_host->ShowItem(id, show);
}
bool CDialog::IsDlgItemVisible(int id) const {
    return m_host->IsItemVisible(id);
}
void CDialog::EnableDlgItem(int id, bool enable) {
    m_host->EnableItem(id, enable);
}
void CDialog::SetDlgItemFont(int id, const CFont& font) {
    m_host->SetItemFont(id, font);
}
void CDialog::SetFocusTo(int id) {
    m_host->SetFocusTo(id);
}
void CDialog::SelectAllText(int id) {
    m_host->SelectAllText(id);
}
void CDialog::SetProgressRange(int id, uint32_t low, uint32_t high) {
    m_host->SetProgressRange(id, low, high);
}
void CDialog::SetProgressPos(int id, uint32_t pos) {
    m_host->SetProgressPos(id, pos);
}

void CDialog::SetCaption(const std::string& caption) {
    m_host->SetCaption(caption);
}
std::string CDialog::GetCaption() const {
    return m_host->GetCaption();
}
void CDialog::SetWindowIcon(IconHandle icon) {
    m_host->SetWindowIcon(icon);
}
void CDialog::AppendSystemMenuItem(const std::string& text, unsigned commandId) {
    m_host->AppendSystemMenuItem(text, commandId);
}
unsigned CDialog::SetTimer(unsigned id, unsigned periodMs) {
    return m_host->SetTimer(id, periodMs);
}
void CDialog::KillTimer(unsigned id) {
    m_host->KillTimer(id);
}
int CDialog::MessageBox(const std::string& text, unsigned style) {
    return m_host->MessageBox(text, style);
}
int CDialog::OwnerlessMessageBox(const std::string& text, const std::string& caption,
                                 unsigned style) {
    return m_host->OwnerlessMessageBox(text, caption, style);
}
void CDialog::PostClose() {
    m_host->PostClose();
}
void CDialog::EndDialog(int result) {
    m_host->EndDialog(result);
}
bool CDialog::IsIconic() const {
    return m_host->IsIconic();
}
void CDialog::PaintIconCentered(IconHandle icon) {
    m_host->PaintIconCentered(icon);
}
void CDialog::RunOnDialogThread(const std::function<void()>& fn) {
    m_host->RunOnDialogThread(fn);
}

void CDialog::OnCommand(int id, int notifyCode) {
    // The framework's own map: the OK and Cancel buttons end the dialog.
    if (notifyCode != kBnClicked)
        return;
    if (id == kIdOk)
        OnOK();
    else if (id == kIdCancel)
        OnCancel();
}

void CDialog::OnTimer(unsigned) {}

bool CDialog::OnSysCommand(unsigned) {
    return false;
}

std::optional<uint32_t> CDialog::OnCtlColor(int, ControlKind) {
    return std::nullopt;
}

} // namespace platform
