#pragma once
// One reply: a single receive of at most 65,536 bytes and the zero written behind it.

#include <cstddef>
#include <memory>
#include <string_view>

class ReplyBuffer {
  public:
    static constexpr size_t kReplyCapacity = 65536;

    // Only the text's first byte is cleared: many runs at once would otherwise each keep the
    // whole capacity in memory, though replies are short.
    ReplyBuffer() : m_data(new char[kReplyCapacity + 1]) { m_data[0] = '\0'; }
    char* Data() { return m_data.get(); }
    const char* Text() const { return m_data.get(); }
    // Every byte received, NUL bytes included (Text() ends at the first of them).
    std::string_view Bytes() const { return {m_data.get(), m_length}; }
    void SetLength(size_t length) { m_length = length; }

  private:
    std::unique_ptr<char[]> m_data;
    size_t m_length = 0;
};
