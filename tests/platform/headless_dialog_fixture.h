#pragma once
// A small dialog class of its own that stands in for the program's in the headless backend's
// tests, and their fixture.

#include "app/res/resource.h"
#include "platform/dialog.h"
#include "platform/headless/desktop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using headless::Desktop;
using headless::DialogRunner;
using headless::Event;
using headless::MessageBoxRecord;
using platform::CDialog;

// Records which handler ran on which thread; can refuse to close, and opens a nested dialog from
// the system menu as the main dialog does with its About box.
class ProbeDialog : public CDialog {
  public:
    explicit ProbeDialog(int templateId = IDD_UPDATER_DIALOG) : CDialog(templateId) {}

    bool OnInitDialog() override {
        dialogThread = std::this_thread::get_id();
        SetDlgItemText(IDC_IP1, "192");
        SetCaption("Probe");
        return initReturns;
    }
    void OnCommand(int id, int notifyCode) override {
        Note("command " + std::to_string(id) + "/" + std::to_string(notifyCode));
        CDialog::OnCommand(id, notifyCode);
    }
    void OnTimer(unsigned id) override { Note("timer " + std::to_string(id)); }
    void OnClose() override {
        Note("close");
        if (refuseClose)
            MessageBox("busy", platform::kMbIconWarning);
        else
            CDialog::OnClose();
    }
    bool OnSysCommand(unsigned id) override {
        Note("syscommand " + std::to_string(id));
        if (id != IDM_ABOUTBOX)
            return false;
        CDialog nested(IDD_ABOUTBOX);
        nestedResult = nested.DoModal();
        return true;
    }

    std::vector<std::string> Notes() {
        std::lock_guard lock(m_mutex);
        return m_notes;
    }

    std::thread::id dialogThread;
    std::atomic<bool> handlerOffThread{false};
    std::atomic<bool> refuseClose{false};
    std::atomic<int> nestedResult{-100};
    bool initReturns = true;

  private:
    void Note(const std::string& note) {
        if (std::this_thread::get_id() != dialogThread)
            handlerOffThread = true;
        std::lock_guard lock(m_mutex);
        m_notes.push_back(note);
    }
    std::mutex m_mutex;
    std::vector<std::string> m_notes;
};

inline std::vector<Event> EventsOfKind(const std::string& kind) {
    std::vector<Event> out;
    for (const Event& e : Desktop::Instance().Events())
        if (e.kind == kind)
            out.push_back(e);
    return out;
}

class HeadlessDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { Desktop::Instance().Reset(); }
    void TearDown() override { Desktop::Instance().Reset(); }
};
