// Package intake on real files under Wine: the header read and the text read.
#include <gtest/gtest.h>

#include "driver.h"
#include "package.h"
#include "package_builder.h"
#include "signature.h"
#include "test_support.h"
#include "texts.h"

namespace {

// An installer file as the packaging tool lays it out, with totalSize its true size.
std::string PackageFile(const PackageHeader &header, const PackageTexts &texts,
                        const std::string &cabinet)
{
    return PackageFile(WithLengths(header, texts, cabinet), texts, cabinet,
                       std::string(headerOffset, 'S'));
}

class PackageIntake : public testing::Test {
protected:
    static void SetUpTestSuite() { AllocateBuffers(); }
    static void TearDownTestSuite() { ReleaseBuffers(); }

    void SetUp() override
    {
        directory_ = ScratchDirectory("package");
        // Stale bytes where the texts go: every text must end right after its length.
        FillBytes(state.title, 'x', pathBufferSize);
        FillBytes(state.infName, 'x', pathBufferSize);
    }

    PackageReadResult ReadBoth(const std::string &bytes, PackageReadResult *headerResult = nullptr)
    {
        std::string path = directory_ + "setup.exe";
        WriteFileBytes(path, bytes);
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        PackageReadResult result = ReadPackageHeader(file);
        if (headerResult)
            *headerResult = result;
        if (result == headerRead)
            result = ReadPackageTexts(file);
        CloseHandle(file);
        return result;
    }

