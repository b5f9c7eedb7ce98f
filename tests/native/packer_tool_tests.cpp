// The `quarvel` program as its users run it: what pack writes, read back by hand and by inspect
// and extract; every error it names; the INF of `pack --app` (a golden file: reviewing its diff
// is the point).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app.h"
#include "layout.h"
#include "package_builder.h"
#include "scramble.h"
#include "signature.h"
#include "stored_cabinet.h"

namespace {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary directory, removed with its contents.
struct Scratch {
    Scratch() : path((fs::temp_directory_path() / "quarvel-test.XXXXXX").string())
    {
        if (!mkdtemp(path.data()))
            throw std::runtime_error("cannot make a scratch directory");
    }
    ~Scratch()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    std::string path;
};

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

struct ToolRun {
    int status;
    std::string out, err;
};

// Runs the built `quarvel` without SOURCE_DATE_EPOCH, or with the environment entry given.
ToolRun RunTool(const std::vector<std::string> &arguments, const std::string &environment = "")
{
    auto quoted = [](std::string text) {
        for (size_t at = 0; (at = text.find('\'', at)) != std::string::npos; at += 4)
            text.replace(at, 1, "'\\''");
        return "'" + text + "'";
    };
    Scratch capture;
    std::string command = "env -u SOURCE_DATE_EPOCH " + environment + " " + quoted(QUARVEL_TOOL);
    for (const std::string &argument : arguments)
        command += " " + quoted(argument);
    int status = std::system((command + " >" + capture / "out" + " 2>" + capture / "err").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadFile(capture / "out"),
            ReadFile(capture / "err")};
}

// Half text, half noise: MSZIP has something to do, and no two files are alike.
std::string SampleData(size_t size, uint32_t seed)
{
    std::string bytes(size, 0);
    for (size_t i = 0; i < size; i++) {
        seed = seed * 1103515245 + 12345;
        bytes[i] = (i / 64) % 2 ? (char)(seed >> 24) : "quarvel "[i % 8];
    }
    return bytes;
}

PackageHeader HeaderOf(const std::string &package)
{
    PackageHeader header{};
    if (package.size() >= textOffset)
        ParsePackageHeader((const uint8_t *)package.data() + headerOffset, &header);
    return header;
}

const char infText[] = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n";

class Tool : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(payload + "/setup.inf", infText);
        WriteFile(payload + "/data.bin", SampleData(100000, 1));
        WriteFile(payload + "/empty.txt", "");
    }

    // Packs into `output`, failing the test when pack fails; the installer file's bytes.
    std::string Pack(std::vector<std::string> arguments,
                     const std::string &environment = "SOURCE_DATE_EPOCH=1700000000")
    {
        arguments.insert(arguments.begin(), {"pack", "-q", "-o", output});
        ToolRun run = RunTool(arguments, environment);
        EXPECT_EQ(run.status, 0) << run.err;
        return ReadFile(output);
    }

    // Extracts `output` into scratch/DIRECTORY: the payload's files, with this time if given.
    void ExpectExtracted(const std::string &directory, int64_t modified = 0)
    {
        ToolRun run = RunTool({"extract", "-q", output, "-d", scratch / directory});
        ASSERT_EQ(run.status, 0) << run.err;
        for (const char *name : {"setup.inf", "data.bin", "empty.txt"}) {
            std::string path = scratch / directory + "/" + name;
            EXPECT_EQ(ReadFile(path), ReadFile(payload + "/" + name)) << name;
            struct stat info{};
            EXPECT_TRUE(!modified || (stat(path.c_str(), &info) == 0 && info.st_mtime == modified)) << name;
        }
    }

    Scratch scratch;
    std::string payload = scratch / "payload", output = scratch / "setup.exe";
};

