// The package format as both programs see it: layout arithmetic, header bytes, scrambling.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "format_vectors.h"
#include "layout.h"
#include "names.h"
#include "package_builder.h"
#include "scramble.h"
#include "signature.h"
#include "texts.h"
#include "volume_names.h"

namespace {

std::vector<uint8_t> Scrambled(std::vector<uint8_t> text)
{
    ScrambleText(text.data(), (uint32_t)text.size());
    return text;
}

TEST(Scramble, TheFirstByteStaysAndTheRestFollowTheFixedKeySequence)
{
    const std::vector<uint8_t> zeros(1 + sizeof firstKeyBytes, 0);
    const struct {
        std::vector<uint8_t> text, scrambled;
        const char *fault;
    } rows[] = {
        {{}, {}, "an empty text is touched"},
        {{'A'}, {'A'}, "a one-byte text is scrambled"},
        {{'H', 'i'}, {'H', (uint8_t)('i' ^ firstKeyBytes[0])}, "the first byte is scrambled"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(Scrambled(row.text), row.scrambled) << row.fault;
    std::vector<uint8_t> keys = Scrambled(zeros);
    for (size_t i = 0; i < sizeof firstKeyBytes; i++)
        EXPECT_EQ(keys[i + 1], firstKeyBytes[i]) << "key byte " << i;
}

TEST(Scramble, EveryKeyByteHasItsTopBitSet)
{
    std::vector<uint8_t> keys = Scrambled(std::vector<uint8_t>(5000, 0));
    for (size_t i = 1; i < keys.size(); i++)
        ASSERT_GE(keys[i], 0x80) << "at " << i;
}

TEST(Scramble, TwiceRestoresTheTextNulBytesIncluded)
{
    std::vector<uint8_t> text = {'a', 0, 'b', 0, 0, 0xFF, 0x80, 'z', 0};
    EXPECT_EQ(Scrambled(Scrambled(text)), text);
}

TEST(Scramble, TextsOfDifferentLengthsShareTheKeySequence)
{
    std::vector<uint8_t> shortText = Scrambled({'L', 'i', 'c', 'e'});
    std::vector<uint8_t> longText = Scrambled({'L', 'i', 'c', 'e', 'n', 'c', 'e', '!'});
    EXPECT_TRUE(std::equal(shortText.begin(), shortText.end(), longText.begin()));
}

TEST(CabinetKey, IsTheRemainderOfTheTotalSize)
{
    EXPECT_EQ(CabinetKey(73 * 1000 + 5), 5);
    EXPECT_EQ(CabinetKey(72), 72);
    EXPECT_EQ(CabinetKey(73), 0);
}

TEST(Layout, CabinetOffsetAddsTheFiveLengths)
{
    PackageHeader header{};
    EXPECT_EQ(CabinetOffset(&header), 69656u);
    header.titleLength = 50;
    header.infNameLength = 12;
    header.infoTextLength = 31;
    header.messageLength = 220;
    header.licenceLength = 1817;
    EXPECT_EQ(CabinetOffset(&header), 71786u);
}

PackageHeader DistinctHeader()
{
    PackageHeader header{};
    header.showCompletion = 1;
    header.titleLength = 0x11;
    header.infNameLength = 0x22;
    header.requireAdmin = 2;
    header.infoTextLength = 0x33;
    header.messageLength = 0x04030201;
    header.licenceLength = 0x08070605;
    header.removeInstallButton = 3;
    header.multiVolume = 4;
    header.useAdvpack = 5;
    header.cabinetScrambled = 6;
    header.totalSize = 0x0C0B0A09;
    return header;
}

const uint8_t distinctHeaderBytes[24] = {
    'K', 'Z', 'Q', 1, 0x11, 0x22, 2, 0x33, 0x01, 0x02, 0x03, 0x04,
    0x05, 0x06, 0x07, 0x08, 3, 4, 5, 6, 0x09, 0x0A, 0x0B, 0x0C,
};

TEST(Header, SerialisesEveryFieldInPlaceLittleEndian)
{
    PackageHeader header = DistinctHeader();
    uint8_t bytes[24] = {};
    SerialisePackageHeader(&header, bytes);
    EXPECT_EQ(0, memcmp(bytes, distinctHeaderBytes, sizeof bytes));
}

TEST(Header, ParsesEveryFieldFromItsPlace)
{
    PackageHeader parsed{};
    ParsePackageHeader(distinctHeaderBytes, &parsed);
    PackageHeader expected = DistinctHeader();
    EXPECT_EQ(0, memcmp(parsed.magic, "KZQ", 3));
    EXPECT_EQ(parsed.showCompletion, expected.showCompletion);
    EXPECT_EQ(parsed.titleLength, expected.titleLength);
    EXPECT_EQ(parsed.infNameLength, expected.infNameLength);
    EXPECT_EQ(parsed.requireAdmin, expected.requireAdmin);
    EXPECT_EQ(parsed.infoTextLength, expected.infoTextLength);
    EXPECT_EQ(parsed.messageLength, expected.messageLength);
    EXPECT_EQ(parsed.licenceLength, expected.licenceLength);
    EXPECT_EQ(parsed.removeInstallButton, expected.removeInstallButton);
    EXPECT_EQ(parsed.multiVolume, expected.multiVolume);
    EXPECT_EQ(parsed.useAdvpack, expected.useAdvpack);
    EXPECT_EQ(parsed.cabinetScrambled, expected.cabinetScrambled);
    EXPECT_EQ(parsed.totalSize, expected.totalSize);
}

TEST(Header, FieldTableCoversTheBytesBehindTheMagic)
{
    uint32_t next = magicLength;
    for (const HeaderField &field : headerFields) {
        EXPECT_EQ(field.offset, next);
        next += field.width;
    }
    EXPECT_EQ(next, headerSize);
}

TEST(Header, MagicIsCaseSensitiveAndStopsAtNul)
{
    EXPECT_TRUE(HasPackageMagic((const uint8_t *)"KZQ"));
    EXPECT_FALSE(HasPackageMagic((const uint8_t *)"kzq"));
    EXPECT_FALSE(HasPackageMagic((const uint8_t *)"KZq"));
    const uint8_t shortText[3] = {'K', 'Z', 0};
    EXPECT_FALSE(HasPackageMagic(shortText));
}

TEST(Header, ConsistencyRejectsValuesOf2To31AndTextsPastTheEnd)
{
    PackageHeader header{};
    header.totalSize = textOffset + 10;
    header.messageLength = 10;
    EXPECT_TRUE(PackageHeaderConsistent(&header));  // texts end exactly at the end
    header.messageLength = 11;
    EXPECT_FALSE(PackageHeaderConsistent(&header));

    PackageHeader big{};
    big.totalSize = 0x7FFFFFFF;
    EXPECT_TRUE(PackageHeaderConsistent(&big));
    big.totalSize = 0x80000000;
    EXPECT_FALSE(PackageHeaderConsistent(&big));
    big.totalSize = 0x7FFFFFFF;
    big.licenceLength = 0x80000000;
    EXPECT_FALSE(PackageHeaderConsistent(&big));
    big.licenceLength = 0;
    big.messageLength = 0xFFFFFFFF;
    EXPECT_FALSE(PackageHeaderConsistent(&big));

    // Each below 2^31, together past 2^32: the texts' end wraps to a small offset in 32 bits.
    PackageHeader wrapping{};
    wrapping.titleLength = wrapping.infNameLength = wrapping.infoTextLength = 255;
    wrapping.messageLength = 0x7FFFFF37;
    wrapping.licenceLength = 0x7FFFFFEF;
    wrapping.totalSize = 0x00FFFFEF;
    EXPECT_LE(CabinetOffset(&wrapping), wrapping.totalSize);
    EXPECT_FALSE(PackageHeaderConsistent(&wrapping));
}

TEST(BuiltinTexts, InformationTextIsStoredScrambledOnly)
{
    StoredText62 copy = storedBuiltinInfoText;
    // Plain ASCII or NUL padding under a key with the top bit set: every stored byte but the
    // first has its top bit set, so the plain text is nowhere in the program.
    for (uint32_t i = 1; i < builtinInfoTextLength; i++)
        EXPECT_GE(copy.bytes[i], 0x80) << "at " << i;
    ScrambleText(copy.bytes, builtinInfoTextLength);
    const char *plain = (const char *)copy.bytes;
    size_t length = strnlen(plain, builtinInfoTextLength);
    EXPECT_GT(length, 20u);
    EXPECT_NE(std::string(plain, length).find("Quarvel"), std::string::npos);
    for (size_t i = length; i < builtinInfoTextLength; i++)
        EXPECT_EQ(copy.bytes[i], 0) << "padding at " << i;
}

// ---- Stored names ---------------------------------------------------------------------------

TEST(StoredNames, OnlyFilesInsideTheWorkDirectory)
{
    struct Row {
        const char *name;
        bool contained;
    } rows[] = {
        {"setup.inf", true},
        {"he..o.c", true},           // dots inside a name are just dots
        {"..welcome", true},
        {"sub\\file.c", true},        // a folder part stays inside (creating it fails later)
        {"console.txt", true},       // longer than a device name
        {"COM10", true},
        {"COM0.txt", true},          // not a device
        {"LPT", true},
        // Leaving the work directory.
        {"..\\up.c", false},
        {"../up.c", false},
        {"x\\..\\up.c", false},
        {". .\\up.c", false},         // dots and spaces: the platform drops the spaces
        {".. \\up.c", false},
        {"\\root.c", false},
        {"/root.c", false},
        {"C:up.c", false},           // a drive
        {"file.c:stream", false},    // a stream
        // Devices: the file would be the device, and its path could not be deleted.
        {"CON", false},
        {"nul.txt", false},          // with an extension
        {"Aux.tar.gz", false},
        {"PRN ", false},             // trailing spaces are dropped
        {"com1 .log", false},        // so are spaces before the extension
        {"LPT9", false},
        {"COM\xB9.txt", false},      // superscript one
        {"lpt\xB3", false},
        {"sub\\NUL", false},          // in any component
        {"CON\\x.c", false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(IsContainedName(row.name), row.contained) << row.name;
}

const uint8_t *Bytes(const std::string &text)
{
    return (const uint8_t *)text.data();
}

TEST(Signature, FindsTheSecurityDirectoryOfAPe32HeaderOnly)
{
    CertificateTable table{};
    std::string signedFront = SignedProgramFront(71808 - 1480, 1480);
    ASSERT_TRUE(FindCertificateTable(Bytes(signedFront), peHeadersReadSize, &table));
    EXPECT_EQ(table.offset, 71808u - 1480);
    EXPECT_EQ(table.size, 1480u);

    struct Row {
        const char *fault;
        uint32_t at, value;
    } rows[] = {
        {"an unsigned file: empty directory", peSecurityDirectoryAt + 4, 0},
        {"not an executable: no MZ", 0, 0},
        {"headers past the bytes read", 0x3C, peHeadersReadSize - 100},
        {"a pointer that wraps 32 bits", 0x3C, 0xFFFFFFF0},
        {"no PE signature", peHeaderAt, 0},
        {"a PE32+ header, whose directories lie elsewhere", peOptionalHeaderAt, 0x20B},
        {"too few directories for the security one", peOptionalHeaderAt + 92, 4},
        {"an optional header too short to hold it", peHeaderAt + 4 + 16, 96 + 4 * 8},
    };
    for (const Row &row : rows) {
        std::string damaged = SignedProgramFront(1000, 100);
        Put32(damaged, row.at, row.value);
        EXPECT_FALSE(FindCertificateTable(Bytes(damaged), peHeadersReadSize, &table)) << row.fault;
    }
}

TEST(Signature, TrailsContentOnlyAsTheSigningToolPlacesIt)
{
    const uint8_t zeros[8] = {}, nonZero[8] = {0, 0, 0, 0, 0, 0, 1, 0};
    struct Row {
        const char *what;
        uint32_t contentSize, offset, size, fileSize;
        const uint8_t *padding;
        bool trails;
    } rows[] = {
        {"padded to the boundary", 1001, 1008, 100, 1108, zeros, true},
        {"content on the boundary, no padding", 1000, 1000, 100, 1100, nonZero, true},
        {"non-zero padding", 1001, 1008, 100, 1108, nonZero, false},
        {"a directory pointing one boundary further", 1001, 1016, 100, 1116, zeros, false},
        {"a table overlapping the content", 1001, 1000, 108, 1108, zeros, false},
        {"bytes after the table", 1001, 1008, 100, 1109, zeros, false},
        {"a trailer longer than the directory says", 1001, 1008, 99, 1108, zeros, false},
        {"content ending at 2^32 - 1, its boundary wraps to 0", 0xFFFFFFFF, 0, 8, 8, zeros, false},
    };
    for (const Row &row : rows) {
        CertificateTable table{row.offset, row.size};
        EXPECT_EQ(SignatureTrailsContent(&table, row.contentSize, row.fileSize, row.padding),
                  row.trails)
            << row.what;
    }
}

TEST(Signature, AFirstVolumeEndsWhereItsTableStartsBehindTheTexts)
{
    PackageHeader header{};
    header.multiVolume = 1;
    header.totalSize = 900000;
    header.messageLength = 1000;  // the texts end at textOffset + 1000
    const uint8_t zeros[8] = {};
    CertificateTable table;
    struct Row {
        const char *what;
        uint32_t offset, fileSize, packageBytes;
    } rows[] = {
        {"a table behind the texts", 80000, 81480, 80000},
        {"a table over the texts", 70000, 71480, 71480},
        {"a cut off the boundary", 80004, 81484, 81484},
        {"bytes after the table", 80000, 81481, 81481},
    };
    for (const Row &row : rows) {
        std::string front = SignedProgramFront(row.offset, 1480);
        EXPECT_EQ(UnsignedPackageBytes(&header, row.fileSize, Bytes(front),
                                       peHeadersReadSize, zeros, &table),
                  row.packageBytes)
            << row.what;
    }
}

TEST(VolumeNames, TheLastThreeCharactersBecomeTheZeroPaddedNumber)
{
    struct Row {
        const char *name;
        uint32_t number;
        const char *named;  // nullptr: refused, the name unchanged
    } rows[] = {
        {"SETUP.EXE", 1, "SETUP.001"}, {"setup.exe", 12, "setup.012"},
        {"setup.exe", 100, "setup.100"}, {"dir.d/install", 255, "dir.d/inst255"},
        {"abc", 7, "007"}, {"ab", 1, nullptr},
    };
    for (const Row &row : rows) {
        char name[32];
        strcpy(name, row.name);
        EXPECT_EQ(NameVolume(name, strlen(name), row.number), row.named != nullptr) << row.name;
        EXPECT_STREQ(name, row.named ? row.named : row.name) << row.name << " " << row.number;
    }
}

}  // namespace
