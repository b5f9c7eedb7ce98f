// The packaging tool's parts on their own: text conversion, dates, names, volume arithmetic and
// sizes. The blocks in front of the cabinet are read back in packer_tool_tests.
#include <gtest/gtest.h>

#include <functional>

#include "cabinet.h"
#include "codepage.h"
#include "command_line.h"
#include "error.h"
#include "volumes.h"

namespace {

using quarvel::Error;

std::string ErrorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Error &error) {
        return error.what();
    }
    return "";
}

TEST(CodePage, FrenchTextBecomesItsWindows1252Bytes)
{
    std::string converted = quarvel::Utf8ToWindows1252("Déjà « vu » – 5 €, œuvre", "t");
    EXPECT_EQ(converted, "D\xE9j\xE0 \xAB vu \xBB \x96 5 \x80, \x9Cuvre");
}

TEST(CodePage, ByteOrderMarkIsDropped)
{
    EXPECT_EQ(quarvel::Utf8ToWindows1252("\xEF\xBB\xBFok", "t"), "ok");
}

TEST(CodePage, ACharacterWithoutA1252FormIsNamedWithItsLine)
{
    std::string message =
        ErrorOf([] { quarvel::Utf8ToWindows1252("one\ntwo\nthree \xE2\x9C\x93\n", "licence.txt"); });
    EXPECT_NE(message.find("licence.txt:3:"), std::string::npos) << message;
    EXPECT_NE(message.find("U+2713"), std::string::npos) << message;
    EXPECT_NE(message.find("\xE2\x9C\x93"), std::string::npos) << message;
}

TEST(CodePage, BadInputIsRefused)
{
    // Cut sequence, overlong slash, surrogate, stray continuation byte, NUL.
    for (const std::string &input : {std::string("caf\xC3"), std::string("\xC0\xAF"),
                                      std::string("\xED\xA0\x80"), std::string("\x80"),
                                      std::string("a\0b", 3)})
        EXPECT_NE(ErrorOf([&] { quarvel::Utf8ToWindows1252(input, "t"); }), "") << input;
    // C1 controls, U+0080 to U+009F, have no form either: 1252 puts other characters there.
    for (const char *control : {"\xC2\x80", "\xC2\x81", "\xC2\x9F"})
        EXPECT_NE(ErrorOf([&] { quarvel::Utf8ToWindows1252(control, "t"); }), "") << control;
}

TEST(CodePage, EveryDefinedByteSurvivesTheRoundTrip)
{
    for (int byte = 1; byte < 256; byte++) {
        if (byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D)
            continue;
        std::string plain(1, (char)byte);
        EXPECT_EQ(quarvel::Utf8ToWindows1252(quarvel::Windows1252ToUtf8(plain), "t"), plain) << byte;
    }
}

TEST(CodePage, LineEnds)
{
    EXPECT_EQ(quarvel::WithCrLf("a\nb\r\nc\n\n"), "a\r\nb\r\nc\r\n\r\n");
    EXPECT_EQ(quarvel::WithCrLf("\n"), "\r\n");
    EXPECT_EQ(quarvel::WithLf("a\r\nb\rc\r\n"), "a\nb\rc\n");
}

TEST(DosTimestamp, StoresUtcFieldsWithEvenSeconds)
{
    quarvel::DosTimestamp leapDay = quarvel::ToDosTimestamp(1709214331);  // 2024-02-29 13:45:31
    EXPECT_EQ(leapDay.date, 22621);
    EXPECT_EQ(leapDay.time, 28079);  // 13:45:30
    EXPECT_EQ(quarvel::FromDosTimestamp(leapDay), 1709214330);
}

TEST(DosTimestamp, ClampsToTheYearsADosDateHolds)
{
    quarvel::DosTimestamp early = quarvel::ToDosTimestamp(0);
    EXPECT_EQ(early.date, (0 << 9) | (1 << 5) | 1);
    EXPECT_EQ(early.time, 0);
    quarvel::DosTimestamp late = quarvel::ToDosTimestamp(int64_t(1) << 40);
    EXPECT_EQ(late.date, 65439);  // 2107-12-31
    EXPECT_EQ(late.time, 49021);  // 23:59:58
}

TEST(StoredNames, WhatTheInstallerCanExtractFlat)
{
    struct Row {
        const char *name;
        bool good;
    } rows[] = {
        {"setup.inf", true},
        {"Read Me.txt", true},
        {"a-b_c~1.dll", true},
        {"", false},
        {"sub\\file.txt", false},      // directory part
        {"sub/file.txt", false},       // directory part, the other separator
        {"C:file.txt", false},         // drive
        {"file.txt:stream", false},    // stream
        {"..", false},
        {"caf\xC3\xA9.txt", false},    // not ASCII
        {"what?.txt", false},
        {"tab\there", false},
        {"trailing.", false},
        {"trailing ", false},
        {"NUL.txt", false},            // device (the rule itself: format_tests)
    };
    for (const Row &row : rows)
        EXPECT_EQ(quarvel::StoredNameFault(row.name).empty(), row.good) << quarvel::Quoted(row.name);
    EXPECT_FALSE(quarvel::StoredNameFault(std::string(256, 'a')).empty());
    EXPECT_TRUE(quarvel::StoredNameFault(std::string(255, 'a')).empty());
}

