#pragma once
// One answer of the driver: a JSON object written on one line, so the orchestrator can read
// answers with a plain line reader.

#include <string>
#include <vector>

namespace kqdriver {

class JsonLine {
  public:
    JsonLine& Str(const std::string& key, const std::string& value);
    JsonLine& Int(const std::string& key, long long value);
    JsonLine& Bool(const std::string& key, bool value);
    // A value that is already JSON (an array or object built by the caller).
    JsonLine& Raw(const std::string& key, const std::string& json);
    std::string Text() const { return "{" + m_body + "}"; }

  private:
    void Key(const std::string& key);
    std::string m_body;
};

// The answer of a command that failed: {"ok":false,"error":why}.
std::string Fail(const std::string& why);

// A JSON string literal with its quotes; bytes above 127 are kept as \u00XX (Latin-1 reading).
std::string Quote(const std::string& text);
// A JSON array of already encoded items.
std::string Array(const std::vector<std::string>& items);

} // namespace kqdriver
