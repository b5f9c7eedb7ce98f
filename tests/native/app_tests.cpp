// `pack --app`: the INF it writes for a small tree (a golden file: reviewing its diff is the
// point), the tree restored by extract, and every limit that pack names instead of meeting it
// under Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app.h"
#include "packer_support.h"

namespace {

using namespace test;
using namespace quarvel;
namespace fs = std::filesystem;

std::string GoldenPath()
{
    return std::string(QUARVEL_SOURCE_DIR) + "/tests/native/golden/app.inf";
}

// A tree whose names need care in an INF line: spaces, a comma, a semicolon, '%', '='.
void WriteSmallTree(const std::string &top)
{
    fs::create_directories(top + "/bin/plug ins");
    fs::create_directories(top + "/share/a, b; c");
    WriteFile(top + "/bin/demo.exe", "MZ demo");
    WriteFile(top + "/bin/plug ins/greet.dll", "MZ greet");
    WriteFile(top + "/share/a, b; c/50% off=yes.txt", "text");
    WriteFile(top + "/readme.txt", std::string(3000, 'r'));
}

AppRequest SmallRequest(const std::string &top)
{
    AppRequest request;
    request.directory = top;
    request.name = "Quarvel Demo";
    request.version = "1.2";
    request.publisher = "Quarvel \"Team\"";
    request.shortcuts = {"Demo=bin\\demo.exe", "Read me=readme.txt"};
    request.runAfter = "bin/demo.exe";
    return request;
}

TEST(AppInf, SmallTreeMatchesTheGoldenInf)
{
    ScratchDirectory scratch;
    WriteSmallTree(scratch / "tree");
    std::vector<uint8_t> inf = AppInf(ReadApp(SmallRequest(scratch / "tree"), 1700000000));
    std::string text(inf.begin(), inf.end());
    if (getenv("QUARVEL_UPDATE_GOLDEN"))
        WriteFile(GoldenPath(), text);
    Bytes golden = ReadFile(GoldenPath());
    EXPECT_EQ(text, std::string(golden.begin(), golden.end()))
        << "the INF changed: review it, then rerun with QUARVEL_UPDATE_GOLDEN=1";
}

// What inspect and extract rely on: the listing read back from the INF is the tree, whatever
// the names hold; a non-ASCII name makes the INF UTF-16 (an ANSI INF is read in the system's
// code page, which need not hold the name).
TEST(AppInf, ReadsBackTheTreeItWrote)
{
    ScratchDirectory scratch;
    WriteSmallTree(scratch / "tree");
    WriteFile(scratch / "tree/share/caf\xC3\xA9 \xF0\x9F\x98\x80.txt", "accents");
    AppRequest request = SmallRequest(scratch / "tree");
    request.installDir = "Vendor\\Demo 1";
    App app = ReadApp(request, std::nullopt);
    std::vector<uint8_t> inf = AppInf(app);
    ASSERT_GE(inf.size(), 2u);
    EXPECT_EQ(inf[0], 0xFF);
    EXPECT_EQ(inf[1], 0xFE);

    std::optional<AppListing> listing = ReadAppInf(inf);
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->name, "Quarvel Demo");
    EXPECT_EQ(listing->version, "1.2");
    EXPECT_EQ(listing->publisher, "Quarvel \"Team\"");
    EXPECT_EQ(listing->installDir, "Vendor/Demo 1");
    EXPECT_EQ(listing->cabinetNames, std::vector<std::string>{"Quarvel-Demo-1.cab"});
    ASSERT_EQ(listing->shortcuts.size(), 2u);
    EXPECT_EQ(listing->shortcuts[0].label, "Demo");
    EXPECT_EQ(listing->shortcuts[0].target, "bin/demo.exe");
    ASSERT_EQ(listing->files.size(), app.files.size());
    for (size_t i = 0; i < app.files.size(); i++) {
        EXPECT_EQ(listing->files[i].path, app.files[i].path);
        EXPECT_EQ(listing->files[i].storedName, app.files[i].storedName);
        EXPECT_EQ(listing->files[i].cabinet, app.files[i].cabinet - 1);
    }
    EXPECT_FALSE(ReadAppInf(Bytes{'[', 'V', ']'}));  // a hand-written INF is no application
}

