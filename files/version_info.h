#pragma once
// String values of the program's own version resource, and the texts composed from them: the
// main dialog's caption and the two lines of the About box.

#include <string>

// The program's own file, through which its version resource is found.
constexpr const char* kProgramFileName = "KQVorlink.exe";

// Reads the value of key from the version resource of fileName into text: 1 with the value cut
// to at most capacity - 1 characters and terminated; 0 when the file, its resource, its
// translation list or the key is not found (text is then not written).
int GetVersionString(char* text, int capacity, const char* fileName, const char* key);

// The caption "%s Rev. %s" composed in 40 bytes: what does not fit is cut.
std::string CaptionText(const char* originalFileName, const char* fileVersion);
// The About box's lines, each composed in 72 bytes: "%s Version %s" and "%s %s\n".
std::string AboutVersionText(const char* comments, const char* fileVersion);
std::string AboutCopyrightText(const char* legalCopyright, const char* companyName);

// The caption from "OriginalFileName" and "FileVersion" (20 bytes each) of fileName.
std::string ComposeCaption(const char* fileName = kProgramFileName);

struct AboutLines {
    std::string version;   // control 1000
    std::string copyright; // control 1001
};
// The About lines from "Comments" (51), "FileVersion" (21), "LegalCopyright" (51) and
// "CompanyName" (21) of fileName. A value that cannot be read counts as empty.
AboutLines ComposeAboutLines(const char* fileName = kProgramFileName);
