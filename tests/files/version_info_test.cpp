// The program's version values and the caption and About lines composed from them.

#include "files/version_info.h"

#include "version/version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

// Reads a value into a heap buffer of exactly the capacity, so that a write past it is caught by
// the sanitizer as well as by the guard check.
struct Reading {
    int result;
    std::string text;
};

Reading Read(const char* fileName, const char* key, int capacity) {
    auto buffer = std::make_unique<char[]>(static_cast<size_t>(capacity) + 1);
    std::memset(buffer.get(), '#', static_cast<size_t>(capacity) + 1);
    const int result = GetVersionString(buffer.get(), capacity, fileName, key);
    EXPECT_EQ(buffer[static_cast<size_t>(capacity)], '#') << key << ": written past the capacity";
    if (result == 0)
        return {0, std::string(buffer.get(), static_cast<size_t>(capacity))};
    return {1, buffer.get()};
}

TEST(GetVersionString, ReadsTheValuesOfTheProgramsOwnResource) {
    const Reading version = Read("KQVorlink.exe", "FileVersion", 20);
    EXPECT_EQ(version.result, 1);
    EXPECT_EQ(version.text, "2, 0, 0, 0");
    // The resource spells the key "OriginalFilename"; keys match without regard to case.
    const Reading name = Read("KQVorlink.exe", "OriginalFileName", 20);
    EXPECT_EQ(name.result, 1);
    EXPECT_EQ(name.text, "KQVorlink.exe");
    EXPECT_EQ(Read("KQVorlink.exe", "productversion", 20).text, "2, 0, 0, 0");
    EXPECT_EQ(Read("KQVorlink.exe", "CompanyName", 21).text, KQ_COMPANY_NAME);
}

TEST(GetVersionString, MissingKeyOrOtherFileLeavesTheTextUntouched) {
    // "Comments" is only in the English table; the translation list points to the Japanese one.
    const Reading comments = Read("KQVorlink.exe", "Comments", 51);
    EXPECT_EQ(comments.result, 0);
    EXPECT_EQ(comments.text, std::string(51, '#'));
    EXPECT_EQ(Read("KQVorlink.exe", "NoSuchKey", 20).result, 0);
    EXPECT_EQ(Read("Other.exe", "FileVersion", 20).result, 0);
    EXPECT_EQ(Read("KQVorlink.exe.bak", "FileVersion", 20).result, 0);
    EXPECT_EQ(Read("", "FileVersion", 20).result, 0);
}

TEST(GetVersionString, ValueIsCutToOneLessThanTheCapacity) {
    const std::string copyright = KQ_LEGAL_COPYRIGHT;
    ASSERT_GT(copyright.size(), 10u);
    const Reading cut = Read("KQVorlink.exe", "LegalCopyright", 10);
    EXPECT_EQ(cut.result, 1);
    EXPECT_EQ(cut.text, copyright.substr(0, 9));
    EXPECT_EQ(Read("KQVorlink.exe", "FileVersion", 11).text, "2, 0, 0, 0"); // exactly fits
    EXPECT_EQ(Read("KQVorlink.exe", "FileVersion", 10).text, "2, 0, 0, ");
    const Reading one = Read("KQVorlink.exe", "FileVersion", 1);
    EXPECT_EQ(one.result, 1);
    EXPECT_EQ(one.text, "");
}

TEST(VersionTexts, CaptionAndAboutLinesOfTheProgram) {
    EXPECT_EQ(ComposeCaption(), "KQVorlink.exe Rev. 2, 0, 0, 0");
    const AboutLines about = ComposeAboutLines();
    // No "Comments" in the table read: the line starts with the blank before "Version".
    EXPECT_EQ(about.version, " Version 2, 0, 0, 0");
    // The copyright line names the company once: it is the copyright text, then the company.
    EXPECT_EQ(about.copyright, "Copyright (C) 2026 KQ Systems\n");
    // Under another name nothing is found and only the fixed words remain.
    EXPECT_EQ(ComposeCaption("Other.exe"), " Rev. ");
}

TEST(VersionTexts, LongValuesAreCutToTheirBuffersNeverOverflowed) {
    const std::string name19(19, 'n');
    const std::string version19(19, 'v');
    // 19 + 6 + 19 characters do not fit 40 bytes: the caption keeps 39.
    EXPECT_EQ(CaptionText(name19.c_str(), version19.c_str()),
              name19 + " Rev. " + version19.substr(0, 14));

    const std::string comments50(50, 'c');
    const std::string version20(20, 'v');
    const std::string aboutVersion = AboutVersionText(comments50.c_str(), version20.c_str());
    EXPECT_EQ(aboutVersion.size(), 71u);
    EXPECT_EQ(aboutVersion, comments50 + " Version " + version20.substr(0, 12));

    const std::string copyright50(50, 'r');
    const std::string company20(20, 'k');
    // 50 + 1 + 20 characters fill the 72 bytes; the line end is what gets cut.
    EXPECT_EQ(AboutCopyrightText(copyright50.c_str(), company20.c_str()),
              copyright50 + " " + company20);
    EXPECT_EQ(AboutCopyrightText("(C)", "KQ"), "(C) KQ\n");
}

} // namespace
