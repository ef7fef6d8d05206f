#pragma once
// What each socket backend (posix/, win32/) provides to the portable socket code.

#include "platform/socket.h"

namespace platform {

// Closes a socket handle of this backend (close / closesocket). The handle is valid.
void CloseSocketHandle(SocketHandle handle);

} // namespace platform
