// The armoured SSH signature as hostile bytes: every flaw of the blob is refused by name before
// any key or signature is used. Real signatures are ssh-keygen's (signed_set_test.py).

#include "trust/base64.h"
#include "trust/ssh_wire.h"
#include "trust/sshsig.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::vector<uint8_t> Armoured(const std::vector<uint8_t>& blob) {
    // The standard encoder's padding: the unpadded text filled up to a whole group.
    std::string text = trust::EncodeBase64Unpadded(blob);
    text.append((4 - text.size() % 4) % 4, '=');
    const std::string file =
        "-----BEGIN SSH SIGNATURE-----\n" + text + "\n-----END SSH SIGNATURE-----\n";
    return {file.begin(), file.end()};
}

struct Blob {
    uint32_t version = 1;
    std::string hash = "sha512";
    std::string signatureType = "ssh-ed25519";
    size_t signatureBytes = 64;
    std::string after; // bytes after the signature

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> blob = {'S', 'S', 'H', 'S', 'I', 'G', 0, 0, 0, uint8_t(version)};
        std::vector<uint8_t> key, signature;
        trust::AppendWireString(key, std::string("ssh-ed25519"));
        trust::AppendWireString(key, std::string(32, 'k'));
        trust::AppendWireString(blob, key);
        trust::AppendWireString(blob, std::string("kqvorlink-set"));
        trust::AppendWireString(blob, std::string());
        trust::AppendWireString(blob, hash);
        trust::AppendWireString(signature, signatureType);
        trust::AppendWireString(signature, std::string(signatureBytes, 's'));
        trust::AppendWireString(blob, signature);
        blob.insert(blob.end(), after.begin(), after.end());
        return blob;
    }
};

TEST(SshSignatureTest, ReadsEveryFieldOfAWellFormedBlob) {
    const trust::SshSignature read = trust::ReadSshSignature(Armoured(Blob{}.Bytes()));
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.nameSpace, "kqvorlink-set");
    EXPECT_EQ(read.hashAlgorithm, "sha512");
    EXPECT_EQ(read.signatureType, "ssh-ed25519");
    EXPECT_EQ(read.signature.size(), 64u);
}

TEST(SshSignatureTest, RefusesEachFlawByName) {
    const auto error = [](const std::vector<uint8_t>& file) {
        return trust::ReadSshSignature(file).error;
    };
    const auto changed = [](auto change) {
        Blob blob;
        change(blob);
        return Armoured(blob.Bytes());
    };
    EXPECT_EQ(error(changed([](Blob& b) { b.version = 2; })),
              "an SSHSIG signature of a version other than 1");
    EXPECT_EQ(error(changed([](Blob& b) { b.hash = "md5"; })),
              "its hash algorithm is neither sha256 nor sha512");
    EXPECT_EQ(error(changed([](Blob& b) { b.after = "x"; })), "bytes after its signature");
    std::vector<uint8_t> cut = Blob{}.Bytes();
    cut.resize(cut.size() - 1);
    EXPECT_EQ(error(Armoured(cut)), "it is cut short");
    // A length that runs past the end of the blob, early in it.
    std::vector<uint8_t> huge = Blob{}.Bytes();
    huge[10] = 0xff;
    EXPECT_EQ(error(Armoured(huge)), "it is cut short");
    std::vector<uint8_t> unarmoured = Armoured(Blob{}.Bytes());
    unarmoured.erase(unarmoured.begin() + 10);
    EXPECT_EQ(error(unarmoured), "no \"-----BEGIN SSH SIGNATURE-----\" line at its start");
    EXPECT_EQ(error(std::vector<uint8_t>(trust::kMaxSignatureFileBytes + 1, '-')),
              "larger than 65536 bytes");
}

} // namespace
