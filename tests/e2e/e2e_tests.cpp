// Whole installers under Wine, made by `quarvel pack` (make-packages, make-app-packages) and
// driven by the robot as a user would: one run per user-visible flow, judged by what arrives
// where the INF puts it and by what is left afterwards.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <map>

#include "robot.h"
#include "test_support.h"

namespace {

std::string ShellFolder(int csidl)
{
    char directory[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, directory);
    return directory;
}

const std::string packages = WindowsPathFromEnvironment("QUARVEL_BUILD") + "\\e2e-packages\\";
const std::string workDirectory = TempDirectory() + "$Quarvel.Tmp";
const std::string programFiles = ShellFolder(CSIDL_PROGRAM_FILES);

void Uninstall(const std::string &name)
{
    RemoveTree(programFiles + "\\Quarvel E2E\\" + name);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("Software\\Quarvel\\E2E\\" + name).c_str());
}

bool IsInstalled(const std::string &name)
{
    std::string folder = programFiles + "\\Quarvel E2E\\" + name + "\\";
    return ReadFileBytes(folder + "readme.txt").find("Quarvel end-to-end payload") == 0 &&
           FileExists(folder + "data.bin");
}

// Each test starts without the work directory that an earlier one may have left.
class RemoveWorkDirectory : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &) override { RemoveTree(workDirectory); }
};
const bool workDirectoryRemoved =
    (testing::UnitTest::GetInstance()->listeners().Append(new RemoveWorkDirectory), true);

PROCESS_INFORMATION Start(const std::string &path, const std::vector<std::string> &settings = {},
                          const char *startDirectory = nullptr)
{
    PROCESS_INFORMATION installer{};
    EXPECT_TRUE(StartProgram(path.c_str(), "\"" + path + "\"", installer, settings, startDirectory));
    return installer;
}

struct Outcome {
    std::vector<std::string> reports;  // the message boxes' texts
    DWORD exitCode;
};

// Answers every message box of the installer with OK until it ends, 90 seconds at most.
Outcome Watch(PROCESS_INFORMATION &installer)
{
    Outcome outcome;
    DWORD start = GetTickCount(), limit = robot::ScaledTimeout(90000);
    while (GetTickCount() - start < limit &&
           WaitForSingleObject(installer.hProcess, 50) == WAIT_TIMEOUT) {
        robot::Box box = robot::FindMessageBox(nullptr, installer.dwProcessId);
        if (box.window && robot::AnswerMessageBox(box.window, IDOK))
            outcome.reports.push_back(box.text);
    }
    outcome.exitCode = WaitForExit(installer, 0);
    return outcome;
}

// A package with nothing to show or ask installs by itself, without a report, and cleans up.
void InstallsUnattended(const std::string &path, const std::string &name,
                        const char *startDirectory = nullptr)
{
    Uninstall(name);
    PROCESS_INFORMATION installer = Start(path, {}, startDirectory);
    Outcome outcome = Watch(installer);
    EXPECT_EQ(outcome.reports, std::vector<std::string>{});
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_TRUE(IsInstalled(name));
    EXPECT_FALSE(DirectoryExists(workDirectory));
}

// Moves a system file away for its lifetime (none for ""); what took its place then goes.
struct MovedAway {
    std::string path;
    bool moved = !path.empty() && MoveFileA(path.c_str(), (path + ".away").c_str());
    ~MovedAway()
    {
        if (!moved)
            return;
        DeleteFileA(path.c_str());
        MoveFileA((path + ".away").c_str(), path.c_str());
    }
};

// The INF routes through the dialog: Install, the completion screen, then the row's ending.
struct Route {
    const char *name;
    bool withoutSetupx;  // setupx.dll moved away: the setupapi route
    bool licence;        // accepted before the work starts
    bool secondSection;  // advpack's DefaultInstallX ran too
    int closeCommand;    // 0: a crash at the completion screen instead
};

const Route routes[] = {
    // setupx.dll present. A crash inside the dialog still deletes the files and the directory.
    {"setupx", false, false, false, 0},
    // Close (2) restores the start directory first, or the work directory stays.
    {"setupapi", true, true, false, 2},
    // A scrambled cabinet, both advpack sections; the Install button is gone: Enter (1) closes.
    {"advpack", false, false, true, 1},
};

class Routes : public testing::TestWithParam<Route> {};

