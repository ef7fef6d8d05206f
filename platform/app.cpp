#include "platform/app.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<CWinApp*> g_current{nullptr};

} // namespace

CWinApp::CWinApp() {
    g_current.store(this);
}

CWinApp::~CWinApp() {
    CWinApp* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

CWinApp* CWinApp::Current() {
    return g_current.load();
}

int RunApplication() {
    CWinApp* app = CWinApp::Current();
    if (app == nullptr)
        return 1;
    app->InitInstance();
    return app->ExitInstance();
}

} // namespace platform
