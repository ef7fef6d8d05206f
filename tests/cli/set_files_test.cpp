// The set's bytes are read once: what the digest was made of is what every unit's run is sent,
// even when a file changes on disk after the check.

#include "cli/set_verification.h"
#include "cli/update_set.h"
#include "tests/support/temp_folder.h"
#include "trust/digest.h"
#include "update/component_store.h"
#include "update/component_table.h"
#include "update/upload_record.h"

#include <gtest/gtest.h>

namespace {

TEST(SetFilesTest, UnitsAreSentTheBytesThatWereHashed) {
    TempFolder folder("set-files");
    WriteTextFile("kq12.cpu", "program one");
    WriteTextFile("gamma.tbl", "table one");
    const cli::UpdateSet set;
    ComponentStore store(true);
    const cli::SetVerification described = cli::DescribeUnsignedSet(set, store);
    ASSERT_EQ(described.error, "");
    const std::string lines =
        "file " + trust::LowerHex(trust::Sha256Of(std::string("table one"))) + " 9 gamma.tbl\n" +
        "file " + trust::LowerHex(trust::Sha256Of(std::string("program one"))) + " 11 kq12.cpu\n";
    EXPECT_EQ(described.evidence.sha256, trust::LowerHex(trust::Sha256Of(lines)));

    WriteTextFile("kq12.cpu", "program TWO");
    WriteTextFile("gamma.tbl", "table TWO");
    // As the upload steps ask the store for them.
    const SharedRecord cpu = store.Load("kq12.cpu", 0, FindComponent(kStepCpu)->recordKind);
    const SharedRecord gamma =
        store.Load("gamma.tbl", kUploadHeaderSize, FindComponent(kStepGamma)->recordKind);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(cpu->record.Record()), cpu->record.contentSize),
        "program one");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(gamma->record.Record()) + kUploadHeaderSize,
                          gamma->record.contentSize),
              "table one");
}

} // namespace
