// The version reader against this test program's own resource, which is the product's resource
// script: the values come from the table the first translation names, keys match without case.

#include "platform/version_resource.h"

#include "version/version.h"

#include <gtest/gtest.h>

namespace {

using platform::QueryVersionValue;

constexpr const char* kSelf = "kqwintests.exe";

TEST(Win32VersionResource, ValuesComeFromTheJapaneseTableWhateverTheKeysCase) {
    EXPECT_EQ(QueryVersionValue(kSelf, "OriginalFileName"),
              std::optional<std::string>(KQ_ORIGINAL_FILENAME));
    EXPECT_EQ(QueryVersionValue(kSelf, "FileVersion"), std::optional<std::string>("2, 0, 0, 0"));
    EXPECT_EQ(QueryVersionValue(kSelf, "fileversion"), std::optional<std::string>("2, 0, 0, 0"));
    EXPECT_EQ(QueryVersionValue(kSelf, "LegalCopyright"),
              std::optional<std::string>(KQ_LEGAL_COPYRIGHT));
    EXPECT_EQ(QueryVersionValue(kSelf, "CompanyName"), std::optional<std::string>(KQ_COMPANY_NAME));
}

TEST(Win32VersionResource, MissingKeysAndFilesFindNothing) {
    // Only the English table has "Comments"; the translation list points at the Japanese one.
    EXPECT_FALSE(QueryVersionValue(kSelf, "Comments").has_value());
    EXPECT_FALSE(QueryVersionValue(kSelf, "NoSuchKey").has_value());
    EXPECT_FALSE(QueryVersionValue("no-such-program.exe", "FileVersion").has_value());
    EXPECT_FALSE(QueryVersionValue(kSelf, nullptr).has_value());
}

} // namespace
