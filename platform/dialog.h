#pragma once
// CDialog: our stand-in for the framework's dialog class. A dialog reaches its window only
// through these members; the window itself lives in a backend (platform/win32: a real dialog from
// the resource templates; platform/headless: an in-memory model of the same templates).
//
// Thread rule: every control call may be made from any thread. A call from another thread than
// the dialog's is carried to the dialog's thread and waited for, so effects happen in the order
// of the calls. Handlers (On...) always run on the dialog's thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

class DialogHost;
class CDialog;

// Makes the window of a dialog; a front end that is no window program supplies its own.
using HostFactory = std::function<std::unique_ptr<DialogHost>(CDialog& dialog, int templateId)>;

// Framework command and notification codes used by the dialogs.
enum : int { kIdOk = 1, kIdCancel = 2 };
enum : int { kBnClicked = 0, kEnChange = 0x0300 };
enum : unsigned { kScClose = 0xF060 };

// Message box styles (values as in the Windows headers).
enum : unsigned {
    kMbOk = 0x00,
    kMbIconError = 0x10,
    kMbIconWarning = 0x30,
    kMbIconInformation = 0x40,
};

// Colours as 0x00BBGGRR.
constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16);
}

enum class ControlKind { Static, Edit, Button, Progress, Picture };

// A font made with the fixed parameters the dialogs use: width 0, not italic, underlined or
// struck out, ANSI character set, TrueType output precision, default clipping, quality and pitch.
class CFont {
  public:
    CFont() = default;
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;
    ~CFont();

    bool Create(int height, int weight, const char* faceName);
    void Delete();

    int Height() const { return m_height; }
    int Weight() const { return m_weight; }
    const std::string& Face() const { return m_face; }
    void* Handle() const { return m_handle; } // HFONT on Windows, null headless

  private:
    int m_height = 0;
    int m_weight = 0;
    std::string m_face;
    void* m_handle = nullptr;
};

// An icon from the program's resources (shared; never destroyed).
using IconHandle = void*;
IconHandle LoadIconResource(int resourceId);

// Loads a string of the string table; empty when missing.
std::string LoadStringResource(int resourceId);

// The application title: the executable's name without extension ("KQVorlink").
const char* ApplicationTitle();

// The classic unsigned read of a control's text (see CDialog::GetDlgItemInt); nullopt when the
// text does not translate.
std::optional<unsigned> ParseDialogUnsigned(const std::string& text);

// A message box without owner window (the caller passes its caption).
int MessageBoxNoOwner(const std::string& text, const std::string& caption, unsigned style);

class CDialog {
  public:
    explicit CDialog(int templateId);
    CDialog(int templateId, const HostFactory& makeHost);
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;
    virtual ~CDialog();

    // Creates the window from the template, runs its modal loop until EndDialog, and returns
    // the value given to EndDialog.
    int DoModal();
    int TemplateId() const { return m_templateId; }

    // Controls by identifier.
    void SetDlgItemText(int id, const std::string& text);
    std::string GetDlgItemText(int id) const;
    // The classic unsigned read: optional blanks, digits only, at most 4294967295; *translated
    // false (and 0) for an empty text or any other character.
    unsigned GetDlgItemInt(int id, bool* translated) const;
    void ShowDlgItem(int id, bool show);
    bool IsDlgItemVisible(int id) const;
    void EnableDlgItem(int id, bool enable);
    void SetDlgItemFont(int id, const CFont& font);
    void SetFocusTo(int id);
    // Selects an edit control's whole text and scrolls its caret into view.
    void SelectAllText(int id);
    void SetProgressRange(int id, uint32_t low, uint32_t high);
    void SetProgressPos(int id, uint32_t pos);

    // The window.
    void SetCaption(const std::string& caption);
    std::string GetCaption() const;
    void SetWindowIcon(IconHandle icon);
    void AppendSystemMenuItem(const std::string& text, unsigned commandId);
    unsigned SetTimer(unsigned id, unsigned periodMs);
    void KillTimer(unsigned id);
    // A box owned by the dialog with the application title as caption; waits for the answer.
    int MessageBox(const std::string& text, unsigned style);
    // A box without owner window, as the front end shows those (MessageBoxNoOwner for a window).
    int OwnerlessMessageBox(const std::string& text, const std::string& caption, unsigned style);
    void PostClose();
    void EndDialog(int result);
    bool IsIconic() const;
    void PaintIconCentered(IconHandle icon);

    // Runs a function on the dialog's thread and waits for it.
    void RunOnDialogThread(const std::function<void()>& fn);

    // Handlers; the defaults are the framework's.
    virtual bool OnInitDialog() { return true; }
    virtual void OnCommand(int id, int notifyCode);
    virtual void OnTimer(unsigned timerId);
    virtual void OnClose() { EndDialog(kIdCancel); }
    virtual void OnOK() { EndDialog(kIdOk); }
    virtual void OnCancel() { EndDialog(kIdCancel); }
    // Returns true when handled; otherwise the default processing runs (SC_CLOSE becomes
    // WM_CLOSE and reaches OnClose).
    virtual bool OnSysCommand(unsigned commandId);
    // Returns true when it painted; otherwise default painting.
    virtual bool OnPaint() { return false; }
    // The text colour of a control, or nullopt for the default; the text background is always
    // transparent.
    virtual std::optional<uint32_t> OnCtlColor(int id, ControlKind kind);

  protected:
    DialogHost& Host() const { return *m_host; }

  private:
    int m_templateId;
    std::unique_ptr<DialogHost> m_host;
};

} // namespace platform
