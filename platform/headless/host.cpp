#include "platform/headless/host.h"

#include <future>
#include <stdexcept>

namespace headless {
namespace {

using platform::ControlKind;

std::mutex g_hostsMutex;
std::map<const platform::CDialog*, HeadlessHost*> g_hosts;

ControlState FromTemplate(const platform::ControlTemplate& t) {
    ControlState c;
    c.id = t.id;
    c.kind = t.kind;
    c.text = t.kind == ControlKind::Picture ? "" : t.text;
    c.visible = t.visible;
    return c;
}

int64_t Token(const void* p) {
    return int64_t(reinterpret_cast<intptr_t>(p));
}

} // namespace

HeadlessHost::HeadlessHost(platform::CDialog& dialog, int templateId)
    : m_dialog(dialog), m_templateId(templateId) {
    std::lock_guard lock(g_hostsMutex);
    g_hosts[&dialog] = this;
}

HeadlessHost::~HeadlessHost() {
    std::lock_guard lock(g_hostsMutex);
    g_hosts.erase(&m_dialog);
}

HeadlessHost* HeadlessHost::Of(const platform::CDialog& dialog) {
    std::lock_guard lock(g_hostsMutex);
    const auto it = g_hosts.find(&dialog);
    return it == g_hosts.end() ? nullptr : it->second;
}

void HeadlessHost::EndEveryDialogOnItsThread(int result) {
    // Done on the dialog's thread, where no nested dialog can go away while it is looked at.
    Call([&] {
        const std::thread::id here = std::this_thread::get_id();
        std::vector<HeadlessHost*> open;
        {
            std::lock_guard lock(g_hostsMutex);
            for (const auto& [dialog, host] : g_hosts) {
                std::lock_guard hostLock(host->m_mutex);
                if (host->m_open && host->m_thread == here)
                    open.push_back(host);
            }
        }
        for (HeadlessHost* host : open)
            host->EndDialog(result);
    });
}

unsigned HeadlessHost::InitCount() const {
    std::lock_guard lock(m_mutex);
    return m_initCount;
}

void HeadlessHost::WaitForInit(unsigned count, const std::function<bool()>& stop,
                               std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_stateCv.wait_for(lock, timeout, [&] { return m_initCount > count || stop(); });
}

void HeadlessHost::WakeWaiters() {
    { std::lock_guard lock(m_mutex); }
    m_stateCv.notify_all();
}

void HeadlessHost::Call(const std::function<void()>& fn) {
    std::shared_ptr<ThreadQueue> queue;
    {
        std::lock_guard lock(m_mutex);
        if (m_thread != std::this_thread::get_id())
            queue = m_queue;
    }
    if (!queue) {
        fn();
        return;
    }
    auto task = std::make_shared<std::packaged_task<void()>>(fn);
    std::future<void> done = task->get_future();
    if (!queue->Post(this, [task] { (*task)(); }))
        (*task)();
    done.get();
}

void HeadlessHost::Post(std::function<void()> fn) {
    std::shared_ptr<ThreadQueue> queue;
    {
        std::lock_guard lock(m_mutex);
        queue = m_queue;
    }
    if (queue)
        queue->Post(this, std::move(fn));
}

ControlState* HeadlessHost::FindLocked(int id) {
    if (!m_open)
        return nullptr;
    for (ControlState& c : m_controls)
        if (c.id == id)
            return &c;
    return nullptr;
}

const ControlState* HeadlessHost::FindLocked(int id) const {
    return const_cast<HeadlessHost*>(this)->FindLocked(id);
}

void HeadlessHost::Record(Event event) {
    event.dialogTemplate = m_templateId;
    Desktop::Instance().Record(event);
}

void HeadlessHost::Change(int id, const std::function<Event(ControlState&)>& change) {
    Call([&] {
        Event event;
        {
            std::lock_guard lock(m_mutex);
            ControlState* c = FindLocked(id);
            if (c == nullptr)
                return;
            event = change(*c);
        }
        event.id = id;
        if (!event.kind.empty())
            Record(event);
    });
}

// ---- the modal loop ----

int HeadlessHost::RunModal() {
    const platform::DialogTemplate* t = platform::LookUpDialogTemplate(m_templateId);
    if (t == nullptr)
        return -1; // as the system does for a missing template
    std::shared_ptr<ThreadQueue> queue = ThreadQueue::ForThisThread();
    {
        std::lock_guard lock(m_mutex);
        m_controls.clear();
        for (const platform::ControlTemplate& c : t->controls)
            m_controls.push_back(FromTemplate(c));
        m_caption = t->caption;
        m_focus = 0;
        m_menu.clear();
        m_timers.clear();
        m_result = 0;
        m_ended = false;
        m_thread = std::this_thread::get_id();
        m_queue = queue;
        m_open = true;
    }
    queue->Open(this);

    // A true result asks the dialog manager to focus the first tab stop.
    if (m_dialog.OnInitDialog() && !m_ended)
        SetDefaultFocus();
    // Tests find the dialog once it is shown, that is, after its initialisation.
    Desktop::Instance().Register(this);
    {
        std::lock_guard lock(m_mutex);
        ++m_initCount;
    }
    m_stateCv.notify_all();

    queue->RunUntil([this] { return m_ended.load(); });

    {
        std::lock_guard lock(m_mutex);
        m_open = false;
        m_timers.clear();
    }
    // Calls that arrived after the end find the window gone; their callers must not wait forever.
    for (ThreadQueue::Work& work : queue->Close(this))
        work();
    Desktop::Instance().Unregister(this);
    int result;
    {
        std::lock_guard lock(m_mutex);
        m_thread = {};
        m_queue.reset();
        result = m_result;
    }
    m_stateCv.notify_all();
    return result;
}

void HeadlessHost::SetDefaultFocus() {
    int first = 0;
    bool edit = false;
    {
        std::lock_guard lock(m_mutex);
        for (const ControlState& c : m_controls) {
            const bool tabStop = c.kind == ControlKind::Edit || c.kind == ControlKind::Button;
            if (tabStop && c.visible && c.enabled) {
                first = c.id;
                edit = c.kind == ControlKind::Edit;
                break;
            }
        }
    }
    if (first == 0)
        return;
    SetFocusTo(first);
    // The dialog manager selects an edit control's text when it gives it the focus.
    if (edit)
        SelectAllText(first);
}

void HeadlessHost::EndDialog(int result) {
    Call([&] {
        {
            std::lock_guard lock(m_mutex);
            if (!m_open || m_ended)
                return;
            m_result = result;
            m_ended = true;
        }
        Record({0, "end", 0, "", result, 0});
    });
    std::shared_ptr<ThreadQueue> queue;
    {
        std::lock_guard lock(m_mutex);
        queue = m_queue;
    }
    if (queue)
        queue->Wake();
}

// ---- controls ----

void HeadlessHost::SetItemText(int id, const std::string& text) {
    Call([&] {
        bool edit = false;
        Change(id, [&](ControlState& c) {
            c.text = text;
            c.selStart = c.selEnd = 0;
            edit = c.kind == ControlKind::Edit;
            return Event{0, "text", 0, text, 0, 0};
        });
        // An edit control tells its dialog about every change of its text, also a program's.
        if (edit)
            m_dialog.OnCommand(id, platform::kEnChange);
    });
}

std::string HeadlessHost::GetItemText(int id) {
    return Get<std::string>([&] {
        std::lock_guard lock(m_mutex);
        const ControlState* c = FindLocked(id);
        return c ? c->text : std::string();
    });
}

void HeadlessHost::ShowItem(int id, bool show) {
    Change(id, [&](ControlState& c) {
        c.visible = show;
        return Event{0, "show", 0, "", show ? 1 : 0, 0};
    });
}

bool HeadlessHost::IsItemVisible(int id) {
    return Get<bool>([&] {
        std::lock_guard lock(m_mutex);
        const ControlState* c = FindLocked(id);
        return c != nullptr && c->visible;
    });
}

void HeadlessHost::EnableItem(int id, bool enable) {
    Change(id, [&](ControlState& c) {
        c.enabled = enable;
        return Event{0, "enable", 0, "", enable ? 1 : 0, 0};
    });
}

void HeadlessHost::SetItemFont(int id, const platform::CFont& font) {
    Change(id, [&](ControlState& c) {
        c.fontFace = font.Face();
        c.fontWeight = font.Weight();
        c.fontHeight = font.Height();
        return Event{0, "font", 0, font.Face(), font.Weight(), font.Height()};
    });
}

void HeadlessHost::SetFocusTo(int id) {
    Change(id, [&](ControlState&) {
        m_focus = id;
        return Event{0, "focus", 0, "", 0, 0};
    });
}

void HeadlessHost::SelectAllText(int id) {
    Change(id, [&](ControlState& c) {
        if (c.kind != ControlKind::Edit)
            return Event{};
        c.selStart = 0;
        c.selEnd = int(c.text.size());
        return Event{0, "select", 0, "", c.selStart, c.selEnd};
    });
}

void HeadlessHost::SetProgressRange(int id, uint32_t low, uint32_t high) {
    Change(id, [&](ControlState& c) {
        if (c.kind != ControlKind::Progress)
            return Event{};
        c.rangeLow = low;
        c.rangeHigh = high;
        // The bar keeps its position inside the new range.
        c.pos = std::max(low, std::min(high, c.pos));
        return Event{0, "range", 0, "", low, high};
    });
}

void HeadlessHost::SetProgressPos(int id, uint32_t pos) {
    Change(id, [&](ControlState& c) {
        if (c.kind != ControlKind::Progress)
            return Event{};
        c.pos = std::max(c.rangeLow, std::min(c.rangeHigh, pos));
        return Event{0, "pos", 0, "", c.pos, 0};
    });
}

// ---- the window ----

void HeadlessHost::SetCaption(const std::string& caption) {
    Call([&] {
        {
            std::lock_guard lock(m_mutex);
            if (!m_open)
                return;
            m_caption = caption;
        }
        Record({0, "caption", 0, caption, 0, 0});
    });
}

std::string HeadlessHost::GetCaption() {
    return Get<std::string>([&] {
        std::lock_guard lock(m_mutex);
        return m_open ? m_caption : std::string();
    });
}

void HeadlessHost::SetWindowIcon(platform::IconHandle icon) {
    Call([&] {
        {
            std::lock_guard lock(m_mutex);
            if (!m_open)
                return;
        }
        Record({0, "icon", 0, "", Token(icon), 0});
    });
}

void HeadlessHost::AppendSystemMenuItem(const std::string& text, unsigned commandId) {
    Call([&] {
        {
            std::lock_guard lock(m_mutex);
            if (!m_open)
                return;
            m_menu.push_back(text);
        }
        Record({0, "sysmenu", int(commandId), text, commandId, 0});
    });
}

unsigned HeadlessHost::SetTimer(unsigned id, unsigned periodMs) {
    return Get<unsigned>([&]() -> unsigned {
        {
            std::lock_guard lock(m_mutex);
            if (!m_open)
                return 0;
            m_timers[id] = periodMs;
        }
        Record({0, "settimer", int(id), "", periodMs, 0});
        return id;
    });
}

void HeadlessHost::KillTimer(unsigned id) {
    Call([&] {
        bool wasArmed;
        {
            std::lock_guard lock(m_mutex);
            if (!m_open)
                return;
            wasArmed = m_timers.erase(id) != 0;
        }
        Record({0, "killtimer", int(id), "", wasArmed ? 1 : 0, 0});
    });
}

int HeadlessHost::MessageBox(const std::string& text, unsigned style) {
    // The box belongs to the calling thread, as on Windows; its owner must still be open.
    {
        std::lock_guard lock(m_mutex);
        if (!m_open)
            return 0;
    }
    Record({0, "msgbox", 0, text, style, 0});
    return Desktop::Instance().ShowMessageBox({text, platform::ApplicationTitle(), style, true});
}

void HeadlessHost::PostClose() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_open)
            return;
    }
    Record({0, "postclose", 0, "", 0, 0});
    Post([this] { Close(); });
}

