#include "sim/line_receiver.h"

#include <cerrno>

#include "sim/line_reader.h"

namespace sim {

void ReceiveLines(UnitCore& core, int fd, const bool& open,
                  const std::function<std::string(const char*, size_t)>& received,
                  const std::function<void(const std::string&)>& line) {
    LineReader reader;
    char buffer[4096];
    while (open && core.WaitReadable(fd, -1) == UnitCore::Wait::Ready) {
        long n = net::ReceiveSome(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EAGAIN) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        core.Touch();
        const std::string text = received(buffer, static_cast<size_t>(n));
        reader.Feed(text.data(), text.size());
        while (open && reader.HasLine()) {
            line(reader.PopLine());
        }
    }
}

} // namespace sim
