// The package format as both programs see it: layout arithmetic, header bytes, scrambling,
// stored names, the signature's place and volume names.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "layout.h"
#include "names.h"
#include "package_builder.h"
#include "scramble.h"
#include "signature.h"
#include "texts.h"
#include "volume_names.h"

namespace {

using Text = std::vector<uint8_t>;

Text Scrambled(Text text)
{
    ScrambleText(text.data(), (uint32_t)text.size());
    return text;
}

TEST(Scramble, KeepsTheFirstByteAndXorsTheRestWithTheFixedKeySequence)
{
    EXPECT_TRUE(Scrambled({}).empty() && Scrambled({'A'}) == Text{'A'}) << "a text of one byte stays";
    Text text = {'a', 0, 'b', 0, 0, 0xFF, 0x80, 'z', 0};
    EXPECT_EQ(Scrambled(Scrambled(text)), text) << "scrambling twice restores the text";
    // The built-in information text is stored scrambled, padded with zeros.
    StoredText62 copy = storedBuiltinInfoText;
    ScrambleText(copy.bytes, builtinInfoTextLength);
    std::string plain((const char *)copy.bytes, strnlen((const char *)copy.bytes, builtinInfoTextLength));
    EXPECT_NE(plain.find("Quarvel"), std::string::npos) << plain;
    EXPECT_EQ(Text(copy.bytes + plain.size(), copy.bytes + builtinInfoTextLength),
              Text(builtinInfoTextLength - plain.size(), 0)) << "padding";
}

TEST(Header, FieldsLieInPlaceLittleEndianBehindTheMagicAndTheTextsFollow)
{
    // Every field a distinct value, and those values' bytes in place.
    const uint8_t bytesOfHeader[headerSize] = {'K', 'Z', 'Q', 1, 0x11, 0x22, 2, 0x33, 1, 2, 3, 4,
                                               5, 6, 7, 8, 3, 4, 5, 6, 9, 0x0A, 0x0B, 0x0C};
    PackageHeader header{{}, 1, 0x11, 0x22, 2, 0x33, 0x04030201, 0x08070605, 3, 4, 5, 6, 0x0C0B0A09};
    uint8_t bytes[headerSize] = {};
    SerialisePackageHeader(&header, bytes);
    EXPECT_EQ(0, memcmp(bytes, bytesOfHeader, headerSize)) << "written";
    PackageHeader parsed{};
    ParsePackageHeader(bytesOfHeader, &parsed);
    SerialisePackageHeader(&parsed, bytes);
    EXPECT_TRUE(memcmp(parsed.magic, "KZQ", magicLength) == 0 && memcmp(bytes, bytesOfHeader, headerSize) == 0)
        << "read";
    EXPECT_TRUE(HasPackageMagic((const uint8_t *)"KZQ"));
    for (const char *other : {"kzq", "KZq", "KZ\0"})  // case-sensitive, and stops at a NUL
        EXPECT_FALSE(HasPackageMagic((const uint8_t *)other)) << other;
    PackageHeader lengths{};
    EXPECT_EQ(CabinetOffset(&lengths), 69656u);
    lengths.titleLength = 50, lengths.infNameLength = 12, lengths.infoTextLength = 31;
    lengths.messageLength = 220, lengths.licenceLength = 1817;
    EXPECT_EQ(CabinetOffset(&lengths), 71786u) << "the cabinet follows the five texts";
}

TEST(Header, ConsistentOnlyWithValuesBelow2To31AndTextsInsideThePackage)
{
    const struct {
        uint32_t message, licence, totalSize;
        uint8_t shortTexts;  // title, INF name and info text lengths
        bool consistent;
        const char *fault;
    } rows[] = {
        {10, 0, textOffset + 10, 0, true, "texts ending exactly at the end refused"},
        {11, 0, textOffset + 10, 0, false, "texts past the end accepted"},
        {0, 0, 0x7FFFFFFF, 0, true, "the largest size refused"},
        {0, 0, 0x80000000, 0, false, "a size of 2^31 accepted"},
        {0, 0x80000000, 0x7FFFFFFF, 0, false, "a length of 2^31 accepted"},
        {0xFFFFFFFF, 0, 0x7FFFFFFF, 0, false, "a length of 2^32 - 1 accepted"},
        // Each below 2^31, together past 2^32: in 32 bits the texts would end early.
        {0x7FFFFF37, 0x7FFFFFEF, 0x00FFFFEF, 255, false, "the texts' end wraps 32 bits"},
    };
    for (const auto &row : rows) {
        PackageHeader header{};
        header.titleLength = header.infNameLength = header.infoTextLength = row.shortTexts;
        header.messageLength = row.message, header.licenceLength = row.licence;
        header.totalSize = row.totalSize;
        EXPECT_EQ(PackageHeaderConsistent(&header), row.consistent) << row.fault;
    }
}

TEST(StoredNames, OnlyFilesInsideTheWorkDirectory)
{
    const std::pair<const char *, bool> rows[] = {
        {"setup.inf", true}, {"he..o.c", true}, {"..welcome", true},  // dots inside a name
        {"sub\\file.c", true},  // a folder part stays inside (creating it fails later)
        {"console.txt", true}, {"COM10", true}, {"COM0.txt", true}, {"LPT", true},  // no devices
        {"..\\up.c", false}, {"../up.c", false}, {"x\\..\\up.c", false},
        {". .\\up.c", false}, {".. \\up.c", false},  // the platform drops the spaces
        {"\\root.c", false}, {"/root.c", false}, {"C:up.c", false}, {"file.c:stream", false},
        // Devices: the file would be the device, and its path could not be deleted.
        {"CON", false}, {"nul.txt", false}, {"Aux.tar.gz", false}, {"PRN ", false},
        {"com1 .log", false}, {"LPT9", false}, {"COM\xB9.txt", false}, {"lpt\xB3", false},
        {"sub\\NUL", false}, {"CON\\x.c", false},
    };
    for (const auto &[name, contained] : rows)
        EXPECT_EQ(IsContainedName(name), contained) << name;
}

TEST(Signature, InTheSecurityDirectoryOfAPe32HeaderAndWhereTheSigningToolPlacesIt)
{
    CertificateTable table{};
    std::string signedFront = SignedProgramFront(70328, 1480);
    ASSERT_TRUE(FindCertificateTable((const uint8_t *)signedFront.data(), peHeadersReadSize, &table));
    EXPECT_TRUE(table.offset == 70328 && table.size == 1480) << table.offset << " " << table.size;
    const struct { const char *fault; uint32_t at, value; } rows[] = {
        {"an unsigned file: empty directory", peSecurityDirectoryAt + 4, 0},
        {"not an executable: no MZ", 0, 0},
        {"headers past the bytes read", 0x3C, peHeadersReadSize - 100},
        {"a pointer that wraps 32 bits", 0x3C, 0xFFFFFFF0},
        {"no PE signature", peHeaderAt, 0},
        {"a PE32+ header, whose directories lie elsewhere", peOptionalHeaderAt, 0x20B},
        {"too few directories for the security one", peOptionalHeaderAt + 92, 4},
        {"an optional header too short to hold it", peHeaderAt + 4 + 16, 96 + 4 * 8},
    };
    for (const auto &row : rows) {
        std::string damaged = SignedProgramFront(1000, 100);
        Put32(damaged, row.at, row.value);
        EXPECT_FALSE(FindCertificateTable((const uint8_t *)damaged.data(), peHeadersReadSize, &table))
            << row.fault;
    }
    // The table trails the content only as the signing tool places it.
    const uint8_t zeros[8] = {}, nonZero[8] = {0, 0, 0, 0, 0, 0, 1, 0};
    const struct {
        const char *what;
        uint32_t contentSize, offset, size, fileSize;
        const uint8_t *padding;
        bool trails;
    } trailRows[] = {
        {"padded to the boundary", 1001, 1008, 100, 1108, zeros, true},
        {"content on the boundary, no padding", 1000, 1000, 100, 1100, nonZero, true},
        {"non-zero padding", 1001, 1008, 100, 1108, nonZero, false},
        {"a directory pointing one boundary further", 1001, 1016, 100, 1116, zeros, false},
        {"a table overlapping the content", 1001, 1000, 108, 1108, zeros, false},
        {"bytes after the table", 1001, 1008, 100, 1109, zeros, false},
        {"a trailer longer than the directory says", 1001, 1008, 99, 1108, zeros, false},
        {"content ending at 2^32 - 1, its boundary wraps to 0", 0xFFFFFFFF, 0, 8, 8, zeros, false},
    };
    for (const auto &row : trailRows) {
        table = {row.offset, row.size};
        EXPECT_EQ(SignatureTrailsContent(&table, row.contentSize, row.fileSize, row.padding), row.trails)
            << row.what;
    }
    // A first volume ends where its table starts, if that lies behind the texts and on a boundary.
    PackageHeader header{};
    header.multiVolume = 1, header.totalSize = 900000, header.messageLength = 1000;
    const struct { const char *what; uint32_t offset, fileSize, packageBytes; } volumeRows[] = {
        {"a table behind the texts", 80000, 81480, 80000}, {"a table over the texts", 70000, 71480, 71480},
        {"a cut off the boundary", 80004, 81484, 81484}, {"bytes after the table", 80000, 81481, 81481},
    };
    for (const auto &row : volumeRows) {
        std::string front = SignedProgramFront(row.offset, 1480);
        EXPECT_EQ(UnsignedPackageBytes(&header, row.fileSize, (const uint8_t *)front.data(), peHeadersReadSize,
                                       zeros, &table), row.packageBytes) << row.what;
    }
}

TEST(VolumeNames, TheLastThreeCharactersBecomeTheZeroPaddedNumber)
{
    // named: nullptr when refused, the name unchanged.
    const struct { const char *name; uint32_t number; const char *named; } rows[] = {
        {"SETUP.EXE", 1, "SETUP.001"}, {"setup.exe", 12, "setup.012"}, {"setup.exe", 100, "setup.100"},
        {"dir.d/install", 255, "dir.d/inst255"}, {"abc", 7, "007"}, {"ab", 1, nullptr},
    };
    for (const auto &row : rows) {
        char name[32];
        strcpy(name, row.name);
        EXPECT_TRUE(NameVolume(name, strlen(name), row.number) == (row.named != nullptr) &&
                    strcmp(name, row.named ? row.named : row.name) == 0)
            << row.name << " " << row.number << ": " << name;
    }
}

}  // namespace
