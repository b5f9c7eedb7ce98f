// Package intake on real files under Wine: the header read and the text read.
#include <gtest/gtest.h>

#include "driver.h"
#include "package.h"
#include "package_builder.h"
#include "signature.h"
#include "test_support.h"
#include "texts.h"

namespace {

// An installer file as the packaging tool lays it out, with totalSize its true size unless
// the test keeps the one it gives.
std::string PackageFile(PackageHeader header, const PackageTexts &texts,
                        const std::string &cabinet, bool keepTotalSize = false)
{
    PackageHeader described = WithLengths(header, texts, cabinet);
    if (keepTotalSize)
        described.totalSize = header.totalSize;
    return PackageFile(described, texts, cabinet, std::string(headerOffset, 'S'));
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

TEST_F(PackageIntake, FilesWithoutThePackageMagicCarryNoPackage)
{
    std::string file = PackageFile({}, {"T", "a.inf", "", "", ""}, "");
    EXPECT_EQ(ReadBoth(file.substr(0, headerOffset + 2)), noPackage);  // 69634 bytes
    EXPECT_EQ(ReadBoth(std::string(headerOffset - 100, 'S')), noPackage);

    std::string lowerCase = file;
    lowerCase[headerOffset + 2] = 'q';
    EXPECT_EQ(ReadBoth(lowerCase), noPackage);

    std::string stopsAtNul = file;
    stopsAtNul[headerOffset + 2] = 0;
    EXPECT_EQ(ReadBoth(stopsAtNul), noPackage);
}

TEST_F(PackageIntake, AShortHeaderFailsTheSizeTest)
{
    std::string file = PackageFile({}, {"", "", "", "", ""}, "");
    // The magic is there, the fields are cut short: reads leave zeros, the size is wrong.
    EXPECT_EQ(ReadBoth(file.substr(0, headerOffset + 10)), sizeMismatch);
}

TEST_F(PackageIntake, ValuesOf2To31OrMoreAreAMismatch)
{
    for (uint32_t big : {0x80000000u, 0xFFFFFFFFu}) {
        PackageHeader header{};
        header.multiVolume = 1;  // no size test to hide behind
        std::string file = PackageFile(header, {"", "a.inf", "", "", ""}, "");
        uint8_t bytes[headerSize];
        PackageHeader stored{};
        ParsePackageHeader((const uint8_t *)&file[headerOffset], &stored);
        for (int field = 0; field < 3; field++) {
            PackageHeader changed = stored;
            (field == 0 ? changed.messageLength
                        : field == 1 ? changed.licenceLength : changed.totalSize) = big;
            SerialisePackageHeader(&changed, bytes);
            std::string damaged = file;
            damaged.replace(headerOffset, headerSize, (char *)bytes, headerSize);
            EXPECT_EQ(ReadBoth(damaged), sizeMismatch) << "field " << field << " = " << big;
        }
    }
}

TEST_F(PackageIntake, LengthsThatWrapTogetherAreAMismatchNotAnAllocation)
{
    PackageTexts texts{"", "a.inf", "", "", ""};
    PackageHeader header = WithLengths({}, texts, "");
    header.multiVolume = 1;
    header.messageLength = 0x7FFFFF37;  // with the licence, past 2^32: a 32-bit sum wraps
    header.licenceLength = 0x7FFFFFEF;
    header.totalSize = 0x00FFFFEF;
    EXPECT_EQ(ReadBoth(PackageFile(header, texts, "", std::string(headerOffset, 'S'))),
              sizeMismatch);
}

TEST_F(PackageIntake, TextsReachingPastTheTotalSizeAreAMismatch)
{
    PackageHeader header{};
    header.multiVolume = 1;
    header.totalSize = textOffset + 3;
    EXPECT_EQ(ReadBoth(PackageFile(header, {"", "a.inf", "", "", ""}, "", true)), sizeMismatch);
}

}  // namespace
