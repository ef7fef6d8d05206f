#include "platform/app.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace platform {
namespace {

// The program has one application object; tests make several, one after another or nested.
// Kept for the whole process: an application object may well be destroyed after this file's
// statics at exit.
std::mutex g_mutex;
std::vector<CWinApp*>& Alive() {
    static auto* alive = new std::vector<CWinApp*>(); // oldest first
    return *alive;
}

} // namespace

CWinApp::CWinApp() {
    std::lock_guard lock(g_mutex);
    Alive().push_back(this);
}

CWinApp::~CWinApp() {
    std::lock_guard lock(g_mutex);
    std::erase(Alive(), this);
}

CWinApp* CWinApp::Current() {
    std::lock_guard lock(g_mutex);
    return Alive().empty() ? nullptr : Alive().back();
}

int RunApplication() {
    CWinApp* app = CWinApp::Current();
    if (app == nullptr)
        return 1;
    app->InitInstance();
    return app->ExitInstance();
}

} // namespace platform
