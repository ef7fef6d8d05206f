// The fixed English texts of the Windows Sockets error codes. The same texts appear on every
// platform: the socket layer maps its own error numbers onto these codes, and names an error
// that has no such code in the system's own words.

#include "files/socket_error_text.h"

#include "platform/socket.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

struct SocketErrorText {
    int code;
    const char* text;
};

const SocketErrorText kSocketErrorTexts[] = {
    {10004, "Error : A blocking socket call was canceled."},
    {10013, "Error : Permission denied."},
    {10014, "Error : Bad address."},
    {10022, "Error : Invalid argument."},
    {10024, "Error : Too many open files."},
    {10035, "Error : Resource temporarily unavailable."},
    {10036, "Error : Operation now in progress."},
    {10037, "Error : Operation already in progress."},
    {10038, "Error : Socket operation on nonsocket."},
    {10039, "Error : A required address was omitted from an operation on a socket."},
    {10040, "Error : Message too long."},
    {10041, "Error : Protocol wrong type for socket."},
    {10042, "Error : Bad protocol option."},
    {10043, "Error : Protocol not supported."},
    {10044, "Error : Socket type not supported."},
    {10045, "Error : Operation not supported."},
    {10046, "Error : Protocol family not supported."},
    {10047, "Error : Address family not supported by protocol family."},
    {10048, "Error : Address already in use."},
    {10049, "Error : Cannot assign requested address."},
    {10050, "Error : Network is down."},
    {10051, "Error : Network is unreachable."},
    {10052, "Error : Network dropped connection on reset."},
    {10053, "Error : Software caused connection to abort."},
    {10054, "Error : Connection reset by peer."},
    {10055, "Error : No buffer space available."},
    {10056, "Error : Socket is already connected."},
    {10057, "Error : Socket is not connected."},
    {10058, "Error : Cannot send after socket shutdown."},
    {10060, "Error : Connection timed out."},
    {10061, "Error : Connection refused."},
    {10064, "Error : Host is down."},
    {10065, "Error : No route to host."},
    {10067, "Error : Too many processes."},
    {10091, "Error : Network subsystem is unavailable."},
    {10092, "Error : Winsock.dll out of range."},
    {10093, "Error : Successful startup not yet performed."},
    {11001, "Error : Host not found."},
    {11002, "Error : Nonauthoritative host not found."},
    {11003, "Error : This is a nonrecoverable error."},
    {11004, "Error : Valid name, no data record of requested type."},
};

const char* const kDefaultSocketErrorText = "Error : Windows Socket error.";

} // namespace

const char* SocketErrorTextFor(int code) {
    for (const SocketErrorText& entry : kSocketErrorTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return kDefaultSocketErrorText;
}

void GetSocketErrorText(char* buffer) {
    const int code = platform::LastSocketError();
    std::string text = platform::SystemSocketErrorText(code);
    if (text.empty())
        text = SocketErrorTextFor(code);
    // The callers' buffers take 70 bytes; a line of the log takes no line break.
    constexpr size_t kMostText = 69;
    text.resize(std::min(text.size(), kMostText));
    for (char& c : text) {
        if (c == '\r' || c == '\n' || c == '%')
            c = ' ';
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
}