void HeadlessHost::PaintIconCentered(platform::IconHandle icon) {
    Call([&] { Record({0, "paint", 0, "", Token(icon), 0}); });
}

void HeadlessHost::RunOnDialogThread(const std::function<void()>& fn) {
    Call(fn);
}

// ---- what a test sees ----

ControlState HeadlessHost::Control(int id) const {
    std::lock_guard lock(m_mutex);
    for (const ControlState& c : m_controls)
        if (c.id == id)
            return c;
    throw std::out_of_range("dialog " + std::to_string(m_templateId) + " has no control " +
                            std::to_string(id));
}

std::vector<ControlState> HeadlessHost::Controls() const {
    std::lock_guard lock(m_mutex);
    return m_controls;
}

std::string HeadlessHost::Caption() const {
    std::lock_guard lock(m_mutex);
    return m_caption;
}

int HeadlessHost::FocusedId() const {
    std::lock_guard lock(m_mutex);
    return m_focus;
}

std::vector<std::string> HeadlessHost::SystemMenuItems() const {
    std::lock_guard lock(m_mutex);
    return m_menu;
}

bool HeadlessHost::TimerArmed(unsigned id) const {
    std::lock_guard lock(m_mutex);
    return m_timers.count(id) != 0;
}

unsigned HeadlessHost::TimerPeriod(unsigned id) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_timers.find(id);
    return it == m_timers.end() ? 0 : it->second;
}

