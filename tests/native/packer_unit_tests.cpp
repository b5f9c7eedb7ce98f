// The packaging tool's parts on their own: text conversion, dates, names, volume arithmetic and
// sizes. The program itself, and what it writes, in packer_tool_tests.
#include <gtest/gtest.h>

#include <functional>

#include "cabinet.h"
#include "codepage.h"
#include "command_line.h"
#include "error.h"
#include "volumes.h"

namespace {

using namespace quarvel;

std::string ErrorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Error &error) {
        return error.what();
    }
    return "";
}

TEST(CodePage, UsersUtf8BecomesWindows1252WithCrLf)
{
    EXPECT_EQ(Utf8ToWindows1252("D\xC3\xA9j\xC3\xA0 \xC2\xAB vu \xC2\xBB \xE2\x80\x93 5 \xE2\x82\xAC, "
                                "\xC5\x93uvre", "t"),
              "D\xE9j\xE0 \xAB vu \xBB \x96 5 \x80, \x9Cuvre");
    EXPECT_EQ(Utf8ToWindows1252("\xEF\xBB\xBFok", "t"), "ok") << "a byte-order mark kept";
    // Cut sequence, overlong slash, surrogate, stray continuation byte; then C1 controls, which
    // have no form: 1252 puts other characters at 0x80 to 0x9F.
    for (const char *bad : {"caf\xC3", "\xC0\xAF", "\xED\xA0\x80", "\x80", "\xC2\x80", "\xC2\x81",
                            "\xC2\x9F"})
        EXPECT_NE(ErrorOf([&] { Utf8ToWindows1252(bad, "t"); }), "") << bad;
    EXPECT_NE(ErrorOf([] { Utf8ToWindows1252(std::string_view("a\0b", 3), "t"); }), "") << "a NUL";
    for (int byte = 1; byte < 256; byte++) {
        if (byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D)
            continue;  // undefined in 1252
        std::string plain(1, (char)byte);
        EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(plain), "t"), plain) << byte;
    }
    EXPECT_EQ(WithCrLf("a\nb\r\nc\n\n"), "a\r\nb\r\nc\r\n\r\n");
    EXPECT_EQ(WithLf("a\r\nb\rc\r\n"), "a\nb\rc\n");
}

TEST(DosTimestamp, UtcFieldsWithEvenSecondsWithinTheYearsADateHolds)
{
    const struct {
        int64_t seconds;
        uint16_t date, time;
    } rows[] = {
        {1709214331, 22621, 28079},           // 2024-02-29 13:45:30: odd seconds round down
        {0, (1 << 5) | 1, 0},                 // before 1980: 1980-01-01 00:00:00
        {int64_t(1) << 40, 65439, 49021},     // after 2107: 2107-12-31 23:59:58
    };
    for (const auto &row : rows) {
        DosTimestamp stamp = ToDosTimestamp(row.seconds);
        EXPECT_EQ(stamp.date, row.date) << row.seconds;
        EXPECT_EQ(stamp.time, row.time) << row.seconds;
    }
    EXPECT_EQ(FromDosTimestamp(ToDosTimestamp(1709214331)), 1709214330);
}

TEST(StoredNames, WhatTheInstallerCanExtractFlat)
{
    const std::string longest(255, 'a'), tooLong(256, 'a');
    for (const char *good : {"setup.inf", "Read Me.txt", "a-b_c~1.dll", longest.c_str()})
        EXPECT_EQ(StoredNameFault(good), "") << good;
    for (const char *bad : {"", "sub\\file.txt", "sub/file.txt", "C:file.txt", "file.txt:stream", "..",
                            "caf\xC3\xA9.txt", "what?.txt", "tab\there", "trailing.", "trailing ", "NUL.txt",
                            tooLong.c_str()})
        EXPECT_NE(StoredNameFault(bad), "") << Quoted(bad);
}

TEST(StoredNames, WhatExtractionRefuses)
{
    const struct {
        const char *name;
        const char *fault;  // a word of the reason, or "" for a name that is extracted
    } rows[] = {
        {"file.txt", ""}, {"caf\xC3\xA9.txt", ""}, {"..\\x", "leads out"}, {"../x", "leads out"},
        {"a\\..\\..\\x", "leads out"}, {"C:\\x", "drive"}, {"C:x", "drive"}, {"\\x", "absolute"},
        {"/etc/passwd", "absolute"}, {"sub\\x", "directory part"}, {"..", "not a file name"},
        {"", "not a file name"}, {"x\ny", "control"}, {"\xC0\xAF..\xC0\xAFx", "UTF-8"},  // overlong '/'
    };
    for (const auto &row : rows) {
        std::string fault = ExtractionNameFault(row.name);
        EXPECT_TRUE(*row.fault ? fault.find(row.fault) != std::string::npos : fault.empty())
            << row.name << ": " << fault;
    }
}

// The naming rule has its table with the format; the tool adds a path, and refuses a file name
// that the number would swallow whole.
TEST(Volumes, PlanCutsAtTheVolumeSizeAndKeepsTheTextsInTheInstaller)
{
    EXPECT_EQ(VolumeName("dir.d/install", 255), "dir.d/inst255");
    EXPECT_NE(ErrorOf([] { VolumeName("dir/abc", 1); }), "");
    const struct {
        uint64_t totalSize, cabinetOffset, volumeSize, installerSize;
        std::vector<uint64_t> continuations;
    } rows[] = {
        {300000, 70000, 100000, 100000, {100000, 100000}},
        {250001, 70000, 100000, 100000, {100000, 50001}},
        {100000, 70000, 10000, 70000, {10000, 10000, 10000}},  // all the texts, though past the size
        {90000, 70000, 100000, 90000, {}},
        // The installer file's share ends on a boundary of 8: signed, it needs no padding, which
        // the installer would join as package bytes.
        {300000, 70000, 100007, 100000, {100007, 99993}},
        {100000, 70001, 10000, 70008, {10000, 10000, 9992}},
        {1000 + 255 * 10, 1000, 10, 1000, std::vector<uint64_t>(255, 10)},
    };
    for (const auto &row : rows) {
        VolumePlan plan = PlanVolumes(row.totalSize, row.cabinetOffset, row.volumeSize);
        EXPECT_EQ(plan.installerSize, row.installerSize) << row.totalSize << " " << row.volumeSize;
        EXPECT_EQ(plan.continuationSizes, row.continuations) << row.totalSize << " " << row.volumeSize;
    }
    std::string message = ErrorOf([] { PlanVolumes(1000 + 255 * 10 + 1, 1000, 10); });
    EXPECT_NE(message.find("256 continuation volumes"), std::string::npos) << message;
}

TEST(CommandLine, Sizes)
{
    EXPECT_EQ(ParseSize("1474560"), 1474560u);
    EXPECT_EQ(ParseSize("1440k"), 1474560u);
    EXPECT_EQ(ParseSize("100M"), 104857600u);
    EXPECT_EQ(ParseSize("2G"), 2147483648u);
    for (const char *bad : {"", "k", "0", "1.44M", "10 M", "10KB", "-5", "99999999999999"})
        EXPECT_NE(ErrorOf([&] { ParseSize(bad); }), "") << bad;
}

}  // namespace
