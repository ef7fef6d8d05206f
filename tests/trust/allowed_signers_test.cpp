// The allowed signers file as hostile text, and the patterns its principals and namespaces use.
// What ssh-keygen itself decides of whole files is checked by signed_set_test.py.

#include "trust/allowed_signers.h"
#include "trust/base64.h"
#include "trust/name_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kKey =
    "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIKPlqhKbhFv7CerwkXcMhNb3rYnAgoyJYbS0J3MhFlEI";

trust::AllowedSigners Read(const std::string& text) {
    return trust::ReadAllowedSigners({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

TEST(AllowedSignersTest, ReadsTheFieldsOfAGoodLine) {
    const trust::AllowedSigners file =
        Read("# comment\r\n\n  \"a b@x,c@d\" NameSpaces=\"kq*\",valid-after=\"20200101Z\" " + kKey +
             " a comment\r\n");
    ASSERT_EQ(file.error, "");
    ASSERT_EQ(file.signers.size(), 1u);
    const trust::AllowedSigner& signer = file.signers[0];
    EXPECT_EQ(signer.line, 3);
    EXPECT_EQ(signer.principals, "a b@x,c@d");
    EXPECT_EQ(signer.namespaces, "kq*");
    ASSERT_TRUE(signer.validAfter);
    EXPECT_TRUE(signer.validAfter->utc);
    EXPECT_EQ(signer.key.ed25519.size(), 32u);
}

struct OddLine {
    const char* name;
    std::string line;
    std::string error;
};

void PrintTo(const OddLine& row, std::ostream* out) {
    *out << row.name;
}

class OddSignerLineTest : public ::testing::TestWithParam<OddLine> {};

// A second, good line after the odd one: the whole file is refused all the same.
TEST_P(OddSignerLineTest, RefusesTheFileNamingTheLine) {
    const trust::AllowedSigners file = Read(GetParam().line + "\nb@x " + kKey + "\n");
    EXPECT_EQ(file.error, "line 1: " + GetParam().error);
    EXPECT_TRUE(file.signers.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OddSignerLineTest,
    ::testing::Values(
        OddLine{"cert_authority", "a@x cert-authority " + kKey,
                "cert-authority lines are not accepted: list each signer's own Ed25519 key"},
        OddLine{"unquoted_value", "a@x namespaces=kqvorlink-set " + kKey,
                "an option's value is not in double quotes"},
        OddLine{"unknown_option", "a@x bogus=\"1\" " + kKey,
                "an option other than namespaces=, valid-after=, valid-before="},
        OddLine{"option_twice", "a@x namespaces=\"a\",namespaces=\"b\" " + kKey,
                "an option given twice"},
        OddLine{"backslash_in_value", "a@x namespaces=\"a\\\"\" " + kKey,
                "an option's value is not in double quotes"},
        OddLine{"time_of_day_only", "a@x valid-before=\"1200\" " + kKey,
                "a time that is not YYYYMMDD[HHMM[SS]][Z]"},
        OddLine{"month_13", "a@x valid-before=\"20261301\" " + kKey,
                "a time that is not YYYYMMDD[HHMM[SS]][Z]"},
        OddLine{"open_quote", "\"a@x " + kKey, "its principals' quote is not closed"},
        OddLine{"no_key", "a@x", "no key type and key"},
        OddLine{"type_mismatch", "a@x ssh-rsa" + kKey.substr(11),
                "its key is not of the type the line names"},
        OddLine{"key_not_base64", "a@x ssh-ed25519 AAAA*AAA", "its key is not base64"},
        OddLine{"short_ed25519_key",
                "a@x ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAAQ==", "its key is malformed"},
        OddLine{"control_byte", "a@x\x1b " + kKey, "a control character"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NamePatternTest, MatchesAsSshPatternListsDo) {
    EXPECT_EQ(trust::MatchPatternList("kqvorlink-set", "file,kq*"), trust::ListMatch::Positive);
    EXPECT_EQ(trust::MatchPatternList("kqvorlink-set", "kqvorlink-se?"),
              trust::ListMatch::Positive);
    EXPECT_EQ(trust::MatchPatternList("kqvorlink-set", "kqvorlink-se"), trust::ListMatch::None);
    EXPECT_EQ(trust::MatchPatternList("kqvorlink-set", "*,!kq*"), trust::ListMatch::Negated);
    EXPECT_EQ(trust::MatchPatternList("KQVORLINK-SET", "kq*"), trust::ListMatch::None);
    // A long run of stars costs time in proportion to text and pattern, not exponentially.
    EXPECT_FALSE(trust::MatchesPattern(std::string(4000, 'a'), std::string(2000, '*') + "b"));
}

TEST(Base64Test, RefusesWhatIsNotWholeBase64) {
    EXPECT_EQ(trust::DecodeBase64("aGk=\n"), (std::vector<uint8_t>{'h', 'i'}));
    for (const char* bad : {"aGk", "aGl=", "a===", "aGk=aGk=", "aG=k", "aGk==", "aGk\x01"})
        EXPECT_FALSE(trust::DecodeBase64(bad)) << bad;
    const std::vector<uint8_t> bytes = {0xfb, 0xff};
    EXPECT_EQ(trust::EncodeBase64Unpadded(bytes), "+/8");
}

} // namespace
