// The Windows program is built from app/res/KQVorlink.rc, the headless backend from the data in
// app/res/dialog_templates.cpp. These tests read the resource script and hold the two equal, so
// that what the headless tests see is what the Windows window shows.

#include "platform/dialog_template.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using platform::ControlKind;
using platform::ControlTemplate;
using platform::DialogTemplate;

const std::filesystem::path kResDir = std::filesystem::path(KQ_SOURCE_DIR) / "app" / "res";

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// The identifiers of resource.h ("#define NAME value").
std::map<std::string, int> ReadDefines() {
    std::map<std::string, int> defines;
    for (const std::string& line : ReadLines(kResDir / "resource.h")) {
        std::istringstream in(line);
        std::string directive, name, value;
        if (in >> directive >> name >> value && directive == "#define")
            defines[name] = static_cast<int>(std::stol(value, nullptr, 0));
    }
    return defines;
}

// One comma-separated field of a script statement: a quoted text or a bare expression.
struct Field {
    bool quoted = false;
    std::string value;
};

// Splits "KEYWORD a, "b", c | d" into the keyword and its fields. Quoted texts take the
// resource compiler's escapes ("\n", "\\", "\"" and the doubled quote).
std::pair<std::string, std::vector<Field>> SplitStatement(const std::string& line) {
    std::string s = Trim(line);
    size_t space = s.find_first_of(" \t");
    std::string keyword = s.substr(0, space);
    std::vector<Field> fields;
    Field current;
    bool any = false;
    for (size_t i = space == std::string::npos ? s.size() : space; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            current.quoted = true;
            current.value.clear(); // blanks before the opening quote
            any = true;
            for (++i; i < s.size(); ++i) {
                if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') {
                    current.value += '"';
                    ++i;
                } else if (s[i] == '"') {
                    break;
                } else if (s[i] == '\\' && i + 1 < s.size()) {
                    char e = s[++i];
                    current.value += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                } else {
                    current.value += s[i];
                }
            }
        } else if (c == ',') {
            if (!current.quoted)
                current.value = Trim(current.value);
            fields.push_back(current);
            current = Field{};
            any = false;
        } else if (!current.quoted) {
            current.value += c;
            any = any || !std::isspace(static_cast<unsigned char>(c));
        }
    }
    if (any || !fields.empty()) {
        if (!current.quoted)
            current.value = Trim(current.value);
        fields.push_back(current);
    }
    return {keyword, fields};
}

class ScriptReader {
  public:
    ScriptReader() : m_lines(ReadLines(kResDir / "KQVorlink.rc")), m_defines(ReadDefines()) {}

    bool Loaded() const { return !m_lines.empty(); }

    int Value(const std::string& token) const {
        auto it = m_defines.find(token);
        if (it != m_defines.end())
            return it->second;
        size_t used = 0;
        int v = static_cast<int>(std::stol(token, &used, 0));
        EXPECT_EQ(used, token.size()) << "not a number or known identifier: " << token;
        return v;
    }

    // The dialog whose resource name resolves to id, as the script describes it.
    std::optional<DialogTemplate> Dialog(int id) const {
        size_t i = 0;
        for (; i < m_lines.size(); ++i) {
            std::istringstream in(m_lines[i]);
            std::string resName, kind;
            in >> resName >> kind;
            if ((kind == "DIALOGEX" || kind == "DIALOG") && m_defines.count(resName) &&
                m_defines.at(resName) == id)
                break;
        }
        if (i == m_lines.size())
            return std::nullopt;

        DialogTemplate dialog;
        dialog.id = id;
        {
            // "NAME DIALOGEX x, y, width, height"
            std::string header = Trim(m_lines[i]);
            auto [_, fields] = SplitStatement(header.substr(header.find_first_of(" \t") + 1));
            EXPECT_EQ(fields.size(), 4u) << header;
            if (fields.size() == 4) {
                dialog.width = Value(fields[2].value);
                dialog.height = Value(fields[3].value);
            }
        }
        for (++i; i < m_lines.size() && Trim(m_lines[i]) != "BEGIN"; ++i) {
            auto [keyword, fields] = SplitStatement(m_lines[i]);
            if (keyword == "CAPTION" && fields.size() == 1) {
                dialog.caption = fields[0].value;
            } else if (keyword == "FONT" && fields.size() >= 2) {
                dialog.fontPoints = Value(fields[0].value);
                dialog.fontFace = fields[1].value;
            }
        }
        for (++i; i < m_lines.size() && Trim(m_lines[i]) != "END"; ++i) {
            if (!Trim(m_lines[i]).empty())
                dialog.controls.push_back(Control(m_lines[i]));
        }
        return dialog;
    }

