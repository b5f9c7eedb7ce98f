// Package intake on real files under Wine: the header and the texts read into the state, and
// which files carry a whole package. The format's own rules are the format module's tests.
#include <gtest/gtest.h>

#include "driver.h"
#include "package.h"
#include "package_builder.h"
#include "signature.h"
#include "test_support.h"
#include "texts.h"

namespace {

const std::string front(headerOffset, 'S');

// The header's result, or the texts' when the header was read.
PackageReadResult Read(const std::string &bytes)
{
    if (!state.workDirectory)
        AllocateBuffers();
    FillBytes(state.title, 'x', pathBufferSize);  // stale: every text ends after its length
    FillBytes(state.infName, 'x', pathBufferSize);
    std::string path = ScratchDirectory("package") + "setup.exe";
    WriteFileBytes(path, bytes);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    PackageReadResult result = ReadPackageHeader(file);
    if (result == headerRead)
        result = ReadPackageTexts(file);
    CloseHandle(file);
    return result;
}

TEST(PackageIntake, EveryFieldAndTextGoesToItsPlace)
{
    PackageHeader header{};
    header.showCompletion = 1;
    header.requireAdmin = 2;
    header.removeInstallButton = 3;
    header.useAdvpack = 4;
    header.cabinetScrambled = 5;
    PackageTexts texts{"Mon titre", "setup.inf", std::string("Info\0text", 9), "Bonjour\r\n",
                       "Licence\r\n"};
    std::string file = PackageFile(WithLengths(header, texts, "MSCF"), texts, "MSCF", front);
    ASSERT_EQ(Read(file), textsRead);
    const BYTE flags[] = {state.showCompletion, state.requireAdmin, state.removeInstallButton,
                          state.useAdvpack, state.cabinetScrambled, state.multiVolume};
    EXPECT_EQ(std::vector<BYTE>(flags, flags + 6), (std::vector<BYTE>{1, 2, 3, 4, 5, 0}));
    EXPECT_TRUE(state.hasTitle);
    EXPECT_EQ(state.totalSize, file.size());
    EXPECT_STREQ(state.title, "Mon titre");
    EXPECT_STREQ(state.infName, "setup.inf");
    EXPECT_EQ(std::string(state.infoText, 10), std::string("Info\0text\0", 10));
    EXPECT_STREQ(state.messageText, "Bonjour\r\n");
    EXPECT_STREQ(state.licenceText, "Licence\r\n");
    EXPECT_EQ(file.substr(state.cabinetOffset), "MSCF");

    texts = {"", "a.inf", "", "", ""};  // no title, the default message, no licence
    ASSERT_EQ(Read(PackageFile(WithLengths({}, texts, ""), texts, "", front)), textsRead);
    EXPECT_FALSE(state.hasTitle);
    EXPECT_STREQ(state.title, "");
    EXPECT_STREQ(state.messageText, defaultMessage);
    EXPECT_STREQ(state.licenceText, "");
}

TEST(PackageIntake, OnlyAWholePackageIsRead)
{
    MessageBoxAnswerer answerer;  // a fatal stop for memory ends the program instead of waiting
    PackageTexts texts{"T", "a.inf", "i", "m", "l"};
    PackageHeader header = WithLengths({}, texts, "cab"), multiVolume = header;
    multiVolume.multiVolume = 1;
    PackageHeader hostile = multiVolume;  // a multi-volume file has no size test to fail first
    hostile.messageLength = 0x80000000u;
    std::string file = PackageFile(header, texts, "cab", front), noMagic = file;
    noMagic[headerOffset + 2] = 'q';
    uint32_t tableAt = CertificateTableOffsetAfter(header.totalSize);
    ASSERT_GT(tableAt, header.totalSize);  // padding to tell apart
    std::string signedFront = PackageFile(header, texts, "cab", SignedProgramFront(tableAt, 1480));
    std::string padding(tableAt - header.totalSize, '\0'), table(1480, 'C');
    struct Row {
        const char *fault;
        std::string bytes;
        PackageReadResult expected;
    } rows[] = {
        {"the exact size refused", file, textsRead},
        {"a byte too many accepted", file + "!", sizeMismatch},
        {"a truncated package accepted", file.substr(0, file.size() - 1), sizeMismatch},
        {"a header cut short accepted", file.substr(0, headerOffset + 10), sizeMismatch},
        {"a trailing signature taken for damage", signedFront + padding + table, textsRead},
        {"padding that is not zero accepted", signedFront + "\1" + padding.substr(1) + table,
         sizeMismatch},
        {"a byte after the signature accepted", signedFront + padding + table + "!", sizeMismatch},
        {"a first volume measured", PackageFile(multiVolume, texts, "cab", front).substr(0, file.size() - 2),
         textsRead},
        {"a hostile length allocated", PackageFile(hostile, texts, "cab", front), sizeMismatch},
        {"a file that ends in the magic read", file.substr(0, headerOffset + 2), noPackage},
        {"another magic accepted", noMagic, noPackage},
    };
    for (const Row &row : rows)
        EXPECT_EQ(Read(row.bytes), row.expected) << row.fault;
}

}  // namespace
