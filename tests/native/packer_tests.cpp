// The packaging tool: its parts through its library (text conversion, names, volume arithmetic,
// sizes), then the `quarvel` program as its users run it: what pack writes, read back by hand and
// by inspect and extract; every error it names; the INF of `pack --app` (a golden file: reviewing
// its diff is the point).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app.h"
#include "cabinet.h"
#include "codepage.h"
#include "command_line.h"
#include "error.h"
#include "package_builder.h"
#include "scramble.h"
#include "signature.h"
#include "stored_cabinet.h"
#include "system.h"
#include "volumes.h"

namespace {

using namespace quarvel;
namespace fs = std::filesystem;

TEST(CodePage, UsersUtf8BecomesWindows1252WithCrLf)
{
    EXPECT_EQ(Utf8ToWindows1252("D\xC3\xA9j\xC3\xA0 \xC2\xAB vu \xC2\xBB \xE2\x80\x93 5 \xE2\x82\xAC, "
                                "\xC5\x93uvre", "t"),
              "D\xE9j\xE0 \xAB vu \xBB \x96 5 \x80, \x9Cuvre");
    EXPECT_EQ(Utf8ToWindows1252("\xEF\xBB\xBFok", "t"), "ok") << "a byte-order mark kept";
    // Cut sequence, overlong slash, surrogate, stray continuation byte; then C1 controls, which
    // have no form: 1252 puts other characters at 0x80 to 0x9F.
    for (std::string bad : {"caf\xC3", "\xC0\xAF", "\xED\xA0\x80", "\x80", "\xC2\x80", "\xC2\x81", "\xC2\x9F"})
        EXPECT_THROW(Utf8ToWindows1252(bad, "t"), Error) << bad;
    EXPECT_THROW(Utf8ToWindows1252(std::string_view("a\0b", 3), "t"), Error) << "a NUL";
    for (int byte = 1; byte < 256; byte++) {  // but for the five bytes 1252 leaves undefined
        std::string plain(1, (char)byte);
        EXPECT_TRUE(strchr("\x81\x8D\x8F\x90\x9D", byte) ||
                    Utf8ToWindows1252(Windows1252ToUtf8(plain), "t") == plain) << byte;
    }
    EXPECT_EQ(WithCrLf("a\nb\r\nc\n\n"), "a\r\nb\r\nc\r\n\r\n");
    EXPECT_EQ(WithLf("a\r\nb\rc\r\n"), "a\nb\rc\n");
}

// Pack stores only what the installer can extract flat; extract refuses what leads out.
TEST(StoredNames, WhatPackStoresAndWhatExtractionRefuses)
{
    const std::string longest(255, 'a'), tooLong(256, 'a');
    for (const char *good : {"setup.inf", "Read Me.txt", "a-b_c~1.dll", longest.c_str()})
        EXPECT_EQ(StoredNameFault(good), "") << good;
    for (const char *bad : {"", "sub\\file.txt", "sub/file.txt", "C:file.txt", "file.txt:stream", "..",
                            "caf\xC3\xA9.txt", "what?.txt", "tab\there", "trailing.", "trailing ", "NUL.txt",
                            tooLong.c_str()})
        EXPECT_NE(StoredNameFault(bad), "") << Quoted(bad);
    const std::pair<const char *, const char *> rows[] = {  // a word of the reason, "" if extracted
        {"file.txt", ""}, {"caf\xC3\xA9.txt", ""}, {"..\\x", "leads out"}, {"../x", "leads out"},
        {"a\\..\\..\\x", "leads out"}, {"C:\\x", "drive"}, {"C:x", "drive"}, {"\\x", "absolute"},
        {"/etc/passwd", "absolute"}, {"sub\\x", "directory part"}, {"..", "not a file name"},
        {"", "not a file name"}, {"x\ny", "control"}, {"\xC0\xAF..\xC0\xAFx", "UTF-8"},  // overlong '/'
    };
    for (const auto &[name, reason] : rows) {
        std::string fault = ExtractionNameFault(name);
        EXPECT_TRUE(*reason ? fault.find(reason) != std::string::npos : fault.empty())
            << name << ": " << fault;
    }
}

// --volume-size, and the plan it makes: the installer file keeps all the texts. The naming rule
// has its table with the format; the tool refuses a file name that the number would swallow.
TEST(Volumes, SizesAndThePlanThatCutsAtThemKeepingTheTextsInTheInstaller)
{
    EXPECT_EQ((std::vector<uint64_t>{ParseSize("1474560"), ParseSize("1440k"), ParseSize("100M"),
                                     ParseSize("2G")}),
              (std::vector<uint64_t>{1474560, 1474560, 104857600, 2147483648}));
    for (const char *bad : {"", "k", "0", "1.44M", "10 M", "10KB", "-5", "99999999999999"})
        EXPECT_THROW(ParseSize(bad), Error) << bad;
    EXPECT_THROW(VolumeName("dir.d/abc", 1), Error);
    EXPECT_THROW(PlanVolumes(1000 + 255 * 10 + 1, 1000, 10), Error) << "256 continuation volumes";
    const struct {
        uint64_t totalSize, cabinetOffset, volumeSize, installerSize;
        std::vector<uint64_t> continuations;
    } rows[] = {
        {300000, 70000, 100000, 100000, {100000, 100000}}, {250001, 70000, 100000, 100000, {100000, 50001}},
        // The installer file's share ends on a boundary of 8: signed, it needs no padding, which
        // the installer would join as package bytes. (Pack's round trip has volumes smaller than
        // the texts, and one that holds everything.)
        {300000, 70000, 100007, 100000, {100007, 99993}}, {100000, 70001, 10000, 70008, {10000, 10000, 9992}},
        {1000 + 255 * 10, 1000, 10, 1000, std::vector<uint64_t>(255, 10)},
    };
    for (const auto &row : rows) {
        VolumePlan plan = PlanVolumes(row.totalSize, row.cabinetOffset, row.volumeSize);
        EXPECT_TRUE(plan.installerSize == row.installerSize && plan.continuationSizes == row.continuations)
            << row.totalSize << " " << row.volumeSize;
    }
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every path under a directory, with each file's size: what a failed run may not change.
std::vector<std::string> TreeOf(const std::string &directory)
{
    std::vector<std::string> tree;
    for (const auto &entry : fs::recursive_directory_iterator(directory))
        tree.push_back(entry.path().string() +
                       (entry.is_regular_file() ? " " + std::to_string(entry.file_size()) : "/"));
    std::sort(tree.begin(), tree.end());
    return tree;
}

// Runs the built `quarvel` without SOURCE_DATE_EPOCH, or with the environment entry given; its
// output is stdout and stderr together.
ProgramRun RunTool(std::vector<std::string> arguments, const std::string &environment = "")
{
    arguments.insert(arguments.begin(), QUARVEL_TOOL);
    if (!environment.empty())
        arguments.insert(arguments.begin(), environment);
    arguments.insert(arguments.begin(), {"env", "-u", "SOURCE_DATE_EPOCH"});
    return RunProgram(arguments);
}

bool Says(const ProgramRun &run, int exitStatus, const std::string &text)
{
    return run.exitStatus == exitStatus && run.output.find(text) != std::string::npos;
}

const char infText[] = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n";

// A scratch directory d, removed with its contents, with a payload to pack in it.
class Tool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mkdtemp(d.data()));
        payload = d + "/payload", output = d + "/setup.exe";
        WriteFile(payload + "/setup.inf", infText);
        std::string data(100000, 0);  // half text, half noise: MSZIP has something to do
        for (uint32_t i = 0, seed = 1; i < data.size(); i++, seed = seed * 1103515245 + 12345)
            data[i] = (i / 64) % 2 ? (char)(seed >> 24) : "quarvel "[i % 8];
        WriteFile(payload + "/data.bin", data);
        WriteFile(payload + "/empty.txt", "");
    }
    void TearDown() override { fs::remove_all(d); }

    // Packs into `output`, failing the test when pack fails; the installer file's bytes.
    std::string Pack(std::vector<std::string> arguments, const std::string &environment)
    {
        arguments.insert(arguments.begin(), {"pack", "-q", "-o", output});
        ProgramRun run = RunTool(arguments, environment);
        EXPECT_EQ(run.exitStatus, 0) << run.output;
        return ReadFile(output);
    }

    std::string d = (fs::temp_directory_path() / "quarvel-test.XXXXXX").string(), payload, output;
};