    std::string directory_;
};

TEST_F(PackageIntake, ReadsEveryFieldAndTextOfAWholePackage)
{
    PackageHeader header{};
    header.showCompletion = 1;
    header.requireAdmin = 0;
    header.removeInstallButton = 7;
    header.useAdvpack = 1;
    header.cabinetScrambled = 1;
    PackageTexts texts{"Mon titre", "setup.inf", "Info\0text", "Bonjour\r\nle monde",
                       "Licence\r\nligne 2"};
    texts.info = std::string("Info\0text", 9);
    std::string file = PackageFile(header, texts, "MSCF-cabinet");
    PackageReadResult headerResult;
    ASSERT_EQ(ReadBoth(file, &headerResult), textsRead);
    EXPECT_EQ(headerResult, headerRead);

    EXPECT_TRUE(state.hasTitle);
    EXPECT_EQ(state.showCompletion, 1);
    EXPECT_EQ(state.removeInstallButton, 7);
    EXPECT_EQ(state.useAdvpack, 1);
    EXPECT_EQ(state.cabinetScrambled, 1);
    EXPECT_EQ(state.multiVolume, 0);
    EXPECT_EQ(state.totalSize, file.size());
    EXPECT_STREQ(state.title, "Mon titre");
    EXPECT_STREQ(state.infName, "setup.inf");
    EXPECT_EQ(std::string(state.infoText, 10), std::string("Info\0text\0", 10));
    EXPECT_STREQ(state.messageText, "Bonjour\r\nle monde");
    EXPECT_STREQ(state.licenceText, "Licence\r\nligne 2");
    EXPECT_EQ(state.cabinetOffset, file.size() - 12);
    EXPECT_EQ(file.substr(state.cabinetOffset), "MSCF-cabinet");
}

TEST_F(PackageIntake, TextsEndRightAfterTheirLengthsWhateverTheBufferHeld)
{
    ASSERT_EQ(ReadBoth(PackageFile({}, {"T", "a.inf", "", "", ""}, "")), textsRead);
    EXPECT_EQ(state.title[1], 0);
    EXPECT_EQ(state.infName[5], 0);
    EXPECT_EQ(state.infoText[0], 0);
}

TEST_F(PackageIntake, MissingTextsGiveNoTitleTheDefaultMessageAndNoLicence)
{
    ASSERT_EQ(ReadBoth(PackageFile({}, {"", "a.inf", "", "", ""}, "")), textsRead);
    EXPECT_FALSE(state.hasTitle);
    EXPECT_STREQ(state.title, "");
    EXPECT_STREQ(state.messageText, defaultMessage);
    EXPECT_STREQ(state.licenceText, "");
    EXPECT_EQ(state.cabinetOffset, textOffset + 5);
}

TEST_F(PackageIntake, SizeTestAcceptsTheExactSizeOnly)
{
    std::string file = PackageFile({}, {"T", "a.inf", "i", "m", "l"}, "cab");
    EXPECT_EQ(ReadBoth(file), textsRead);
    EXPECT_EQ(ReadBoth(file + "!"), sizeMismatch);  // one byte longer
    EXPECT_EQ(ReadBoth(file.substr(0, file.size() - 1)), sizeMismatch);
}

// Which trailers pass is the format module's rule; here, that the intake reads the padding
// where the package ends and measures the table against the file's own size.
TEST_F(PackageIntake, SizeTestLooksPastASignatureThatTrailsThePackage)
{
    PackageTexts texts{"T", "a.inf", "i", "m", "l"};
    PackageHeader header = WithLengths({}, texts, "cab");
    uint32_t tableAt = CertificateTableOffsetAfter(header.totalSize);
    ASSERT_EQ(tableAt - header.totalSize, 4u);
    std::string package = PackageFile(header, texts, "cab", SignedProgramFront(tableAt, 1480));
    std::string padding(4, '\0'), table(1480, 'C');
    EXPECT_EQ(ReadBoth(package + padding + table), textsRead);
    EXPECT_EQ(state.cabinetOffset, header.totalSize - 3);
    EXPECT_EQ(ReadBoth(package + std::string("\0\0\0\x01", 4) + table), sizeMismatch);
    EXPECT_EQ(ReadBoth(package + padding + table + "!"), sizeMismatch);
}

TEST_F(PackageIntake, MultiVolumeFilesSkipTheSizeTest)
{
    PackageHeader header{};
    header.multiVolume = 1;
    std::string file = PackageFile(header, {"T", "a.inf", "", "msg", ""}, "cabinet");
    // The first volume holds everything up to the cabinet and only a part of it.
    EXPECT_EQ(ReadBoth(file.substr(0, file.size() - 5)), textsRead);
    EXPECT_STREQ(state.messageText, "msg");
}

// The magic's own rule (letter case, NUL) is the format module's; here, files that stop
// before it or lack it.
TEST_F(PackageIntake, FilesWithoutThePackageMagicCarryNoPackage)
{
    std::string file = PackageFile({}, {"T", "a.inf", "", "", ""}, "");
    EXPECT_EQ(ReadBoth(file.substr(0, headerOffset + 2)), noPackage);  // 69634 bytes
    EXPECT_EQ(ReadBoth(std::string(headerOffset - 100, 'S')), noPackage);
    file[headerOffset + 2] = 'q';
    EXPECT_EQ(ReadBoth(file), noPackage);
}

TEST_F(PackageIntake, AShortHeaderFailsTheSizeTest)
{
    std::string file = PackageFile({}, {"", "", "", "", ""}, "");
    // The magic is there, the fields are cut short: reads leave zeros, the size is wrong.
    EXPECT_EQ(ReadBoth(file.substr(0, headerOffset + 10)), sizeMismatch);
}

// The consistency rule itself is the format module's (format_tests); these show that the
// intake applies it before it allocates for a text, on multi-volume files, which have no size
// test to fail first. A zero in a row keeps the value the texts give.
TEST_F(PackageIntake, AnInconsistentHeaderIsAMismatchNotAnAllocation)
{
    const struct {
        const char *fault;
        uint32_t messageLength, licenceLength, totalSize;
    } rows[] = {
        {"a message length of 2^31", 0x80000000u, 0, 0},
        {"a licence length of 2^32 - 1", 0, 0xFFFFFFFFu, 0},
        {"a total size of 2^31", 0, 0, 0x80000000u},
        {"two lengths whose sum wraps 32 bits", 0x7FFFFF37u, 0x7FFFFFEFu, 0x00FFFFEFu},
        {"texts reaching past the total size", 0, 0, textOffset + 3},
    };
    PackageTexts texts{"", "a.inf", "", "", ""};
    for (const auto &row : rows) {
        PackageHeader header = WithLengths({}, texts, "");
        header.multiVolume = 1;
        if (row.messageLength)
            header.messageLength = row.messageLength;
        if (row.licenceLength)
            header.licenceLength = row.licenceLength;
        if (row.totalSize)
            header.totalSize = row.totalSize;
        EXPECT_EQ(ReadBoth(PackageFile(header, texts, "", std::string(headerOffset, 'S'))),
                  sizeMismatch)
            << row.fault;
    }
}

}  // namespace