    // The string table's entries by identifier.
    std::map<int, std::string> Strings() const {
        std::map<int, std::string> strings;
        size_t i = 0;
        while (i < m_lines.size() && Trim(m_lines[i]) != "STRINGTABLE")
            ++i;
        for (i += 2; i < m_lines.size() && Trim(m_lines[i]) != "END"; ++i) {
            std::string line = Trim(m_lines[i]);
            size_t space = line.find_first_of(" \t");
            auto [_, fields] = SplitStatement("X " + line.substr(space));
            if (fields.size() == 1)
                strings[Value(line.substr(0, space))] = fields[0].value;
        }
        return strings;
    }

  private:
    // One control statement as template data. Style words that only concern keyboard grouping
    // (WS_TABSTOP, WS_GROUP) are left out; the statement's own implied style (CTEXT is centred,
    // DEFPUSHBUTTON the default button) is added, as the data file writes it.
    ControlTemplate Control(const std::string& line) const {
        auto [keyword, fields] = SplitStatement(line);
        const auto& f = fields; // a name the lambdas below may capture (clang 14: no bindings)
        ControlTemplate c{};
        c.visible = true;
        std::vector<std::string> words;
        auto rect = [&](size_t at) {
            if (f.size() < at + 4) {
                ADD_FAILURE() << "short statement: " << line;
                return;
            }
            c.x = Value(f[at].value);
            c.y = Value(f[at + 1].value);
            c.width = Value(f[at + 2].value);
            c.height = Value(f[at + 3].value);
        };
        auto styles = [&](size_t at) {
            if (at >= f.size())
                return;
            std::istringstream in(f[at].value);
            std::string word;
            bool negate = false;
            while (in >> word) {
                if (word == "|")
                    continue;
                if (word == "NOT") {
                    negate = true;
                    continue;
                }
                if (negate && word == "WS_VISIBLE")
                    c.visible = false;
                else if (!negate && word != "WS_TABSTOP" && word != "WS_GROUP")
                    words.push_back(word);
                negate = false;
            }
        };
        if (keyword == "EDITTEXT") {
            c.kind = ControlKind::Edit;
            c.id = Value(f.at(0).value);
            rect(1);
            styles(5);
        } else if (keyword == "PUSHBUTTON" || keyword == "DEFPUSHBUTTON") {
            c.kind = ControlKind::Button;
            c.text = f.at(0).value;
            c.id = Value(f.at(1).value);
            rect(2);
            styles(6);
            if (keyword == "DEFPUSHBUTTON")
                words.push_back("BS_DEFPUSHBUTTON");
        } else if (keyword == "LTEXT" || keyword == "CTEXT" || keyword == "RTEXT") {
            c.kind = ControlKind::Static;
            c.text = f.at(0).value;
            c.id = Value(f.at(1).value);
            rect(2);
            styles(6);
            if (keyword == "CTEXT")
                words.push_back("SS_CENTER");
            if (keyword == "RTEXT")
                words.push_back("SS_RIGHT");
        } else if (keyword == "CONTROL") {
            c.text = f.at(0).value;
            c.id = Value(f.at(1).value);
            std::string cls = f.at(2).value;
            std::transform(cls.begin(), cls.end(), cls.begin(),
                           [](unsigned char ch) { return std::tolower(ch); });
            styles(3);
            rect(4);
            bool picture = std::count(words.begin(), words.end(), "SS_BITMAP") +
                               std::count(words.begin(), words.end(), "SS_ICON") >
                           0;
            c.kind = cls == "msctls_progress32" ? ControlKind::Progress
                     : cls == "edit"            ? ControlKind::Edit
                     : cls == "button"          ? ControlKind::Button
                     : picture                  ? ControlKind::Picture
                                                : ControlKind::Static;
        } else {
            ADD_FAILURE() << "statement the test does not know: " << line;
        }
        std::sort(words.begin(), words.end());
        for (const std::string& w : words)
            c.styles += (c.styles.empty() ? "" : " | ") + w;
        return c;
    }