// Every way of packing the payload, each with the texts and flags, read back by inspect and
// extracted with its files' times; but for a signature, packing twice gives the same bytes.
TEST_F(Tool, EachWayOfPackingWritesWhatInspectAndExtractReadBack)
{
    WriteFile(d + "/message.txt", "Bonjour,\nvoici l'\xC3\xA9t\xC3\xA9.\n");
    WriteFile(d + "/licence.txt", "Licence\n\n\xC3\x80 accepter.");
    WriteFile(d + "/info.txt", "Version 1 \xE2\x80\x94 test");
    ASSERT_EQ(std::system(("touch -d @1600000000 '" + payload + "'/*").c_str()), 0);
    std::string cabinet = StoredCabinet(
        {{"setup.inf", infText}, {"data.bin", ReadFile(payload + "/data.bin")}, {"empty.txt", ""}});
    WriteFile(d + "/ready.cab", cabinet);
    ASSERT_EQ(std::system(("cd '" + d + "' && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "
                           "/CN=Quarvel-Test -keyout key.pem -out cert.pem 2>/dev/null").c_str()), 0);
    const std::string epoch = "SOURCE_DATE_EPOCH=1709214331";
    const struct {
        std::vector<std::string> arguments;
        std::string environment;
        int64_t modified;   // the extracted files' time
        const char *shown;  // by inspect
    } rows[] = {
        {{"--compression", "none", payload}, epoch, 1709214330, "2024-02-29 13:45:30"},  // odd seconds down
        {{"--compression", "none", "--scramble-cabinet", payload}, epoch, 1709214330, "cabinet is scrambled"},
        {{"--compression", "none", "--volume-size", "10M", payload}, epoch, 1709214330, "stored plain"},
        // Volumes smaller than the texts: the installer file holds them all the same.
        {{"--compression", "none", "--volume-size", "60000", payload}, epoch, 1709214330, "ok   volumes"},
        // A DOS date holds the years 1980 to 2107: times outside are clamped.
        {{"--compression", "mszip", payload}, "SOURCE_DATE_EPOCH=0", 315532800,
         "1980-01-01 00:00:00 ---A-- MSZIP"},
        {{"--compression", "mszip", "--scramble-cabinet", payload}, "SOURCE_DATE_EPOCH=1099511627776",
         4354819198, "2107-12-31 23:59:58"},
        {{payload}, "", 1600000000, "stored plain"},  // without SOURCE_DATE_EPOCH, the files' own times
        {{"--cabinet", d + "/ready.cab"}, epoch, 1704110400, "2024-01-01 12:00:00"},  // the cabinet's dates
        // As a publisher signs: a throwaway self-signed certificate, through pack's own option.
        {{"--sign-cert", d + "/cert.pem", "--sign-key", d + "/key.pem", payload}, epoch, 1709214330,
         "ok   signed   by CN=Quarvel-Test: a certificate table of"},
    };
    const std::vector<std::string> texts = {
        "--title", "Titre \xC3\xA9t\xC3\xA9", "--message", d + "/message.txt", "--licence", d + "/licence.txt",
        "--info", d + "/info.txt", "--completion", "--require-admin", "--remove-install-button", "--advpack"};
    std::vector<std::string> packages;
    for (const auto &row : rows) {
        std::vector<std::string> arguments = texts;
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        packages.push_back(Pack(arguments, row.environment));
        EXPECT_TRUE(&row == &rows[8] || Pack(arguments, row.environment) == packages.back()) << row.shown;
        ProgramRun inspect = RunTool({"inspect", output});
        EXPECT_TRUE(Says(inspect, 0, row.shown)) << inspect.output;
        std::string out = d + "/out" + std::to_string(packages.size());
        EXPECT_EQ(RunTool({"extract", output, "-d", out}).output, "extracted 3 files into " + out + "\n");
        EXPECT_EQ(std::system(("diff -r " + payload + " " + out).c_str()), 0);
        for (const char *name : {"setup.inf", "data.bin", "empty.txt"})
            EXPECT_EQ(StatPath(out + "/" + name).modified, row.modified) << name;
        EXPECT_TRUE(&row != &rows[2] || !fs::exists(d + "/setup.001")) << "a volume size that holds all";
    }
    std::string verify = "osslsigncode verify -CAfile " + d + "/cert.pem " + output + " >/dev/null";
    EXPECT_EQ(std::system(verify.c_str()), 0) << "the digest must cover the whole installer";

    // Behind the built-in stub and an empty library slot, the header with the flags asked for
    // (completion, admin, no install button, advpack) and the texts in code page 1252 with CR LF,
    // as the installer shows them; inspect gives them back as they were.
    ::PackageTexts stored = {"Titre \xE9t\xE9", "setup.inf", "Version 1 \x97 test",
                             "Bonjour,\r\nvoici l'\xE9t\xE9.\r\n", "Licence\r\n\r\n\xC0 accepter."};
    PackageHeader header = WithLengths({{}, 1, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0}, stored, "");
    std::string plain = packages[0].substr(CabinetOffset(&header));
    EXPECT_TRUE(packages[0] ==
                PackageFile(WithLengths(header, stored, plain), stored, plain, ReadFile(QUARVEL_STUB)));
    WriteFile(output, packages[0]);
    ProgramRun run = RunTool({"inspect", "--json", output});
    for (const char *fragment :
         {"\"title\": \"Titre \xC3\xA9t\xC3\xA9\"", "\"infoText\": \"Version 1 \xE2\x80\x94 test\"",
          "\"message\": \"Bonjour,\\nvoici l'\xC3\xA9t\xC3\xA9.\\n\"", "\"name\": \"data.bin\"",
          "\"licence\": \"Licence\\n\\n\xC3\x80 accepter.\""})
        EXPECT_NE(run.output.find(fragment), std::string::npos) << fragment << "\n" << run.output;

    // A scrambled cabinet is the plain one XOR the key of the total size; a volume size that
    // holds everything makes the plain package; a ready cabinet is stored as it is.
    uint8_t key = CabinetKey((uint32_t)packages[1].size());
    ASSERT_NE(key, 0) << "a key of 0 hides scrambling: change the payload's size";
    std::string unscrambled = packages[1];
    unscrambled[headerOffset + hdrCabinetScrambled] = 0;
    for (size_t i = CabinetOffset(&header); i < unscrambled.size(); i++)
        unscrambled[i] ^= key;
    EXPECT_TRUE(unscrambled == packages[0] && packages[2] == packages[0]);
    EXPECT_TRUE(packages[7].substr(packages[7].size() - cabinet.size()) == cabinet);

    // The installer file ends at a signature's boundary behind the texts, and the volumes after
    // it join to the single-file package; inspect and extract name a missing one.
    EXPECT_EQ(packages[3].size(), CertificateTableOffsetAfter(CabinetOffset(&header)));
    EXPECT_TRUE(ReadFile(d + "/setup.001").size() == 60000 && !fs::exists(d + "/setup.003"));
    std::string joined = packages[3] + ReadFile(d + "/setup.001") + ReadFile(d + "/setup.002");
    EXPECT_EQ(joined[headerOffset + hdrMultiVolume], 1);
    joined[headerOffset + hdrMultiVolume] = 0;
    EXPECT_TRUE(joined == packages[0]);
    WriteFile(output, packages[3]);
    fs::remove(d + "/setup.002");
    run = RunTool({"inspect", output});
    EXPECT_TRUE(Says(run, 1, "setup.002 is missing")) << run.output;
    run = RunTool({"extract", output, "-d", d + "/x"});
    EXPECT_TRUE(Says(run, 1, "setup.002: the volume is missing")) << run.output;

    // Inspect names each fault of a damaged package (past its end: a byte too many).
    const std::pair<const char *, size_t> damages[] = {
        {"FAIL magic", headerOffset}, {"FAIL size", packages[1].size()},
        {"FAIL key", headerOffset + hdrTotalSize},       // the key of another size
        {"FAIL inf", textOffset + stored.title.size()},  // an INF name not in the cabinet
    };
    for (const auto &[failure, at] : damages) {
        std::string damaged = packages[1];
        at < damaged.size() ? (void)(damaged[at] ^= 1) : damaged.push_back('\0');
        WriteFile(output, damaged);
        run = RunTool({"inspect", output});
        EXPECT_TRUE(Says(run, 1, failure)) << failure << "\n" << run.output;
    }
}

