#pragma once
// The main dialog opened in the headless backend on the files of a test folder of its own.
#include "app/res/resource.h"
#include "app/updater_dlg.h"
#include "files/socket_error_text.h"
#include "platform/dialog_template.h"
#include "platform/headless/desktop.h"
#include "platform/socket.h"
#include "tests/support/temp_folder.h"
#include "version/version.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using headless::Desktop;

const std::vector<int> kStepLabels = {IDC_STEP1, IDC_STEP2,  IDC_STEP3,  IDC_STEP4,
                                      IDC_STEP5, IDC_STEP6,  IDC_STEP7,  IDC_STEP8,
                                      IDC_STEP9, IDC_STEP10, IDC_STEP11, IDC_STEP12};

class UpdaterDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Desktop::Instance().Reset();
        m_folder.emplace("app");
    }

    void TearDown() override {
        m_runner.reset();
        m_dialog.reset();
        m_folder.reset();
        Desktop::Instance().Reset();
    }

    // Opens the dialog on the files that the test has put into its folder.
    headless::DialogView& Open() {
        m_dialog = std::make_unique<CUpdaterDlg>();
        m_runner = std::make_unique<headless::DialogRunner>(*m_dialog);
        return m_runner->View();
    }

    std::vector<int> VisibleOf(const std::vector<int>& ids) {
        std::vector<int> visible;
        for (const int id : ids) {
            if (m_runner->View().Control(id).visible) {
                visible.push_back(id);
            }
        }
        return visible;
    }

    std::vector<headless::Event> EventsOfKind(const std::string& kind) {
        std::vector<headless::Event> found;
        for (const auto& event : Desktop::Instance().Events()) {
            if (event.kind == kind && event.dialogTemplate == IDD_UPDATER_DIALOG) {
                found.push_back(event);
            }
        }
        return found;
    }

    std::optional<TempFolder> m_folder;
    std::unique_ptr<CUpdaterDlg> m_dialog;
    std::unique_ptr<headless::DialogRunner> m_runner;
};