TEST_F(Tool, PackWritesTheStubTheHeaderAndTheTextsThatInspectReads)
{
    WriteFile(scratch / "message.txt", "Bonjour,\nvoici l'\xC3\xA9t\xC3\xA9.\n");
    WriteFile(scratch / "licence.txt", "Licence\n\n\xC3\x80 accepter.");
    WriteFile(scratch / "info.txt", "Version 1 \xE2\x80\x94 test");
    std::string package = Pack({"--title", "Titre \xC3\xA9t\xC3\xA9", "--message", scratch / "message.txt",
                                "--licence", scratch / "licence.txt", "--info", scratch / "info.txt",
                                "--completion", "--require-admin", "--remove-install-button", "--advpack",
                                payload});
    std::string stub = ReadFile(QUARVEL_STUB);
    ASSERT_EQ(stub.size(), (size_t)packageOffset);
    EXPECT_EQ(package.compare(0, packageOffset, stub), 0) << "the built-in stub";
    EXPECT_EQ(package.substr(packageOffset, cabinetLibrarySlotSize), std::string(cabinetLibrarySlotSize, 0))
        << "the cabinet library slot is zero-filled";
    PackageHeader header = HeaderOf(package);
    EXPECT_TRUE(HasPackageMagic((const uint8_t *)package.data() + headerOffset));
    EXPECT_EQ((std::vector<int>{header.showCompletion, header.requireAdmin, header.removeInstallButton,
                                header.multiVolume, header.useAdvpack, header.cabinetScrambled}),
              (std::vector<int>{1, 1, 1, 0, 1, 0}));
    EXPECT_EQ(header.totalSize, package.size());
    // Code page 1252 with CR LF, as the installer shows them; the last three scrambled.
    const std::string texts[] = {"Titre \xE9t\xE9", "setup.inf", "Version 1 \x97 test",
                                 "Bonjour,\r\nvoici l'\xE9t\xE9.\r\n", "Licence\r\n\r\n\xC0 accepter."};
    const uint32_t lengths[] = {header.titleLength, header.infNameLength, header.infoTextLength,
                                header.messageLength, header.licenceLength};
    size_t at = textOffset;
    for (int i = 0; i < 5; at += lengths[i++]) {
        std::string stored = package.substr(at, lengths[i]);
        if (i >= 2)
            ScrambleText((uint8_t *)stored.data(), (uint32_t)stored.size());
        EXPECT_EQ(stored, texts[i]);
    }
    EXPECT_EQ(at, CabinetOffset(&header));
    EXPECT_EQ(package.substr(at, 4), "MSCF");

    ToolRun inspect = RunTool({"inspect", "--json", output});
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    for (const char *fragment :
         {"\"title\": \"Titre \xC3\xA9t\xC3\xA9\"", "\"infName\": \"setup.inf\"", "\"requireAdmin\": 1",
          "\"message\": \"Bonjour,\\nvoici l'\xC3\xA9t\xC3\xA9.\\n\"", "\"size\": 100000", "\"passed\": true",
          "\"infoText\": \"Version 1 \xE2\x80\x94 test\"", "\"licence\": \"Licence\\n\\n\xC3\x80 accepter.\"",
          "\"name\": \"data.bin\""})
        EXPECT_NE(inspect.out.find(fragment), std::string::npos) << fragment << "\n" << inspect.out;
}

TEST_F(Tool, ExtractGivesBackTheFilesAfterEitherCompressionAndScrambling)
{
    WriteFile(payload + "/data.bin", SampleData(250000, 3));
    for (const char *compression : {"none", "mszip"}) {
        for (bool scrambled : {false, true}) {
            std::vector<std::string> arguments = {"--compression", compression, payload};
            if (scrambled)
                arguments.push_back("--scramble-cabinet");
            Pack(arguments, "SOURCE_DATE_EPOCH=1709214331");
            ExpectExtracted(std::string(compression) + (scrambled ? "-scrambled" : ""), 1709214330);
        }
    }
    ToolRun run = RunTool({"extract", output, "-d", scratch / "again"});
    EXPECT_EQ(run.out, "extracted 3 files into " + scratch / "again" + "\n");
}

TEST_F(Tool, AScrambledCabinetIsThePlainOneXorTheKeyOfTheTotalSize)
{
    std::string plain = Pack({"--compression", "none", payload});
    if (CabinetKey(HeaderOf(plain).totalSize) == 0) {  // a key of 0 would hide the scrambling
        WriteFile(payload + "/empty.txt", "x");
        plain = Pack({"--compression", "none", payload});
    }
    std::string scrambled = Pack({"--compression", "none", "--scramble-cabinet", payload});
    PackageHeader header = HeaderOf(scrambled);
    ASSERT_NE(CabinetKey(header.totalSize), 0);
    plain[headerOffset + hdrCabinetScrambled] = 1;
    for (size_t i = CabinetOffset(&header); i < plain.size(); i++)
        plain[i] ^= CabinetKey(header.totalSize);
    EXPECT_TRUE(plain == scrambled);
}

