#pragma once
// The optional parameter file "KQVorlink.prm" in the current directory: heading, model to accept
// ("U" selects KQ-B2) and whether to reset the unit to its default data ("D"), one per line.
// Lines are split at line feeds only; empty lines do not count as lines.

#include <string>
#include <vector>

constexpr const char* kParamFileName = "KQVorlink.prm";
// The file is read into a buffer of this size; its text keeps a terminating zero, so at most
// one byte less is read.
constexpr int kParamFileCapacity = 100;

// Reads the file into buffer (kParamFileCapacity bytes, cleared first) and returns the count of
// bytes read: 0 when the file is absent, cannot be opened or is empty (the buffer is then left
// untouched if the file could not be opened). A longer file yields its first 99 bytes.
int ReadParamFile(char* buffer);

// The non-empty lines of a parameter text (at most its first 99 bytes), without their line
// feeds; a carriage return before a line feed stays part of its line.
std::vector<std::string> ParamFileLines(const char* text);

// The heading: the first non-empty line, or empty when the text holds only line feeds.
std::string ParamFileHeading(const char* text);

// What lines 2 and 3 choose, by their first character only: the model to accept ("U": KQ-B2,
// anything else or no line: KQ-A2) and whether the default-setting step runs ("D").
struct ParamFileChoice {
    const char* model;
    bool defaultSetting;
};
ParamFileChoice ParamFileChoices(const char* text);
