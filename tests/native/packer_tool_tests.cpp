// The `quarvel` program as its users run it: what pack writes, read back with the format
// module's reader and with hand-made expectations; what inspect reports; what extract refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "format_vectors.h"
#include "layout.h"
#include "packer_support.h"
#include "scramble.h"
#include "signature.h"

namespace {

using namespace test;
namespace fs = std::filesystem;

// Half text, half noise: MSZIP has something to do, and no two files are alike.
Bytes SampleData(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; i++) {
        seed = seed * 1103515245 + 12345;
        bytes[i] = (i / 64) % 2 ? (uint8_t)(seed >> 24) : (uint8_t)("quarvel "[i % 8]);
    }
    return bytes;
}

std::string Text(const Bytes &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

const char infText[] = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n";

class Tool : public ::testing::Test {
protected:
    void SetUp() override
    {
        payload = scratch / "payload";
        fs::create_directory(payload);
        WriteFile(payload + "/setup.inf", infText);
        WriteFile(payload + "/data.bin", SampleData(100000, 1));
        WriteFile(payload + "/empty.txt", "");
        output = scratch / "setup.exe";
    }

    ToolRun Pack(std::vector<std::string> arguments, const std::vector<std::string> &environment = {})
    {
        arguments.insert(arguments.begin(), {"pack", "-q", "-o", output});
        return RunTool(arguments, environment);
    }

    // Packs and fails the test when packing fails.
    Bytes PackOk(const std::vector<std::string> &arguments,
                 const std::vector<std::string> &environment = {"SOURCE_DATE_EPOCH=1700000000"})
    {
        ToolRun run = Pack(arguments, environment);
        EXPECT_EQ(run.status, 0) << run.err;
        return FileExists(output) ? ReadFile(output) : Bytes();
    }

    ScratchDirectory scratch;
    std::string payload;
    std::string output;
};

PackageHeader HeaderOf(const Bytes &package)
{
    PackageHeader header{};
    EXPECT_GE(package.size(), (size_t)textOffset);
    if (package.size() >= textOffset)
        ParsePackageHeader(package.data() + headerOffset, &header);
    return header;
}

TEST_F(Tool, PackWritesEveryHeaderFieldAndText)
{
    WriteFile(scratch / "message.txt", "Bonjour,\nvoici l'été.\n");
    WriteFile(scratch / "licence.txt", "Licence\n\nÀ accepter.");
    WriteFile(scratch / "info.txt", "Version 1 — test");
    Bytes package = PackOk({"--title", "Titre été", "--message", scratch / "message.txt",
                            "--licence", scratch / "licence.txt", "--info", scratch / "info.txt",
                            "--completion", "--require-admin", "--remove-install-button",
                            "--advpack", payload});

    Bytes stub = ReadFile(QUARVEL_STUB);
    ASSERT_EQ(stub.size(), (size_t)packageOffset);
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), package.begin())) << "the built-in stub";
    EXPECT_TRUE(std::all_of(package.begin() + packageOffset, package.begin() + headerOffset,
                            [](uint8_t byte) { return byte == 0; }))
        << "the cabinet library slot is zero-filled";

    PackageHeader header = HeaderOf(package);
    EXPECT_TRUE(HasPackageMagic(package.data() + headerOffset));
    EXPECT_EQ(header.showCompletion, 1);
    EXPECT_EQ(header.requireAdmin, 1);
    EXPECT_EQ(header.removeInstallButton, 1);
    EXPECT_EQ(header.useAdvpack, 1);
    EXPECT_EQ(header.multiVolume, 0);
    EXPECT_EQ(header.cabinetScrambled, 0);
    EXPECT_EQ(header.totalSize, package.size());

    // Code page 1252, CR LF, as the installer shows them.
    const std::string title = "Titre \xE9t\xE9", inf = "setup.inf";
    const std::string info = "Version 1 \x97 test";
    const std::string message = "Bonjour,\r\nvoici l'\xE9t\xE9.\r\n";
    const std::string licence = "Licence\r\n\r\n\xC0 accepter.";
    EXPECT_EQ(header.titleLength, title.size());
    EXPECT_EQ(header.infNameLength, inf.size());
    EXPECT_EQ(header.infoTextLength, info.size());
    EXPECT_EQ(header.messageLength, message.size());
    EXPECT_EQ(header.licenceLength, licence.size());

    size_t at = textOffset;
    EXPECT_EQ(Text(Bytes(package.begin() + at, package.begin() + at + title.size())), title);
    at += title.size();
    EXPECT_EQ(Text(Bytes(package.begin() + at, package.begin() + at + inf.size())), inf);
    at += inf.size();
    for (const std::string &plain : {info, message, licence}) {
        EXPECT_EQ(package[at], (uint8_t)plain[0]);
        for (size_t i = 1; i < plain.size() && i <= sizeof firstKeyBytes; i++)
            EXPECT_EQ(package[at + i], (uint8_t)plain[i] ^ firstKeyBytes[i - 1]) << i;
        Bytes stored(package.begin() + at, package.begin() + at + plain.size());
        ScrambleText(stored.data(), (uint32_t)stored.size());
        EXPECT_EQ(Text(stored), plain);
        at += plain.size();
    }
    EXPECT_EQ(at, CabinetOffset(&header));
    EXPECT_EQ(Text(Bytes(package.begin() + at, package.begin() + at + 4)), "MSCF");

    ToolRun inspect = RunTool({"inspect", "--json", output});
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    for (const char *fragment : {"\"title\": \"Titre été\"", "\"infName\": \"setup.inf\"",
                                 "\"message\": \"Bonjour,\\nvoici l'été.\\n\"",
                                 "\"licence\": \"Licence\\n\\nÀ accepter.\"",
                                 "\"infoText\": \"Version 1 — test\"", "\"requireAdmin\": 1",
                                 "\"name\": \"data.bin\"", "\"size\": 100000", "\"passed\": true"})
        EXPECT_NE(inspect.out.find(fragment), std::string::npos) << fragment << "\n" << inspect.out;
}