TEST_F(Tool, VolumesJoinToTheWholePackageBehindAnInstallerFileThatHoldsTheTexts)
{
    WriteFile(payload + "/data.bin", SampleData(200000, 7));
    WriteFile(scratch / "licence.txt", std::string(40000, 'L'));  // texts past the volume size
    std::vector<std::string> arguments = {"--compression", "none", "--licence", scratch / "licence.txt",
                                          "--volume-size", "10M", payload};
    std::string whole = Pack(arguments);
    EXPECT_EQ(HeaderOf(whole).multiVolume, 0) << "a volume size that holds everything";
    EXPECT_FALSE(fs::exists(scratch / "setup.001"));
    arguments[5] = "100k";
    std::string joined = Pack(arguments);
    PackageHeader header = HeaderOf(joined);
    EXPECT_EQ(joined.size(), CertificateTableOffsetAfter(CabinetOffset(&header)))
        << "the texts, up to a signature's boundary, and not one byte more";
    EXPECT_EQ(ReadFile(scratch / "setup.001").size(), 102400u);
    joined += ReadFile(scratch / "setup.001") + ReadFile(scratch / "setup.002");
    EXPECT_FALSE(fs::exists(scratch / "setup.003"));
    EXPECT_EQ(header.multiVolume, 1);
    joined[headerOffset + hdrMultiVolume] = 0;
    EXPECT_TRUE(joined == whole) << "the volumes, joined, are the single-file package";
    ExpectExtracted("out");

    fs::remove(scratch / "setup.002");
    ToolRun inspect = RunTool({"inspect", output});
    ToolRun extract = RunTool({"extract", output, "-d", scratch / "x"});
    EXPECT_EQ(inspect.status, 1);
    EXPECT_NE(inspect.out.find("setup.002 is missing"), std::string::npos) << inspect.out;
    EXPECT_EQ(extract.status, 1);
    EXPECT_NE(extract.err.find("setup.002: the volume is missing"), std::string::npos) << extract.err;
}

// As a publisher signs: a throwaway self-signed certificate, through pack's own option.
TEST_F(Tool, ASignedInstallerVerifiesAndStillInspectsAndExtracts)
{
    std::string certificate = "cd '" + scratch.path + "' && openssl req -x509 -newkey rsa:2048 -nodes "
                              "-days 2 -subj /CN=Quarvel-Test -keyout key.pem -out cert.pem 2>/dev/null";
    ASSERT_EQ(std::system(certificate.c_str()), 0) << certificate;
    Pack({"--sign-cert", scratch / "cert.pem", "--sign-key", scratch / "key.pem", payload});
    std::string verify = "osslsigncode verify -CAfile " + scratch / "cert.pem" + " " + output + " >/dev/null";
    EXPECT_EQ(std::system(verify.c_str()), 0) << "the digest must cover the whole installer";
    ToolRun inspect = RunTool({"inspect", output});
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    EXPECT_NE(inspect.out.find("ok   signed   by CN=Quarvel-Test: a certificate table of"), std::string::npos)
        << inspect.out;
    ExpectExtracted("out");
}

// Without SOURCE_DATE_EPOCH the files keep their own times, and packing again changes nothing.
TEST_F(Tool, PackingIsReproducible)
{
    ASSERT_EQ(std::system(("touch -d @1600000000 '" + payload + "'/*").c_str()), 0);
    std::string once = Pack({payload}, "");
    EXPECT_TRUE(Pack({payload}, "") == once);
    ExpectExtracted("out", 1600000000);
}

TEST_F(Tool, AReadyCabinetIsStoredAsItIs)
{
    std::string cabinet = StoredCabinet(
        {{"setup.inf", infText}, {"data.bin", ReadFile(payload + "/data.bin")}, {"empty.txt", ""}});
    WriteFile(scratch / "ready.cab", cabinet);
    std::string package = Pack({"--cabinet", scratch / "ready.cab"});
    PackageHeader header = HeaderOf(package);
    EXPECT_EQ(package.substr(CabinetOffset(&header)), cabinet);
    ExpectExtracted("out");
}