// Each run fails with one line that names its cause, and writes no file nor leaves one behind.
// One row per check in the tool: the rules' other cases are the library's tables above.
TEST_F(Tool, EachErrorIsOneLineThatNamesItsCauseAndWritesNothing)
{
    // An application whose INF leads a file out of its folder.
    std::string evilInf = "; Written by quarvel pack --app\r\n[App.Entry]\r\n"
                          "HKLM,\"k\",\"InstallLocation\",0,\"%16422%\\X\"\r\n[SourceDisksNames]\r\n"
                          "1=\"X\",\"X.cab\",,\r\n[SourceDisksFiles]\r\nf1=1\r\n[DestinationDirs]\r\n"
                          "App.Files1=16422,\"X\\..\"\r\n[App.Files1]\r\n\"evil.txt\",f1\r\n";
    const std::pair<std::string, std::string> files[] = {
        {"setup.exe", "an older installer"}, {"tick.txt", "ok\nnot \xE2\x9C\x93 ok\n"}, {"not-a.dll", "PE"},
        {"big.dll", "MZ" + std::string(40959, '\0')}, {"second.inf", infText}, {"a,b.inf", infText},
        {"README.TXT", "upper"}, {"lower/readme.txt", "lower"}, {"nested/setup.inf", infText},
        {"nested/sub/x", ""},
        {"set.cab", StoredCabinet({{"setup.inf", "aaaaaaaaaa"}}, "next.cab")},
        {"dir.cab", StoredCabinet({{"setup.inf", ""}, {"sub\\x.txt", "xxx"}})},
        {"up.exe", PackageAround(StoredCabinet({{"setup.inf", "s"}, {"..\\x", "xxxx"}}), "setup.inf", true)},
        {"long.exe", PackageAround(StoredCabinet({{"setup.inf", "s"}}), "setup.inf", false) + '\0'},
        {"evil.exe", PackageAround(StoredCabinet({{"X.inf", evilInf}, {"X.cab", StoredCabinet({{"f1", ""}})}}),
                                   "X.inf", false)},
    };
    for (const auto &[name, bytes] : files)
        WriteFile(d + "/" + name, bytes);
    for (int i = 0; i < 256; i++)
        WriteFile(d + "/many/f" + std::to_string(i) + ".inf", "");
    using Arguments = std::vector<std::string>;
    auto pack = [&](Arguments arguments) {
        arguments.insert(arguments.begin(), {"pack", "-q", "-o", output});
        return arguments;
    };
    auto extract = [&](const char *file) { return Arguments{"extract", "-q", d + "/" + file, "-d", d}; };
    // pack --app of a tree of these files (a name ending in '/' an empty folder).
    int trees = 0;
    auto app = [&](const Arguments &files, Arguments options = {}, const std::string &name = "X") {
        std::string tree = d + "/trees/" + std::to_string(trees++) + "/";
        for (const std::string &file : files)
            file.back() == '/' ? (void)fs::create_directories(tree + file) : WriteFile(tree + file, {});
        options.insert(options.begin(), {"--app", tree, "--name", name});
        return pack(options);
    };
    const std::string p = payload, longName(120, 'n');
    const struct {
        Arguments arguments;
        int status;
        const char *error, *environment = "";
    } rows[] = {
        {pack({p, "nosuch.txt"}), 1, "nosuch.txt: no such file"},
        {pack({"--inf", "other.inf", p}), 1, "--inf \"other.inf\" is not among the files"},
        // advpack's command line would end the name at the comma.
        {pack({p + "/data.bin", d + "/a,b.inf"}), 1, "the INF file \"a,b.inf\" has a comma in its name"},
        {pack({p, d + "/second.inf"}), 1, "2 .inf files among the files"},
        {pack({p + "/data.bin"}), 1, "no .inf file among the files"},
        {pack({d + "/nested"}), 1, "nested/sub: a subdirectory"},
        {pack({p, d + "/README.TXT", d + "/lower"}), 1, "stored as \"README.TXT\" and \"readme.txt\""},
        {pack({"--inf", "f0.inf", d + "/many"}), 1, "256 files; the installer deletes at most 255"},
        {pack({"--title", std::string(256, 't'), p}), 1, "the title is 256 bytes"},
        {pack({"--message", d + "/tick.txt", p}), 1, "tick.txt:2: \"\xE2\x9C\x93\" (U+2713) has no form in"},
        {pack({"--cabinet-library", d + "/big.dll", p}), 1, "big.dll: 40961 bytes, more than the 40960"},
        {pack({"--cabinet-library", d + "/not-a.dll", p}), 1, "not-a.dll: not a DLL image"},
        {pack({"--cabinet", d + "/set.cab"}), 1, "set.cab: is part of a cabinet set"},
        {pack({"--cabinet", d + "/dir.cab"}), 1, "\"sub\\x.txt\" has a directory part"},
        {pack({"--cabinet", d + "/big.dll"}), 1, "big.dll: no cabinet signature"},
        {pack({"--sign-cert", p + "/empty.txt", "--sign-key", p + "/empty.txt", p}), 1,
         "needs osslsigncode (Debian package osslsigncode)", "PATH=/nonexistent"},
        // Usage.
        {{"pack", p}, 2, "pack needs an output file"}, {pack({"--bogus", p}), 2, "unknown option --bogus"},
        {pack({"--compression", "lzx", p}), 2, "--compression is none or mszip, not \"lzx\""},
        {pack({"--cabinet", "x.cab", p}), 2, "--cabinet takes the place of FILEs"},
        {{"inspect"}, 2, "inspect takes one FILE"}, {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
        // pack --app: Windows would install one file over the other (a folder's name counts, and
        // case folds beyond ASCII), CreateFile would fail or open something else...
        {app({"\xC3\x89T\xC3\xA9/x", "\xC3\xA9t\xC3\xA9"}), 1, "for one name"},
        {app({"\xFF.txt"}), 1, "not UTF-8"}, {app({"logs/"}), 1, "an empty folder"},
        {app({longName + "/" + longName + "/x.txt"}), 1, "Windows paths hold 259"},  // past MAX_PATH
        // ... or the options make no sense.
        {app({"a.exe"}, {"--shortcut", "A=b.exe"}), 2, "is not a file of the tree"},
        {app({"a.exe"}, {"--shortcut", "a.exe"}), 2, "LABEL="},
        {app({"a.exe"}, {"--install-dir", "..\\x"}), 1, "is not a file name"},
        {app({"a.exe"}, {"--install-dir", "C:\\x"}), 2, "not a relative path"},
        {app({"a.exe"}, {}, "A/B"), 2, "cannot hold"}, {app({"a.exe"}, {"x.txt"}), 2, "the place of FILEs"},
        {pack({"--name", "X", p}), 2, "use it with --app"},
        // extract: a name, or an application's INF, that leads out of the directory; a package of
        // another size than it says.
        {extract("up.exe"), 1, "\"..\\x\" leads out of the directory; nothing extracted"},
        {extract("evil.exe"), 1, "\"../evil.txt\" leads out of the directory"},
        {extract("long.exe"), 1, "an installer would refuse it as corrupt"},
    };
    for (const auto &row : rows) {
        std::vector<std::string> before = TreeOf(d);
        ProgramRun run = RunTool(row.arguments, row.environment);
        EXPECT_TRUE(Says(run, row.status, row.error) && run.output.rfind("quarvel: error: ", 0) == 0 &&
                    std::count(run.output.begin(), run.output.end(), '\n') == 1)
            << row.error << ": " << run.output;
        EXPECT_EQ(TreeOf(d), before) << row.error << ": a file written or left behind";
    }
}

// The golden tree: a folder two below the install folder and a file in it, names that need
// quoting in an INF (a space, a comma, a semicolon, '%', '='), a shortcut and a program started
// after.
TEST_F(Tool, AppInfOfASmallTreeMatchesTheGoldenInf)
{
    WriteFile(d + "/tree/demo.exe", "MZ demo");
    WriteFile(d + "/tree/share/a, b; c/50% off=yes.txt", std::string(3000, 't'));
    AppRequest request{d + "/tree", "Quarvel Demo", "1.2", "Quarvel \"Team\"", {}, {"Demo=demo.exe"},
                       "demo.exe"};
    std::vector<uint8_t> inf = AppInf(ReadApp(request, 1700000000));
    std::string text(inf.begin(), inf.end()), golden = QUARVEL_SOURCE_DIR "/tests/native/golden/app.inf";
    if (getenv("QUARVEL_UPDATE_GOLDEN"))
        WriteFile(golden, text);
    EXPECT_EQ(text, ReadFile(golden)) << "the INF changed: review it, then run with QUARVEL_UPDATE_GOLDEN=1";
    // A name outside ASCII makes the INF UTF-16 with a byte-order mark: an ANSI INF is read in
    // the system's code page, which need not hold the name.
    WriteFile(d + "/tree/caf\xC3\xA9.txt", "");
    inf = AppInf(ReadApp(request, 1700000000));
    EXPECT_EQ(std::string(inf.begin(), inf.begin() + 2), "\xFF\xFE");
}

// Past the 255 files and the flat folder of a plain package: a nested tree of 300 files, in two
// inner cabinets, read back by inspect and restored by extract under its real names.
TEST_F(Tool, AppTreeOfMoreFilesThanAFlatPackageHoldsComesBack)
{
    std::string tree = d + "/tree";
    for (int i = 0; i < 300; i++)
        WriteFile(tree + "/d" + std::to_string(i % 7) + "/e" + std::to_string(i % 3) + "/file " +
                      std::to_string(i) + ".txt", std::string(i * 37, (char)('a' + i % 26)));
    WriteFile(tree + "/d0/caf\xC3\xA9.txt", "accents");
    WriteFile(tree + "/d3/big.bin", std::string(3000000, 'b'));  // past the first cabinet's run
    Pack({"--app", tree, "--name", "Big", "--version", "1.2", "--publisher", "Q \"Team\"", "--install-dir",
          "Vendor\\Demo 1", "--shortcut", "Cafe=d0\\caf\xC3\xA9.txt"}, "");
    ProgramRun inspect = RunTool({"inspect", output});
    for (const char *line : {"application  Big\n", "version      1.2\n", "publisher    Q \"Team\"\n",
                             "install in   Program Files\\Vendor/Demo 1\n", "tree (302 files)", "Big-2.cab",
                             "shortcut     Cafe -> d0/caf\xC3\xA9.txt\n"})
        EXPECT_TRUE(Says(inspect, 0, line)) << line << "\n" << inspect.output;
    ASSERT_EQ(RunTool({"extract", "-q", output, "-d", d + "/x"}).exitStatus, 0);
    EXPECT_EQ(std::system(("diff -r '" + tree + "' " + d + "/x").c_str()), 0);
}

}  // namespace