class AppTool : public ::testing::Test {
protected:
    ToolRun Pack(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {"pack", "-q", "-o", scratch / "out/setup.exe"});
        return RunTool(arguments);
    }

    ScratchDirectory scratch;
};

// Past the 255 files and the flat folder of a plain package: a nested tree of 300 files, in
// two inner cabinets, comes back from extract under its real names, byte for byte.
TEST_F(AppTool, ExtractRestoresANestedTreeOfMoreFilesThanAFlatPackageHolds)
{
    std::string tree = scratch / "tree";
    for (int i = 0; i < 300; i++) {
        std::string folder = tree + "/d" + std::to_string(i % 7) + "/e" + std::to_string(i % 3);
        fs::create_directories(folder);
        WriteFile(folder + "/file " + std::to_string(i) + ".txt", std::string(i * 37, (char)('a' + i % 26)));
    }
    WriteFile(tree + "/d0/caf\xC3\xA9.txt", "accents");
    Bytes noise(1500000);
    for (size_t i = 0; i < noise.size(); i++)
        noise[i] = (uint8_t)(i * 2654435761u >> 13);
    WriteFile(tree + "/d3/noise.bin", noise);  // past the first cabinet's run
    fs::create_directory(scratch / "out");
    ToolRun packed = Pack({"--app", tree, "--name", "Big", "--shortcut", "Cafe=d0\\caf\xC3\xA9.txt"});
    ASSERT_EQ(packed.status, 0) << packed.err;

    ToolRun inspected = RunTool({"inspect", scratch / "out/setup.exe"});
    EXPECT_EQ(inspected.status, 0) << inspected.out;
    EXPECT_NE(inspected.out.find("application  Big"), std::string::npos) << inspected.out;
    EXPECT_NE(inspected.out.find("shortcut     Cafe -> d0/caf\xC3\xA9.txt"), std::string::npos);
    EXPECT_NE(inspected.out.find("tree (302 files)"), std::string::npos);
    EXPECT_NE(inspected.out.find("Big-2.cab"), std::string::npos);

    ToolRun extracted = RunTool({"extract", "-q", scratch / "out/setup.exe", "-d", scratch / "x"});
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    size_t count = 0;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(tree)) {
        if (!entry.is_regular_file())
            continue;
        count++;
        std::string relative = fs::relative(entry.path(), tree).string();
        EXPECT_EQ(ReadFile(scratch / ("x/" + relative)), ReadFile(entry.path().string())) << relative;
    }
    EXPECT_EQ(count, 302u);
}