// Each run fails with one line that names its cause, and writes no file nor leaves one behind.
TEST_F(Tool, EachErrorIsOneLineThatNamesItsCauseAndWritesNothing)
{
    const std::string d = scratch.path, p = payload;
    // An application whose INF leads a file out of its folder.
    std::string evilInf = "; Written by quarvel pack --app\r\n[App.Entry]\r\n"
                          "HKLM,\"k\",\"InstallLocation\",0,\"%16422%\\X\"\r\n[SourceDisksNames]\r\n"
                          "1=\"X\",\"X.cab\",,\r\n[SourceDisksFiles]\r\nf1=1\r\n[DestinationDirs]\r\n"
                          "App.Files1=16422,\"X\\..\"\r\n[App.Files1]\r\n\"evil.txt\",f1\r\n";
    std::string stub = StoredCabinet({{"setup.inf", "s"}});
    const std::pair<std::string, std::string> files[] = {
        {"setup.exe", "an older installer"}, {"long-info.txt", std::string(256, 'i')},
        {"tick.txt", "ok\nnot \xE2\x9C\x93 ok\n"}, {"big.dll", "MZ" + std::string(40959, '\0')},
        {"not-a.dll", "PE"}, {"big-stub.exe", "MZ" + std::string(28671, '\0')}, {"second.inf", infText},
        {"back\\slash.txt", "x"}, {"README.TXT", "upper"}, {"lower/readme.txt", "lower"}, {"cert.pem", ""},
        {"a,b.inf", infText}, {"nested/setup.inf", infText}, {"nested/sub/x", ""},
        {"set.cab", StoredCabinet({{"setup.inf", "aaaaaaaaaa"}}, "next.cab")},
        {"dir.cab", StoredCabinet({{"setup.inf", ""}, {"sub\\x.txt", "xxx"}})},
        {"up.exe", PackageAround(StoredCabinet({{"setup.inf", "s"}, {"..\\x", "xxxx"}}), "setup.inf", true)},
        {"absolute.exe", PackageAround(StoredCabinet({{"setup.inf", ""}, {d + "/x", ""}}), "setup.inf", true)},
        {"long.exe", PackageAround(stub, "setup.inf", false) + '\0'},
        {"evil.exe", PackageAround(StoredCabinet({{"X.inf", evilInf}, {"X.cab", StoredCabinet({{"f1", ""}})}}),
                                   "X.inf", false)},
    };
    for (const auto &[name, bytes] : files)
        WriteFile(d + "/" + name, bytes);
    for (int i = 0; i < 256; i++)
        WriteFile(d + "/many/f" + std::to_string(i) + ".inf", "");
    auto pack = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"pack", "-q", "-o", output});
        return arguments;
    };
    auto extract = [&](const std::string &package) {
        return std::vector<std::string>{"extract", "-q", d + "/" + package, "-d", d + "/out"};
    };
    // pack --app of a tree of these files (a name ending in '/' an empty folder).
    int trees = 0;
    using Names = std::vector<std::string>;
    auto app = [&](const Names &files, Names options = {}, const std::string &name = "X") {
        std::string tree = d + "/trees/" + std::to_string(trees++) + "/";
        for (const std::string &file : files)
            file.back() == '/' ? (void)fs::create_directories(tree + file) : WriteFile(tree + file, {});
        options.insert(options.begin(), {"--app", tree, "--name", name});
        return pack(options);
    };
    const std::string longName(120, 'n'), spanning =
        QUARVEL_SHARED_DIR "/testdata/cabs/good/spanning/multi_basic/cabd_multi_basic_pt1.cab";
    const struct Row {
        std::vector<std::string> arguments;
        int status;
        const char *error;
        const char *environment = "";
    } rows[] = {
        {pack({p, "nosuch.txt"}), 1, "nosuch.txt: no such file"},
        {pack({"--inf", "other.inf", p}), 1, "--inf \"other.inf\" is not among the files"},
        // advpack's command line would end the name at the comma.
        {pack({p + "/data.bin", d + "/a,b.inf"}), 1, "the INF file \"a,b.inf\" has a comma in its name"},
        {pack({p, d + "/second.inf"}), 1, "2 .inf files among the files"},
        {pack({p + "/data.bin"}), 1, "no .inf file among the files"},
        {pack({d + "/nested"}), 1, "nested/sub: a subdirectory"},
        {pack({p, d + "/back\\slash.txt"}), 1, "\"back\\slash.txt\" has a directory part"},
        {pack({p, d + "/README.TXT", d + "/lower"}), 1, "stored as \"README.TXT\" and \"readme.txt\""},
        {pack({"--inf", "f0.inf", d + "/many"}), 1, "256 files; the installer deletes at most 255"},
        {pack({"--title", std::string(256, 't'), p}), 1, "the title is 256 bytes"},
        {pack({"--info", d + "/long-info.txt", p}), 1, "the info text is 256 bytes"},
        {pack({"--message", d + "/tick.txt", p}), 1, "tick.txt:2: \"\xE2\x9C\x93\" (U+2713) has no form in"},
        {pack({"--cabinet-library", d + "/big.dll", p}), 1, "big.dll: 40961 bytes, more than the 40960"},
        {pack({"--cabinet-library", d + "/not-a.dll", p}), 1, "not-a.dll: not a DLL image"},
        {pack({"--stub", d + "/big-stub.exe", p}), 1, "big-stub.exe: 28673 bytes, more than the 28672"},
        {pack({"--cabinet", d + "/set.cab"}), 1, "set.cab: is part of a cabinet set"},
        {pack({"--cabinet", spanning}), 1, "is part of a cabinet set"},
        {pack({"--cabinet", d + "/dir.cab"}), 1, "\"sub\\x.txt\" has a directory part"},
        {pack({"--cabinet", d + "/big.dll"}), 1, "big.dll: no cabinet signature"},
        {pack({"--sign-cert", d + "/cert.pem", "--sign-key", d + "/cert.pem", p}), 1,
         "needs osslsigncode (Debian package osslsigncode)", "PATH=/nonexistent"},
        // Usage.
        {{"pack", p}, 2, "pack needs an output file"},
        {pack({"--compression", "lzx", p}), 2, "--compression is none or mszip, not \"lzx\""},
        {pack({"--bogus", p}), 2, "unknown option --bogus"},
        {pack({"--volume-size", "1.4M", p}), 2, "\"1.4M\" is not a size"},
        {pack({"--cabinet", "x.cab", p}), 2, "--cabinet takes the place of FILEs"},
        {{"inspect"}, 2, "inspect takes one FILE"},
        {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
        // pack --app: Windows would install one file over the other...
        {app({"Readme.txt", "README.TXT"}), 1, "for one name"},
        {app({"\xC3\x89t\xC3\xA9.txt", "\xC3\xA9t\xC3\xA9.txt"}), 1, "for one name"},
        {app({"data/x", "DATA"}), 1, "for one name"},
        // ... CreateFile would fail or open something else ...
        {app({"a\\b.txt"}), 1, "cannot hold"},
        {app({"a:b.txt"}), 1, "cannot hold"},
        {app({"a\tb.txt"}), 1, "cannot hold"},
        {app({"a."}), 1, "ends in a dot"},
        {app({"lib/aux.dll"}), 1, "device"},
        {app({"\xFF.txt"}), 1, "not UTF-8"},
        {app({longName + "/" + longName + "/x.txt"}), 1, "Windows paths hold 259"},  // past MAX_PATH
        {app({"logs/"}), 1, "an empty folder"},  // an INF copies files, never an empty folder
        // ... or the options make no sense.
        {app({"a.exe"}, {"--shortcut", "A=b.exe"}), 2, "is not a file of the tree"},
        {app({"a.exe"}, {"--shortcut", "a.exe"}), 2, "LABEL="},
        {app({"a.exe"}, {"--install-dir", "..\\x"}), 1, "is not a file name"},
        {app({"a.exe"}, {"--install-dir", "C:\\x"}), 2, "not a relative path"},
        {app({"a.exe"}, {}, "A/B"), 2, "cannot hold"},
        {app({"a.exe"}, {"extra.txt"}), 2, "takes the place of FILEs"},
        {pack({"--name", "X", p}), 2, "use it with --app"},
        // extract: names that lead out of the directory, a package of another size than it says.
        {extract("up.exe"), 1, "\"..\\x\" leads out of the directory; nothing extracted"},
        {extract("absolute.exe"), 1, "is an absolute path; nothing extracted"},
        {extract("evil.exe"), 1, "\"../evil.txt\" leads out of the directory"},
        {extract("long.exe"), 1, "an installer would refuse it as corrupt"},
    };
    for (const Row &row : rows) {
        std::vector<std::string> before = TreeOf(d);
        ToolRun run = RunTool(row.arguments, row.environment);
        EXPECT_EQ(run.status, row.status) << row.error << ": " << run.err;
        EXPECT_EQ(run.err.rfind("quarvel: error: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(row.error), std::string::npos) << run.err;
        EXPECT_EQ(TreeOf(d), before) << row.error << ": a file written or left behind";
    }
}

TEST_F(Tool, InspectReportsEachFault)
{
    const struct {
        const char *failure;  // "": none
        std::function<void(std::string &)> change;
    } rows[] = {
        {"FAIL magic", [](std::string &p) { p[headerOffset] = 'k'; }},
        {"FAIL size", [](std::string &p) { p.pop_back(); }},
        {"FAIL key", [](std::string &p) { p[headerOffset + hdrTotalSize] ^= 1; }},  // the key of another size
        {"FAIL key", [](std::string &p) {  // stored plain, said scrambled
             PackageHeader header = HeaderOf(p);
             for (size_t i = CabinetOffset(&header); i < p.size(); i++)
                 p[i] ^= CabinetKey(header.totalSize);
             if (CabinetKey(header.totalSize) == 0)
                 p[headerOffset + hdrTotalSize] ^= 1;  // make the flag mean something
         }},
        {"FAIL inf", [](std::string &p) { p[textOffset] = 'X'; }},  // an INF name not in the cabinet
        {"", [](std::string &) {}},
    };
    std::string package = Pack({"--scramble-cabinet", payload});
    for (const auto &row : rows) {
        std::string changed = package;
        row.change(changed);
        WriteFile(output, changed);
        ToolRun run = RunTool({"inspect", output});
        EXPECT_EQ(run.status, *row.failure ? 1 : 0) << row.failure << "\n" << run.out;
        EXPECT_EQ(run.out.find(*row.failure ? row.failure : "FAIL") != std::string::npos, *row.failure != 0)
            << row.failure << "\n" << run.out;
    }
}

// Each malformed cabinet of the shared set fails with an error or extracts plain files into
// the directory; none crashes the tool or writes outside.
TEST_F(Tool, ExtractSurvivesTheSharedMalformedCabinets)
{
    const std::string out = scratch / "a/b/out";  // deep enough for "../../"
    fs::create_directories(scratch / "a/b");
    for (const auto &entry : fs::directory_iterator(QUARVEL_SHARED_DIR "/testdata/cabs/bad")) {
        WriteFile(output, PackageAround(ReadFile(entry.path()), "x.inf", false));
        std::vector<std::string> before = TreeOf(scratch.path), after;
        ToolRun run = RunTool({"extract", "-q", output, "-d", out});
        EXPECT_TRUE(run.status == 0 || run.err.rfind("quarvel: error: ", 0) == 0) << entry.path() << run.err;
        EXPECT_TRUE(run.status == 1 || entry.path().filename() != "dirwalk-vulns.cab") << "a path traversal";
        for (const std::string &path : TreeOf(scratch.path)) {
            if (path.rfind(out + "/", 0) != 0)
                after.push_back(path);
            else
                EXPECT_TRUE(path == out + "/" || path.back() != '/') << "only plain files: " << path;
        }
        EXPECT_EQ(after, before) << entry.path();
        fs::remove_all(out);
    }
}

TEST(Conventions, HelpVersionAndTheBundledExample)
{
    EXPECT_EQ(RunTool({}).status, 2);
    EXPECT_EQ(RunTool({"--help"}).status, 0);
    for (const char *command : {"pack", "inspect", "extract"}) {
        ToolRun help = RunTool({command, "--help"});
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.out.find(std::string("usage: quarvel ") + command), std::string::npos) << help.out;
    }
    EXPECT_EQ(RunTool({"--version"}).out, "quarvel " QUARVEL_VERSION "\n");

    Scratch scratch;
    std::string example = QUARVEL_SOURCE_DIR "/examples/hello/";
    ToolRun pack = RunTool({"pack", "-q", "-o", scratch / "hello.exe", "--title", "Quarvel Hello",
                            "--message", example + "message.txt", "--licence", example + "licence.txt",
                            "--info", example + "info.txt", example + "payload"});
    ASSERT_EQ(pack.status, 0) << pack.err;
    EXPECT_EQ(RunTool({"inspect", scratch / "hello.exe"}).status, 0);
    ASSERT_EQ(RunTool({"extract", "-q", scratch / "hello.exe", "-d", scratch / "out"}).status, 0);
    for (const auto &entry : fs::directory_iterator(example + "payload"))
        EXPECT_EQ(ReadFile(entry.path()), ReadFile(scratch / "out/" + entry.path().filename().string()));
}

// The golden tree: two folders and the one above them, names that need quoting in an INF (a
// space, a comma, a semicolon, '%', '='), a shortcut and a program started after.
TEST(AppInf, SmallTreeMatchesTheGoldenInf)
{
    Scratch scratch;
    WriteFile(scratch / "tree/bin/demo.exe", "MZ demo");
    WriteFile(scratch / "tree/share/a, b; c/50% off=yes.txt", std::string(3000, 't'));
    quarvel::AppRequest request;
    request.directory = scratch / "tree";
    request.name = "Quarvel Demo";
    request.version = "1.2";
    request.publisher = "Quarvel \"Team\"";
    request.shortcuts = {"Demo=bin\\demo.exe"};
    request.runAfter = "bin/demo.exe";
    std::vector<uint8_t> inf = quarvel::AppInf(quarvel::ReadApp(request, 1700000000));
    std::string text(inf.begin(), inf.end()), golden = QUARVEL_SOURCE_DIR "/tests/native/golden/app.inf";
    if (getenv("QUARVEL_UPDATE_GOLDEN"))
        WriteFile(golden, text);
    EXPECT_EQ(text, ReadFile(golden)) << "the INF changed: review it, then run with QUARVEL_UPDATE_GOLDEN=1";

    // A name outside ASCII makes the INF UTF-16 with a byte-order mark: an ANSI INF is read in
    // the system's code page, which need not hold the name.
    WriteFile(scratch / "tree/caf\xC3\xA9.txt", "");
    inf = quarvel::AppInf(quarvel::ReadApp(request, 1700000000));
    EXPECT_EQ(std::string(inf.begin(), inf.begin() + 2), "\xFF\xFE");
}

// Past the 255 files and the flat folder of a plain package: a nested tree of 300 files, in two
// inner cabinets, read back by inspect and restored by extract under its real names.
TEST_F(Tool, AppTreeOfMoreFilesThanAFlatPackageHoldsComesBack)
{
    std::string tree = scratch / "tree";
    for (int i = 0; i < 300; i++)
        WriteFile(tree + "/d" + std::to_string(i % 7) + "/e" + std::to_string(i % 3) + "/file " +
                      std::to_string(i) + ".txt",
                  std::string(i * 37, (char)('a' + i % 26)));
    WriteFile(tree + "/d0/caf\xC3\xA9.txt", "accents");
    WriteFile(tree + "/d3/noise.bin", SampleData(3000000, 5));  // past the first cabinet's run
    Pack({"--app", tree, "--name", "Big", "--version", "1.2", "--publisher", "Q \"Team\"", "--install-dir",
          "Vendor\\Demo 1", "--shortcut", "Cafe=d0\\caf\xC3\xA9.txt"});
    ToolRun inspect = RunTool({"inspect", output});
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    for (const char *line : {"application  Big\n", "version      1.2\n", "publisher    Q \"Team\"\n",
                             "install in   Program Files\\Vendor/Demo 1\n", "tree (302 files)", "Big-2.cab",
                             "shortcut     Cafe -> d0/caf\xC3\xA9.txt\n"})
        EXPECT_NE(inspect.out.find(line), std::string::npos) << line;
    ToolRun extract = RunTool({"extract", "-q", output, "-d", scratch / "x"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    size_t count = 0;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(tree)) {
        std::string relative = fs::relative(entry.path(), tree).string();
        if (entry.is_regular_file()) {
            EXPECT_EQ(ReadFile(scratch / "x/" + relative), ReadFile(entry.path())) << relative;
            count++;
        }
    }
    EXPECT_EQ(count, 302u);
}

}  // namespace