TEST_P(Routes, InstallAndCleanUp)
{
    const Route &route = GetParam();
    MovedAway setupx{route.withoutSetupx ? SystemDirectory() + "\\setupx.dll" : ""};
    ASSERT_EQ(setupx.moved, route.withoutSetupx);
    Uninstall(route.name);
    std::string path = packages + route.name + ".exe";
    PROCESS_INFORMATION installer = Start(path);
    std::string title = "Quarvel E2E " + std::string(route.name);
    HWND dialog = robot::WaitForDialog(title.c_str(), installer.dwProcessId);
    ASSERT_TRUE(robot::Click(dialog, 1));
    if (route.licence) {
        HWND licence = robot::WaitForDialog("Informations sur la licence...", installer.dwProcessId);
        ASSERT_TRUE(robot::Click(licence, IDOK));
    }
    // At the completion screen, once the work is done, Close is enabled again.
    ASSERT_TRUE(robot::WaitUntil(
        [&] { return IsInstalled(route.name) && robot::IsControlEnabled(dialog, 2); }, 60000));
    if (route.closeCommand) {
        robot::PostCommand(dialog, route.closeCommand);
        EXPECT_EQ(WaitForExit(installer, 90000), 0u);
    } else {
        ASSERT_TRUE(FileExists(workDirectory + "\\readme.txt"));
        // A thread that jumps nowhere: an access violation inside the running installer.
        HANDLE crash = CreateRemoteThread(installer.hProcess, nullptr, 0,
                                          (LPTHREAD_START_ROUTINE)0x10, nullptr, 0, nullptr);
        ASSERT_NE(crash, nullptr);
        CloseHandle(crash);
        EXPECT_EQ(WaitForExit(installer, 90000), (DWORD)EXCEPTION_ACCESS_VIOLATION);
    }
    std::string key = "Software\\Quarvel\\E2E\\" + std::string(route.name);
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, key, "SecondSection") == "yes", route.secondSection);
    EXPECT_FALSE(DirectoryExists(workDirectory));
    EXPECT_TRUE(FileExists(path));  // the installer never removes itself
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Routes, testing::ValuesIn(routes),
                         [](const testing::TestParamInfo<Route> &row) { return row.param.name; });

// A file stored read-only, hidden and system (the Close command must still delete it) and a
// start directory as long as Windows allows (MAX_PATH - 2 characters, which must not leave the
// work directory current): either fault would keep the work directory.
TEST(EndToEnd, ASilentPackageInstallsUnattended)
{
    std::string start = ScratchDirectory("e2e-silent"), path = start + "silent.exe";
    std::string bytes = ReadFileBytes(packages + "silent.exe");
    size_t name = bytes.find(std::string("readme.txt", 11));  // its cabinet record, NUL included
    ASSERT_NE(name, std::string::npos);
    bytes[name - 2] = 0x27;  // the record's attributes precede its name
    bytes[name - 1] = 0;
    WriteFileBytes(path, bytes);
    while (start.size() < MAX_PATH - 2) {
        start += std::string(std::min<size_t>(40, MAX_PATH - 2 - start.size()), 's');
        CreateDirectoryA(start.c_str(), nullptr);
        start += '\\';
    }
    start.pop_back();
    InstallsUnattended(path, "silent", start.c_str());
}

// A TEMP with a space gives way to the system directory (the INF command line would split
// there); closing before installing leaves nothing.
TEST(EndToEnd, ClosingWithoutInstallingCleansUp)
{
    std::string spaced = "C:\\e2e temp\\", systemWork = SystemDirectory() + "\\$Quarvel.Tmp";
    CreateDirectoryA(spaced.c_str(), nullptr);
    Uninstall("closing");
    PROCESS_INFORMATION installer =
        Start(packages + "closing.exe", {"TMP=" + spaced, "TEMP=" + spaced});
    HWND dialog = robot::WaitForDialog("Quarvel E2E closing", installer.dwProcessId);
    EXPECT_TRUE(DirectoryExists(systemWork));
    EXPECT_FALSE(DirectoryExists(spaced + "$Quarvel.Tmp"));
    ASSERT_TRUE(robot::Click(dialog, 2));
    EXPECT_EQ(WaitForExit(installer, 90000), 0u);
    EXPECT_FALSE(IsInstalled("closing"));
    EXPECT_FALSE(DirectoryExists(systemWork));
}