TEST_F(Tool, ScrambledCabinetIsThePlainOneXorTheKeyOfTheTotalSize)
{
    // Grow a file until the key is not 0, so that scrambling shows.
    for (size_t extra = 0;; extra++) {
        WriteFile(payload + "/data.bin", SampleData(100000 + extra, 1));
        Bytes plain = PackOk({payload});
        if ((int32_t)HeaderOf(plain).totalSize % 73 == 0)
            continue;
        Bytes scrambled = PackOk({"--scramble-cabinet", payload});
        ASSERT_EQ(scrambled.size(), plain.size());
        PackageHeader header = HeaderOf(scrambled);
        EXPECT_EQ(header.cabinetScrambled, 1);
        uint8_t key = (uint8_t)((int32_t)header.totalSize % 73);
        uint32_t cabinetOffset = CabinetOffset(&header);
        for (size_t i = 0; i < plain.size(); i++) {
            uint8_t expected = i >= cabinetOffset ? plain[i] ^ key : plain[i];
            if (i == headerOffset + hdrCabinetScrambled)
                expected = 1;
            ASSERT_EQ(scrambled[i], expected) << "at " << i;
        }
        break;
    }
}

TEST_F(Tool, VolumesConcatenateToTheWholePackage)
{
    WriteFile(payload + "/data.bin", SampleData(200000, 7));
    Bytes whole = PackOk({"--compression", "none", payload});
    ASSERT_GT(whole.size(), 2 * 102400u);
    ASSERT_LT(whole.size(), 3 * 102400u);
    Bytes first = PackOk({"--compression", "none", "--volume-size", "100k", payload});

    std::vector<std::string> names = scratch.Names();
    EXPECT_EQ(names, (std::vector<std::string>{"payload", "setup.001", "setup.002", "setup.exe"}));
    Bytes joined = first;
    for (const char *name : {"setup.001", "setup.002"}) {
        Bytes volume = ReadFile(scratch / name);
        EXPECT_LE(volume.size(), 102400u);
        joined.insert(joined.end(), volume.begin(), volume.end());
    }
    EXPECT_EQ(first.size(), 102400u);
    ASSERT_EQ(joined.size(), whole.size());
    PackageHeader header = HeaderOf(joined);
    EXPECT_EQ(header.multiVolume, 1);
    EXPECT_EQ(header.totalSize, joined.size());
    joined[headerOffset + hdrMultiVolume] = 0;
    EXPECT_TRUE(joined == whole) << "the volumes, joined, are the single-file package";

    ToolRun inspect = RunTool({"inspect", output});
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    EXPECT_NE(inspect.out.find("setup.002"), std::string::npos) << inspect.out;

    ToolRun extract = RunTool({"extract", "-q", output, "-d", scratch / "out"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_TRUE(ReadFile(scratch / "out/data.bin") == ReadFile(payload + "/data.bin"));
}

TEST_F(Tool, TheInstallerFileOfAVolumeSetHoldsAllTheTexts)
{
    WriteFile(scratch / "licence.txt", std::string(20000, 'L'));
    Bytes first = PackOk({"--licence", scratch / "licence.txt", "--volume-size", "10k", payload});
    PackageHeader header = HeaderOf(first);
    EXPECT_EQ(first.size(), CertificateTableOffsetAfter(CabinetOffset(&header)))
        << "more than 10k: the texts, up to a signature's boundary, and not one byte more";
    for (const std::string &name : scratch.Names())
        if (name.rfind("setup.0", 0) == 0) {
            EXPECT_LE(fs::file_size(scratch / name), 10240u) << name;
        }
}

// As a publisher signs: a throwaway self-signed certificate, here through pack's own option.
TEST_F(Tool, SignedInstallersVerifyInspectAndExtract)
{
    std::string certificate = "cd '" + scratch.path() + "' && openssl req -x509 -newkey rsa:2048 "
                              "-nodes -days 2 -subj /CN=Quarvel-Test -keyout key.pem "
                              "-out cert.pem 2>/dev/null";
    ASSERT_EQ(std::system(certificate.c_str()), 0) << certificate;
    PackOk({"--sign-cert", scratch / "cert.pem", "--sign-key", scratch / "key.pem", payload});
    std::string verify = "osslsigncode verify -CAfile '" + scratch / "cert.pem" + "' '" + output +
                         "' >/dev/null";
    EXPECT_EQ(std::system(verify.c_str()), 0) << "the digest must cover the whole installer";

    ToolRun inspect = RunTool({"inspect", output});
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    EXPECT_NE(inspect.out.find("ok   signed   by CN=Quarvel-Test: a certificate table of"),
              std::string::npos)
        << inspect.out;
    ToolRun extract = RunTool({"extract", "-q", output, "-d", scratch / "out"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_TRUE(ReadFile(scratch / "out/data.bin") == ReadFile(payload + "/data.bin"));
}

TEST_F(Tool, SigningWithoutOsslsigncodeWritesNothing)
{
    WriteFile(scratch / "cert.pem", "");
    ToolRun run = Pack({"--sign-cert", scratch / "cert.pem", "--sign-key", scratch / "cert.pem",
                        payload},
                       {"PATH=/nonexistent"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("needs osslsigncode (Debian package osslsigncode)"), std::string::npos)
        << run.err;
    EXPECT_EQ(scratch.Names(), (std::vector<std::string>{"cert.pem", "payload"}));
}

TEST_F(Tool, AVolumeSizeThatHoldsEverythingGivesOneFile)
{
    Bytes package = PackOk({"--volume-size", "10M", payload});
    EXPECT_EQ(HeaderOf(package).multiVolume, 0);
    EXPECT_EQ(scratch.Names(), (std::vector<std::string>{"payload", "setup.exe"}));
}

TEST_F(Tool, PackingTwiceGivesTheSameBytes)
{
    SetModified(payload + "/data.bin", 1600000000);
    Bytes once = PackOk({payload}, {});
    fs::rename(output, scratch / "first.exe");
    Bytes twice = PackOk({payload}, {});
    EXPECT_TRUE(once == twice);
}

// Offsets of the DOS date and time fields of every file entry of the cabinet at `offset`.
std::vector<size_t> DateFieldOffsets(const Bytes &package, size_t offset)
{
    std::vector<size_t> fields;
    size_t entry = offset + ReadLittleEndian32(package, offset + 16);  // coffFiles
    for (unsigned i = 0; i < ReadLittleEndian16(package, offset + 28); i++) {  // cFiles
        fields.push_back(entry + 10);
        fields.push_back(entry + 12);
        entry += 16;
        while (package.at(entry++) != 0) {
        }
    }
    return fields;
}

TEST_F(Tool, SourceDateEpochChangesTheDatesOnly)
{
    SetModified(payload + "/data.bin", 1600000000);
    Bytes fromFiles = PackOk({payload}, {});
    Bytes fromEpoch = PackOk({payload}, {"SOURCE_DATE_EPOCH=1709214331"});  // 2024-02-29 13:45:31
    ASSERT_EQ(fromFiles.size(), fromEpoch.size());
    PackageHeader header = HeaderOf(fromEpoch);
    std::vector<size_t> fields = DateFieldOffsets(fromEpoch, CabinetOffset(&header));
    ASSERT_EQ(fields.size(), 6u);  // date and time of data.bin, empty.txt, setup.inf
    for (size_t file = 0; file < 3; file++) {
        EXPECT_EQ(ReadLittleEndian16(fromEpoch, fields[2 * file]), 22621);
        EXPECT_EQ(ReadLittleEndian16(fromEpoch, fields[2 * file + 1]), 28079);
    }
    for (size_t i = 0; i < fromFiles.size(); i++) {
        bool inField = std::any_of(fields.begin(), fields.end(),
                                   [i](size_t field) { return i == field || i == field + 1; });
        if (!inField) {
            ASSERT_EQ(fromFiles[i], fromEpoch[i]) << "at " << i;
        }
    }
    // Without it, the file's own time.
    EXPECT_EQ(ReadLittleEndian16(fromFiles, fields[0]), (40 << 9) | (9 << 5) | 13);  // 2020-09-13
    EXPECT_EQ(ReadLittleEndian16(fromFiles, fields[1]), (12 << 11) | (26 << 5) | 20);  // 12:26:40
}

struct BadInput {
    const char *what;
    std::function<std::vector<std::string>(const std::string &payload)> arguments;
    const char *error;  // a fragment of the one-line error
};

class BadInputs : public Tool {
};

TEST_F(BadInputs, EachGivesItsOwnErrorAndLeavesNoOutput)
{
    const std::string dir = scratch.path();
    WriteFile(dir + "/long-info.txt", std::string(256, 'i'));
    WriteFile(dir + "/tick.txt", "ok\nnot \xE2\x9C\x93 ok\n");
    WriteFile(dir + "/big.dll", "MZ" + std::string(40959, '\0'));
    WriteFile(dir + "/not-a.dll", "PE");
    WriteFile(dir + "/big-stub.exe", "MZ" + std::string(28671, '\0'));
    WriteFile(dir + "/second.inf", infText);
    WriteFile(dir + "/back\\slash.txt", "x");
    WriteFile(dir + "/README.TXT", "upper");
    WriteFile(dir + "/a,b.inf", infText);
    fs::create_directories(dir + "/nested/sub");
    WriteFile(dir + "/nested/setup.inf", infText);
    fs::create_directories(dir + "/many");
    for (int i = 0; i < 256; i++)
        WriteFile(dir + "/many/f" + std::to_string(i) + ".inf", "");
    fs::create_directories(dir + "/lower");
    WriteFile(dir + "/lower/readme.txt", "lower");
    WriteFile(dir + "/set.cab", MakeCabinet({{"setup.inf", Bytes(10, 'a')}}, "next.cab"));
    WriteFile(dir + "/dir.cab", MakeCabinet({{"setup.inf", {}}, {"sub\\x.txt", Bytes(3, 'x')}}));
    std::string spanning = SharedTestData("cabs/good/spanning/multi_basic/cabd_multi_basic_pt1.cab");

    const BadInput rows[] = {
        {"missing file", [](const std::string &p) { return std::vector<std::string>{p, "nosuch.txt"}; },
         "nosuch.txt: no such file"},
        {"INF not among the files",
         [](const std::string &p) { return std::vector<std::string>{"--inf", "other.inf", p}; },
         "--inf \"other.inf\" is not among the files"},
        {"an INF name with a comma, where advpack's command line ends it",
         [dir](const std::string &p) { return std::vector<std::string>{p + "/data.bin", dir + "/a,b.inf"}; },
         "the INF file \"a,b.inf\" has a comma in its name"},
        {"two INF files",
         [dir](const std::string &p) { return std::vector<std::string>{p, dir + "/second.inf"}; },
         "2 .inf files among the files"},
        {"no INF file",
         [](const std::string &p) { return std::vector<std::string>{p + "/data.bin"}; },
         "no .inf file among the files"},
        {"a subdirectory", [dir](const std::string &) { return std::vector<std::string>{dir + "/nested"}; },
         "nested/sub: a subdirectory"},
        {"a stored name with a directory part",
         [dir](const std::string &p) { return std::vector<std::string>{p, dir + "/back\\slash.txt"}; },
         "\"back\\slash.txt\" has a directory part"},
        {"two files of one name, letter case aside",
         [dir](const std::string &p) {
             return std::vector<std::string>{p, dir + "/README.TXT", dir + "/lower"};
         },
         "two files are stored as \"README.TXT\" and \"readme.txt\""},
        {"256 files", [dir](const std::string &) { return std::vector<std::string>{"--inf", "f0.inf", dir + "/many"}; },
         "256 files; the installer deletes at most 255"},
        {"a 256-byte title",
         [](const std::string &p) { return std::vector<std::string>{"--title", std::string(256, 't'), p}; },
         "the title is 256 bytes"},
        {"a 256-byte info text",
         [dir](const std::string &p) { return std::vector<std::string>{"--info", dir + "/long-info.txt", p}; },
         "the info text is 256 bytes"},
        {"a character outside code page 1252",
         [dir](const std::string &p) { return std::vector<std::string>{"--message", dir + "/tick.txt", p}; },
         "tick.txt:2: \"\xE2\x9C\x93\" (U+2713) has no form in code page 1252"},
        {"an oversize cabinet library image",
         [dir](const std::string &p) { return std::vector<std::string>{"--cabinet-library", dir + "/big.dll", p}; },
         "big.dll: 40961 bytes, more than the 40960"},
        {"a cabinet library that is no DLL",
         [dir](const std::string &p) { return std::vector<std::string>{"--cabinet-library", dir + "/not-a.dll", p}; },
         "not-a.dll: not a DLL image"},
        {"an oversize stub",
         [dir](const std::string &p) { return std::vector<std::string>{"--stub", dir + "/big-stub.exe", p}; },
         "big-stub.exe: 28673 bytes, more than the 28672"},
        {"a cabinet that continues in another",
         [dir](const std::string &) { return std::vector<std::string>{"--cabinet", dir + "/set.cab"}; },
         "set.cab: is part of a cabinet set"},
        {"a real cabinet set's first part",
         [spanning](const std::string &) { return std::vector<std::string>{"--cabinet", spanning}; },
         "is part of a cabinet set"},
        {"a ready cabinet with a directory name",
         [dir](const std::string &) { return std::vector<std::string>{"--cabinet", dir + "/dir.cab"}; },
         "\"sub\\x.txt\" has a directory part"},
        {"a file that is no cabinet",
         [dir](const std::string &) { return std::vector<std::string>{"--cabinet", dir + "/big.dll"}; },
         "big.dll: no cabinet signature"},
    };
    for (const BadInput &row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(output, "an older installer");
        ToolRun run = Pack(row.arguments(payload));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.rfind("quarvel: error: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(row.error), std::string::npos) << run.err;
        EXPECT_EQ(Text(ReadFile(output)), "an older installer") << "the output is untouched";
        for (const std::string &name : scratch.Names())
            EXPECT_NE(name.rfind(".setup.exe.", 0), 0u) << "a temporary file is left: " << name;
    }
}

TEST_F(BadInputs, UsageErrorsExitWith2)
{
    for (const std::vector<std::string> &arguments :
         {std::vector<std::string>{"pack", payload}, {"pack", "-o", output, "--compression", "lzx", payload},
          {"pack", "-o", output, "--bogus", payload}, {"pack", "-o", output, "--volume-size", "1.4M", payload},
          {"pack", "-o", output, "--cabinet", "x.cab", payload}, {"inspect"}, {"frobnicate"}, {}}) {
        ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(run.err.rfind("quarvel: error: ", 0) == 0 || arguments.empty(), true) << run.err;
        EXPECT_FALSE(FileExists(output));
    }
}

TEST_F(Tool, ExtractGivesBackTheFilesAfterEitherCompressionAndScrambling)
{
    WriteFile(payload + "/data.bin", SampleData(250000, 3));
    for (const char *compression : {"none", "mszip"}) {
        for (bool scrambled : {false, true}) {
            SCOPED_TRACE(std::string(compression) + (scrambled ? ", scrambled" : ""));
            std::vector<std::string> arguments = {"--compression", compression, payload};
            if (scrambled)
                arguments.push_back("--scramble-cabinet");
            PackOk(arguments, {"SOURCE_DATE_EPOCH=1709214331"});
            std::string out = scratch / (std::string("out-") + compression + (scrambled ? "-s" : ""));
            ToolRun run = RunTool({"extract", output, "-d", out});
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.out, "extracted 3 files into " + out + "\n");
            for (const char *name : {"setup.inf", "data.bin", "empty.txt"}) {
                EXPECT_TRUE(ReadFile(out + "/" + name) == ReadFile(payload + "/" + name)) << name;
                EXPECT_EQ(ModifiedTime(out + "/" + name), 1709214330) << name;
            }
        }
    }
}

TEST_F(Tool, AReadyCabinetIsStoredAsItIs)
{
    Bytes cabinet = MakeCabinet({{"setup.inf", Bytes(infText, infText + sizeof infText - 1)},
                                 {"big.bin", SampleData(70000, 9)}});
    WriteFile(scratch / "ready.cab", cabinet);
    Bytes package = PackOk({"--cabinet", scratch / "ready.cab"});
    PackageHeader header = HeaderOf(package);
    EXPECT_TRUE(std::equal(cabinet.begin(), cabinet.end(), package.begin() + CabinetOffset(&header)));
    EXPECT_EQ(package.size(), CabinetOffset(&header) + cabinet.size());
    ToolRun run = RunTool({"extract", "-q", output, "-d", scratch / "out"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadFile(scratch / "out/big.bin") == SampleData(70000, 9));
}

// Every path under a directory, its own included.
std::vector<std::string> TreeOf(const std::string &directory)
{
    std::vector<std::string> paths;
    for (const auto &entry : fs::recursive_directory_iterator(directory))
        paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

class Extraction : public ::testing::Test {
protected:
    // Extracts the package into scratch/a/b/out and checks that nothing appeared anywhere else
    // in scratch, and only plain files in out.
    ToolRun ExtractOutsideNothing(const Bytes &package)
    {
        std::string work = scratch / "a/b", out = work + "/out";
        fs::create_directories(work);
        WriteFile(work + "/p.exe", package);
        std::vector<std::string> before = TreeOf(scratch.path());
        ToolRun run = RunTool({"extract", "-q", work + "/p.exe", "-d", out});
        EXPECT_LT(run.status, 128) << "the tool crashed";
        std::vector<std::string> after = TreeOf(scratch.path());
        after.erase(std::remove_if(after.begin(), after.end(),
                                   [&](const std::string &path) { return path.rfind(out, 0) == 0; }),
                    after.end());
        EXPECT_EQ(after, before);
        if (fs::exists(out)) {
            for (const auto &entry : fs::recursive_directory_iterator(out))
                EXPECT_TRUE(entry.is_regular_file()) << entry.path();
        }
        return run;
    }

    bool Extracted() const { return fs::exists(scratch / "a/b/out"); }

    ScratchDirectory scratch;
};

TEST_F(Extraction, RefusesNamesThatLeaveTheDirectoryAndWritesNothing)
{
    std::string absolute = scratch / "absolute.txt";
    for (const std::string &name : {std::string("..\\x"), std::string("../x"), std::string("../../x"),
                                    std::string("C:\\x"), std::string("\\x"), absolute,
                                    std::string("a\\..\\..\\x"), std::string("sub\\x")}) {
        SCOPED_TRACE(name);
        Bytes cabinet = MakeCabinet({{"setup.inf", Bytes(5, 's')}, {name, Bytes(4, 'x')}});
        ToolRun run = ExtractOutsideNothing(MakePackage(cabinet, "setup.inf", true));
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("nothing extracted"), std::string::npos) << run.err;
        EXPECT_FALSE(Extracted()) << "the directory it made is gone again";
    }
}

TEST_F(Extraction, SurvivesTheSharedMalformedCabinets)
{
    // Each must fail with an error or extract plain files into the directory, never crash.
    for (const auto &entry : fs::directory_iterator(SharedTestData("cabs/bad"))) {
        SCOPED_TRACE(entry.path().filename().string());
        ToolRun run = ExtractOutsideNothing(MakePackage(ReadFile(entry.path()), "x.inf", false));
        if (run.status != 0) {
            EXPECT_EQ(run.err.rfind("quarvel: error: ", 0), 0u) << run.err;
        }
        fs::remove_all(scratch / "a/b/out");
    }
    ToolRun dirwalk = ExtractOutsideNothing(
        MakePackage(ReadFile(SharedTestData("cabs/bad/dirwalk-vulns.cab")), "x.inf", false));
    EXPECT_EQ(dirwalk.status, 1) << "the path-traversal cabinet is refused";
}

TEST_F(Extraction, RefusesAPackageThatAnInstallerWouldCallCorrupt)
{
    Bytes package = MakePackage(MakeCabinet({{"setup.inf", Bytes(5, 's')}}), "setup.inf", false);
    package.push_back(0);
    ToolRun run = ExtractOutsideNothing(package);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("would refuse it as corrupt"), std::string::npos) << run.err;
}

class Inspection : public Tool {
protected:
    ToolRun InspectChanged(const std::function<void(Bytes &)> &change)
    {
        Bytes package = PackOk({"--scramble-cabinet", payload});
        change(package);
        WriteFile(output, package);
        return RunTool({"inspect", output});
    }
};

TEST_F(Inspection, ReportsEachFault)
{
    struct Row {
        const char *what;
        std::function<void(Bytes &)> change;
        const char *failure;
    } rows[] = {
        {"no magic", [](Bytes &p) { p[headerOffset] = 'k'; }, "FAIL magic"},
        {"one byte short", [](Bytes &p) { p.pop_back(); }, "FAIL size"},
        {"the key of another size",
         [](Bytes &p) { p[headerOffset + hdrTotalSize] ^= 1; },
         "FAIL key"},
        {"stored plain, said scrambled",
         [](Bytes &p) {
             PackageHeader header = HeaderOf(p);
             uint8_t key = (uint8_t)((int32_t)header.totalSize % 73);
             for (size_t i = CabinetOffset(&header); i < p.size(); i++)
                 p[i] ^= key;
             if (key == 0)
                 p[headerOffset + hdrTotalSize] ^= 1;  // make the flag mean something
         },
         "FAIL key"},
        {"an INF name not in the cabinet", [](Bytes &p) { p[textOffset] = 'X'; }, "FAIL inf"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ToolRun run = InspectChanged(row.change);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find(row.failure), std::string::npos) << run.out;
    }
    ToolRun good = InspectChanged([](Bytes &) {});
    EXPECT_EQ(good.status, 0) << good.out;
    EXPECT_EQ(good.out.find("FAIL"), std::string::npos) << good.out;
}

TEST_F(Inspection, NamesAMissingVolume)
{
    WriteFile(payload + "/data.bin", SampleData(200000, 5));
    PackOk({"--compression", "none", "--volume-size", "100k", payload});
    fs::remove(scratch / "setup.002");
    ToolRun run = RunTool({"inspect", output});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("setup.002 is missing"), std::string::npos) << run.out;
    ToolRun extract = RunTool({"extract", output, "-d", scratch / "out"});
    EXPECT_EQ(extract.status, 1);
    EXPECT_NE(extract.err.find("setup.002: the volume is missing"), std::string::npos) << extract.err;
}

TEST(Conventions, HelpAndVersion)
{
    ToolRun help = RunTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: quarvel pack"), std::string::npos);
    for (const char *command : {"pack", "inspect", "extract"}) {
        ToolRun commandHelp = RunTool({command, "--help"});
        EXPECT_EQ(commandHelp.status, 0) << command;
        EXPECT_NE(commandHelp.out.find(std::string("usage: quarvel ") + command), std::string::npos);
    }
    ToolRun version = RunTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quarvel " QUARVEL_VERSION "\n");
}

TEST(Example, TheBundledPayloadPacksChecksAndExtracts)
{
    ScratchDirectory scratch;
    std::string example = std::string(QUARVEL_SOURCE_DIR) + "/examples/hello";
    ToolRun pack = RunTool({"pack", "-q", "-o", scratch / "hello-setup.exe", "--title", "Quarvel Hello",
                            "--message", example + "/message.txt", "--licence", example + "/licence.txt",
                            "--info", example + "/info.txt", example + "/payload"});
    ASSERT_EQ(pack.status, 0) << pack.err;
    ToolRun inspect = RunTool({"inspect", scratch / "hello-setup.exe"});
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    ToolRun extract = RunTool({"extract", "-q", scratch / "hello-setup.exe", "-d", scratch / "out"});
    ASSERT_EQ(extract.status, 0) << extract.err;
    for (const auto &entry : fs::directory_iterator(example + "/payload"))
        EXPECT_TRUE(ReadFile(entry.path()) == ReadFile(scratch / ("out/" + entry.path().filename().string())))
            << entry.path();
    std::string inf = Text(ReadFile(example + "/payload/hello.inf"));
    for (const char *section : {"[DefaultInstall]", "[DefaultInstall2]", "[DefaultInstall2.ntx86]",
                                "[DefaultInstallX]"})
        EXPECT_NE(inf.find(section), std::string::npos) << section;
}

}  // namespace