// A package made by hand whose INF leads a file out of the folder: extract refuses it before
// writing anything, as it refuses such a stored name in a plain package.
TEST_F(AppTool, ExtractRefusesATreePathThatLeavesTheDirectory)
{
    const std::string inf =
        "; Written by quarvel pack --app\r\n"
        "[App.Entry]\r\nHKLM,\"k\",\"InstallLocation\",0,\"%16422%\\X\"\r\n"
        "[SourceDisksNames]\r\n1=\"X\",\"X.cab\",,\r\n[SourceDisksFiles]\r\nf1=1\r\n"
        "[DestinationDirs]\r\nApp.Files1=16422,\"X\\..\"\r\n"
        "[App.Files1]\r\n\"evil.txt\",f1\r\n";
    Bytes inner = MakeCabinet({{"f1", Bytes{'x'}}});
    Bytes outer = MakeCabinet({{"X.inf", Bytes(inf.begin(), inf.end())}, {"X.cab", inner}});
    WriteFile(scratch / "setup.exe", MakePackage(outer, "X.inf", false));
    ToolRun run = RunTool({"extract", "-q", scratch / "setup.exe", "-d", scratch / "x/out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("\"../evil.txt\" leads out of the directory"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(scratch / "x"));
    EXPECT_FALSE(fs::exists(scratch / "evil.txt"));
}

// Each row a tree (or option) that Windows or the INF cannot take: pack refuses it in one line
// that names the cause, writes nothing and leaves no scratch file beside the output.
TEST_F(AppTool, RefusesWhatTheInfCannotCarry)
{
    struct Row {
        const char *fault;
        std::vector<std::pair<std::string, std::string>> files;
        std::vector<std::string> options;
        int status;
        const char *error;
    };
    const std::string longName(120, 'n');
    const Row rows[] = {
        // Windows would install one file over the other.
        {"case collision", {{"Readme.txt", ""}, {"README.TXT", ""}}, {}, 1, "for one name"},
        {"accented collision", {{"\xC3\x89t\xC3\xA9.txt", ""}, {"\xC3\xA9t\xC3\xA9.txt", ""}}, {}, 1, "for one name"},
        {"folder and file", {{"data/x", ""}, {"DATA", ""}}, {}, 1, "for one name"},
        // CreateFile would fail or open something else.
        {"backslash", {{"a\\b.txt", ""}}, {}, 1, "cannot hold"},
        {"colon", {{"a:b.txt", ""}}, {}, 1, "cannot hold"},
        {"control", {{"a\tb.txt", ""}}, {}, 1, "cannot hold"},
        {"trailing dot", {{"a.", ""}}, {}, 1, "ends in a dot"},
        {"device", {{"lib/aux.dll", ""}}, {}, 1, "device"},
        {"not UTF-8", {{"\xFF.txt", ""}}, {}, 1, "not UTF-8"},
        // Past MAX_PATH under the longest Program Files.
        {"long path", {{longName + "/" + longName + "/x.txt", ""}}, {}, 1, "Windows paths hold 259"},
        // An INF copies files, never an empty folder.
        {"empty folder", {{"logs/", ""}}, {}, 1, "an empty folder"},
        {"shortcut to nothing", {{"a.exe", ""}}, {"--shortcut", "A=b.exe"}, 2, "is not a file of the tree"},
        {"shortcut without label", {{"a.exe", ""}}, {"--shortcut", "a.exe"}, 2, "LABEL="},
        {"install dir leaves", {{"a.exe", ""}}, {"--install-dir", "..\\x"}, 1, "is not a file name"},
        {"absolute install dir", {{"a.exe", ""}}, {"--install-dir", "C:\\x"}, 2, "not a relative path"},
        {"name with a slash", {{"a.exe", ""}}, {"--name", "A/B"}, 2, "cannot hold"},
        {"files beside the tree", {{"a.exe", ""}}, {"extra.txt"}, 2, "takes the place of FILEs"},
        {"name without app", {{"a.exe", ""}}, {"--no-app"}, 2, "use it with --app"},
    };
    for (const Row &row : rows) {
        ScratchDirectory scratchRow;
        std::string tree = scratchRow / "tree";
        fs::create_directory(tree);
        for (const auto &[path, data] : row.files) {
            if (path.back() == '/') {
                fs::create_directories(tree + "/" + path);
                continue;
            }
            fs::create_directories(fs::path(tree + "/" + path).parent_path());
            WriteFile(tree + "/" + path, data);
        }
        fs::create_directory(scratchRow / "out");
        std::vector<std::string> arguments = {"pack", "-q", "-o", scratchRow / "out/setup.exe"};
        if (row.options == std::vector<std::string>{"--no-app"}) {
            arguments.insert(arguments.end(), {"--name", "X", tree + "/a.exe"});
        } else {
            arguments.insert(arguments.end(), {"--app", tree});
            if (std::find(row.options.begin(), row.options.end(), "--name") == row.options.end())
                arguments.insert(arguments.end(), {"--name", "X"});
            arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        }
        ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.status, row.status) << row.fault << ": " << run.err;
        EXPECT_NE(run.err.find(row.error), std::string::npos) << row.fault << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << row.fault << ": " << run.err;
        EXPECT_TRUE(fs::is_empty(scratchRow / "out")) << row.fault;
    }
}

}  // namespace