// Runs that end before the dialog, with one report at most, leaving nothing.
TEST(EndToEnd, RefusedRunsEndAtOnce)
{
    std::string scratch = ScratchDirectory("e2e-refused");
    WriteFileBytes(scratch + "bare.exe",
                   ReadFileBytes(WindowsPathFromEnvironment("QUARVEL_BIN") + "\\quarvel-stub.exe"));
    WriteFileBytes(scratch + "longer.exe", ReadFileBytes(packages + "closing.exe") + "!");
    WriteFileBytes("C:\\e2e-blocker", "a file where a directory should be");
    SetLastError(0);
    ASSERT_FALSE(CreateDirectoryA("C:\\e2e-blocker\\sub", nullptr));
    const DWORD cannotMake = GetLastError();
    const struct {
        std::string path, temp;
        size_t reports;
        DWORD exitCode;
    } rows[] = {
        {scratch + "bare.exe", TempDirectory(), 0, 0},    // the stub alone: no package, no report
        {scratch + "longer.exe", TempDirectory(), 1, 0},  // one byte too long: reported corrupt
        // The work directory cannot be made: reported, and the system's error code.
        {packages + "closing.exe", "C:\\e2e-blocker\\sub\\", 1, cannotMake},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        PROCESS_INFORMATION installer = Start(row.path, {"TMP=" + row.temp, "TEMP=" + row.temp});
        Outcome outcome = Watch(installer);
        EXPECT_EQ(outcome.reports.size(), row.reports);
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        EXPECT_FALSE(DirectoryExists(workDirectory));
        EXPECT_TRUE(FileExists(row.path));
    }
    DeleteFileA("C:\\e2e-blocker");
}

// The volumes join in the work directory, replacing (not appending to) a joined file that an
// earlier run left there; the joined package goes with the work directory.
TEST(EndToEnd, AVolumeSetJoinsAndInstalls)
{
    CreateDirectoryA(workDirectory.c_str(), nullptr);
    WriteFileBytes(workDirectory + "\\Quarvel.pkg", std::string(300000, 'o'));
    InstallsUnattended(packages + "multi\\multi.exe", "multi");
}

TEST(EndToEnd, CancellingTheDiskPromptEndsWithoutADialog)
{
    std::string alone = ScratchDirectory("e2e-disk-prompt") + "multi.exe";  // without its volumes
    WriteFileBytes(alone, ReadFileBytes(packages + "multi\\multi.exe"));
    PROCESS_INFORMATION installer = Start(alone);
    robot::Box prompt = robot::WaitForMessageBox("Quarvel E2E multi", installer.dwProcessId);
    ASSERT_TRUE(robot::AnswerMessageBox(prompt.window, IDCANCEL));
    Outcome outcome = Watch(installer);
    EXPECT_EQ(outcome.reports.size(), 1u);  // the join failed
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_FALSE(DirectoryExists(workDirectory));
}

const char slotLibraryMark[] = "C:\\quarvel-slot-library-loaded";  // see slot_library.cpp

// The signed package carries the stand-in library in its slot. Signed as a publisher signs it,
// it installs; the system's library is neither rewritten nor replaced.
TEST(EndToEnd, ASignedPackageLeavesAPresentCabinetLibraryAlone)
{
    std::string library = SystemDirectory() + "\\cabinet.dll", before = ReadFileBytes(library);
    ASSERT_GT(before.size(), 40960u);  // larger than any slot: a rewrite would show
    DeleteFileA(slotLibraryMark);
    InstallsUnattended(packages + "signed.exe", "signed");
    EXPECT_EQ(ReadFileBytes(library), before);
    EXPECT_FALSE(FileExists(slotLibraryMark));
}

TEST(EndToEnd, AnAbsentCabinetLibraryIsWrittenFromADllImageOnlyAndThenBound)
{
    std::string library = SystemDirectory() + "\\cabinet.dll";
    MovedAway systemLibrary{library};
    ASSERT_TRUE(systemLibrary.moved);
    DeleteFileA(slotLibraryMark);
    // An empty slot plants nothing. Whether the platform then still finds a library of its own
    // decides between an installation and a report that none could be loaded.
    PROCESS_INFORMATION empty = Start(packages + "silent.exe");
    EXPECT_EQ(Watch(empty).exitCode, 0u);
    EXPECT_FALSE(FileExists(library));

    // A DLL image is written whole, slot padding included, and is the library then bound. Wine
    // prefers its own cabinet.dll to any file; told otherwise for this program, it loads the file.
    const std::string key = WineProgramKey("signed.exe") + "\\DllOverrides";
    ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, key, "cabinet", "native"));
    PROCESS_INFORMATION installer = Start(packages + "signed.exe");
    Outcome outcome = Watch(installer);
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    EXPECT_EQ(outcome.exitCode, 0u);
    std::string image = ReadFileBytes(TestProgramDirectory() + "e2e_slot_library.dll");
    EXPECT_EQ(ReadFileBytes(library), image + std::string(40960 - image.size(), '\0'));
    EXPECT_TRUE(FileExists(slotLibraryMark));
    EXPECT_EQ(outcome.reports.size(), 1u);  // the stand-in cannot extract: the extraction error
    EXPECT_FALSE(DirectoryExists(workDirectory));
    DeleteFileA(slotLibraryMark);
}