// ---- what a person does ----

void HeadlessHost::WhileOpen(const std::function<void()>& handler) {
    Call([&] {
        {
            std::lock_guard lock(m_mutex);
            if (!m_open || m_ended)
                return;
        }
        handler();
    });
}

void HeadlessHost::Type(int editId, const std::string& text) {
    Call([&] {
        {
            std::lock_guard lock(m_mutex);
            const ControlState* c = FindLocked(editId);
            if (c == nullptr || c->kind != ControlKind::Edit || !c->enabled || !c->visible)
                return;
        }
        SetItemText(editId, text);
    });
}

void HeadlessHost::Click(int buttonId) {
    Call([&] {
        {
            std::lock_guard lock(m_mutex);
            const ControlState* c = FindLocked(buttonId);
            if (c == nullptr || c->kind != ControlKind::Button || !c->enabled || !c->visible)
                return;
        }
        m_dialog.OnCommand(buttonId, platform::kBnClicked);
    });
}

void HeadlessHost::FireTimer(unsigned id) {
    Call([&] {
        {
            std::lock_guard lock(m_mutex);
            if (!m_open || m_timers.count(id) == 0)
                return;
        }
        m_dialog.OnTimer(id);
    });
}

void HeadlessHost::Close() {
    WhileOpen([this] { m_dialog.OnClose(); });
}

void HeadlessHost::PressEnter() {
    WhileOpen([this] { m_dialog.OnOK(); });
}

void HeadlessHost::PressEscape() {
    WhileOpen([this] { m_dialog.OnCancel(); });
}

void HeadlessHost::SysCommandOnDialogThread(unsigned commandId) {
    // Unhandled, the system menu's Close becomes WM_CLOSE.
    if (!m_dialog.OnSysCommand(commandId) && (commandId & 0xFFF0) == platform::kScClose)
        Close();
}

void HeadlessHost::SysCommand(unsigned commandId) {
    WhileOpen([&] { SysCommandOnDialogThread(commandId); });
}

void HeadlessHost::SysCommandAsync(unsigned commandId) {
    Post([this, commandId] { WhileOpen([&] { SysCommandOnDialogThread(commandId); }); });
}

} // namespace headless

namespace platform {

std::unique_ptr<DialogHost> CreateDialogHost(CDialog& dialog, int templateId) {
    return std::make_unique<headless::HeadlessHost>(dialog, templateId);
}

} // namespace platform