    std::vector<std::string> m_lines;
    std::map<std::string, int> m_defines;
};

// The data file's style words, sorted the same way.
std::string NormalisedStyles(const std::string& styles) {
    std::istringstream in(styles);
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        if (w != "|" && w != "WS_TABSTOP" && w != "WS_GROUP")
            words.push_back(w);
    }
    std::sort(words.begin(), words.end());
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : " | ") + w;
    return out;
}

const char* KindName(ControlKind kind) {
    switch (kind) {
    case ControlKind::Static:
        return "static";
    case ControlKind::Edit:
        return "edit";
    case ControlKind::Button:
        return "button";
    case ControlKind::Progress:
        return "progress";
    case ControlKind::Picture:
        return "picture";
    }
    return "?";
}

void ExpectSameDialog(int id) {
    ScriptReader script;
    ASSERT_TRUE(script.Loaded()) << "cannot read " << (kResDir / "KQVorlink.rc");
    std::optional<DialogTemplate> fromScript = script.Dialog(id);
    const DialogTemplate* fromData = platform::LookUpDialogTemplate(id);
    ASSERT_TRUE(fromScript.has_value()) << "dialog " << id << " missing in the script";
    ASSERT_NE(fromData, nullptr) << "dialog " << id << " missing in the data";

    EXPECT_EQ(fromScript->caption, fromData->caption);
    EXPECT_EQ(fromScript->width, fromData->width);
    EXPECT_EQ(fromScript->height, fromData->height);
    EXPECT_EQ(fromScript->fontFace, fromData->fontFace);
    EXPECT_EQ(fromScript->fontPoints, fromData->fontPoints);

    ASSERT_FALSE(fromScript->controls.empty());
    EXPECT_EQ(fromScript->controls.size(), fromData->controls.size());
    size_t n = std::min(fromScript->controls.size(), fromData->controls.size());
    for (size_t i = 0; i < n; ++i) {
        const ControlTemplate& s = fromScript->controls[i];
        const ControlTemplate& d = fromData->controls[i];
        SCOPED_TRACE("control #" + std::to_string(i) + " (script id " + std::to_string(s.id) +
                     ", data id " + std::to_string(d.id) + ")");
        EXPECT_EQ(s.id, d.id);
        EXPECT_STREQ(KindName(s.kind), KindName(d.kind));
        // Pictures name their resource; the script gives the identifier's name, the data too.
        EXPECT_EQ(s.text, d.text);
        EXPECT_EQ(s.x, d.x);
        EXPECT_EQ(s.y, d.y);
        EXPECT_EQ(s.width, d.width);
        EXPECT_EQ(s.height, d.height);
        EXPECT_EQ(s.visible, d.visible);
        EXPECT_EQ(s.styles, NormalisedStyles(d.styles));
    }
}

TEST(DialogTemplates, MainDialogDataMatchesScript) {
    ExpectSameDialog(102);
}

TEST(DialogTemplates, AboutBoxDataMatchesScript) {
    ExpectSameDialog(100);
}

TEST(DialogTemplates, StringTableDataMatchesScript) {
    ScriptReader script;
    ASSERT_TRUE(script.Loaded());
    std::map<int, std::string> strings = script.Strings();
    ASSERT_FALSE(strings.empty());
    for (const auto& [id, text] : strings) {
        const char* data = platform::LookUpStringTemplate(id);
        ASSERT_NE(data, nullptr) << "string " << id << " missing in the data";
        EXPECT_EQ(text, data) << "string " << id;
    }
    EXPECT_EQ(platform::LookUpStringTemplate(103), nullptr);
}

// The reader itself must see quoted texts as the resource compiler does, or the comparison
// above would agree on wrong texts.
TEST(DialogTemplates, ScriptTextsKeepEscapesAndCommas) {
    auto [keyword, f] = SplitStatement(R"(  LTEXT "a, ""b""\nc", 7, 1, 2, 3, 4, NOT WS_VISIBLE)");
    EXPECT_EQ(keyword, "LTEXT");
    ASSERT_EQ(f.size(), 7u);
    EXPECT_EQ(f[0].value, "a, \"b\"\nc");
    EXPECT_EQ(f[1].value, "7");
    EXPECT_EQ(f[6].value, "NOT WS_VISIBLE");
}

} // namespace