// ---- Applications packed with `pack --app` (make-app-packages): the demo program, which loads
// its plugin from a subfolder, and 600 files in nested folders, some names needing care.

using Files = std::map<std::string, std::string>;  // bytes by path under a folder

// A tree's files; its names, accents included, are all in the system's code page (1252).
Files FilesUnder(const std::string &folder)
{
    Files files;
    for (const std::string &name : NamesIn(folder)) {
        std::string path = folder + "\\" + name;
        if (!DirectoryExists(path))
            files[name] = ReadFileBytes(path);
        else
            for (const auto &file : FilesUnder(path))
                files[name + "\\" + file.first] = file.second;
    }
    return files;
}

// The first path where two trees differ, for the failure report; "" when they are alike.
std::string FirstDifference(const Files &expected, const Files &actual)
{
    auto first = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    if (first.first != expected.end())
        return first.first->first;
    return first.second != actual.end() ? first.second->first : "";
}

class Applications : public testing::TestWithParam<std::string> {};

// Installed silently, run, upgraded, then uninstalled as Add/Remove Programs does.
TEST_P(Applications, InstallRunUpgradeAndUninstall)
{
    const std::string route = GetParam(), name = "Quarvel App " + route;
    const std::string installers = WindowsPathFromEnvironment("QUARVEL_BUILD") + "\\e2e-app-packages\\";
    const std::string folder = programFiles + "\\" + name;
    const std::string menu = ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\" + name;
    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quarvel-App-" + route;
    const std::string installedInf = WindowsDirectory() + "\\inf\\Quarvel-App-" + route + ".inf";
    MovedAway setupx{route == "setupapi" ? SystemDirectory() + "\\setupx.dll" : ""};
    ASSERT_EQ(setupx.moved, route == "setupapi");
    // What an earlier run that failed half-way may have left.
    RemoveTree(folder);
    RemoveTree(menu);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    DeleteFileA(installedInf.c_str());

    Files tree1 = FilesUnder(installers + "tree-1"), tree2 = FilesUnder(installers + "tree-2");
    ASSERT_GE(tree1.size(), 600u);
    ASSERT_EQ(RunToExit(nullptr, "\"" + installers + route + "-1.exe\"", 300000), 0u);
    EXPECT_EQ(FirstDifference(tree1, FilesUnder(folder)), "") << "the tree installed";
    // It loads plugins\greet.dll and reads share\quarvel-demo\messages\hello.txt.
    EXPECT_EQ(RunToExit(nullptr, "\"" + folder + "\\demo.exe\"", 120000), 0u);
    // The shortcut's target is the INF's (the golden INF's concern): here, that it is made.
    EXPECT_NE(ReadFileBytes(menu + "\\Quarvel Demo.lnk").find("\\demo.exe"), std::string::npos);
    EXPECT_TRUE(FileExists(installedInf));

    // Version 2 over version 1: every changed file replaced, a shorter one included.
    ASSERT_EQ(RunToExit(nullptr, "\"" + installers + route + "-2.exe\"", 300000), 0u);
    EXPECT_EQ(FirstDifference(tree2, FilesUnder(folder)), "") << "the tree after the upgrade";
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, key, "DisplayVersion"), "2.0");

    // The uninstall command leaves nothing of ours. (rundll32's exit code says nothing of the
    // work: the effects do.)
    std::string uninstall = RegistryText(HKEY_LOCAL_MACHINE, key, "UninstallString");
    ASSERT_NE(uninstall, "");
    EXPECT_NE(RunToExit(nullptr, uninstall, 120000), (DWORD)STILL_ACTIVE);
    EXPECT_FALSE(DirectoryExists(folder)) << FilesUnder(folder).size() << " files left";
    EXPECT_FALSE(DirectoryExists(menu));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, key));
    EXPECT_FALSE(FileExists(installedInf));
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Applications, testing::Values("setupapi", "advpack"),
                         [](const testing::TestParamInfo<std::string> &row) { return row.param; });

}  // namespace