TEST(StoredNames, WhatExtractionRefuses)
{
    struct Row {
        const char *name;
        const char *fault;  // a word of the reason, or "" for a name that is extracted
    } rows[] = {
        {"file.txt", ""},
        {"caf\xC3\xA9.txt", ""},
        {"..\\x", "leads out"},
        {"../x", "leads out"},
        {"a\\..\\..\\x", "leads out"},
        {"C:\\x", "drive"},
        {"C:x", "drive"},
        {"\\x", "absolute"},
        {"/etc/passwd", "absolute"},
        {"sub\\x", "directory part"},
        {"..", "not a file name"},
        {"", "not a file name"},
        {"x\ny", "control"},
        {"\xC0\xAF..\xC0\xAFx", "UTF-8"},  // overlong slashes
    };
    for (const Row &row : rows) {
        std::string fault = quarvel::ExtractionNameFault(row.name);
        if (*row.fault == 0)
            EXPECT_EQ(fault, "") << row.name;
        else
            EXPECT_NE(fault.find(row.fault), std::string::npos) << row.name << ": " << fault;
    }
}

TEST(Volumes, NamesReplaceTheLastThreeCharacters)
{
    EXPECT_EQ(quarvel::VolumeName("A/SETUP.EXE", 1), "A/SETUP.001");
    EXPECT_EQ(quarvel::VolumeName("setup.exe", 12), "setup.012");
    EXPECT_EQ(quarvel::VolumeName("dir.d/install", 255), "dir.d/inst255");
    EXPECT_NE(ErrorOf([] { quarvel::VolumeName("dir/abc", 1); }), "");
}

TEST(Volumes, PlanCutsAtTheVolumeSizeAndKeepsTheTextsInTheInstaller)
{
    quarvel::VolumePlan even = quarvel::PlanVolumes(300000, 70000, 100000);
    EXPECT_EQ(even.installerSize, 100000u);
    EXPECT_EQ(even.continuationSizes, (std::vector<uint64_t>{100000, 100000}));

    quarvel::VolumePlan ragged = quarvel::PlanVolumes(250001, 70000, 100000);
    EXPECT_EQ(ragged.continuationSizes, (std::vector<uint64_t>{100000, 50001}));

    // A volume smaller than the texts: the installer file still holds them all.
    quarvel::VolumePlan small = quarvel::PlanVolumes(100000, 70000, 10000);
    EXPECT_EQ(small.installerSize, 70000u);
    EXPECT_EQ(small.continuationSizes.size(), 3u);
    EXPECT_EQ(small.continuationSizes.back(), 10000u);

    // The installer file's share ends on a boundary of 8: signed, it needs no padding, which
    // the installer would join as package bytes.
    EXPECT_EQ(quarvel::PlanVolumes(300000, 70000, 100007).installerSize, 100000u);
    EXPECT_EQ(quarvel::PlanVolumes(300000, 70001, 10000).installerSize, 70008u);

    quarvel::VolumePlan whole = quarvel::PlanVolumes(90000, 70000, 100000);
    EXPECT_EQ(whole.installerSize, 90000u);
    EXPECT_TRUE(whole.continuationSizes.empty());
}

TEST(Volumes, AtMost255Continuations)
{
    EXPECT_EQ(quarvel::PlanVolumes(1000 + 255 * 10, 1000, 10).continuationSizes.size(), 255u);
    std::string message = ErrorOf([] { quarvel::PlanVolumes(1000 + 255 * 10 + 1, 1000, 10); });
    EXPECT_NE(message.find("256 continuation volumes"), std::string::npos) << message;
}

TEST(CommandLine, Sizes)
{
    EXPECT_EQ(quarvel::ParseSize("1474560"), 1474560u);
    EXPECT_EQ(quarvel::ParseSize("1440k"), 1474560u);
    EXPECT_EQ(quarvel::ParseSize("100M"), 104857600u);
    EXPECT_EQ(quarvel::ParseSize("2G"), 2147483648u);
    for (const char *bad : {"", "k", "0", "1.44M", "10 M", "10KB", "-5", "99999999999999"})
        EXPECT_NE(ErrorOf([&] { quarvel::ParseSize(bad); }), "") << bad;
}

}  // namespace
