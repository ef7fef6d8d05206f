// The program's one application object, made during static initialisation so that the entry
// point finds it. Nothing else refers to this file: the Windows program links it directly, while
// the native library's users (tests, tools) never pull it in and make their own objects.

#include "app/updater_app.h"

namespace {
[[maybe_unused]] CUpdaterApp& theApp = TheApp();
}
