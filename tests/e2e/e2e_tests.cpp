// Whole installers under Wine, made by `quarvel pack` (make-packages) and driven by the robot as
// a user would: one run per user-visible flow, judged by what arrives where the INF puts it and
// by what is left afterwards.
#include <gtest/gtest.h>

#include <shlobj.h>

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

const std::string build = WindowsPathFromEnvironment("QUARVEL_BUILD");
const std::string packages = build + "\\e2e-packages\\";
const std::string installers = build + "\\e2e-app-packages\\";
const std::string programFiles = ShellFolder(CSIDL_PROGRAM_FILES);
const std::string workDirectory = TempDirectory() + "$Quarvel.Tmp";
const std::string cabinetLibrary = SystemDirectory() + "\\cabinet.dll";
const char slotLibraryMark[] = "C:\\quarvel-slot-library-loaded";  // see slot_library.cpp

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

// Started with TMP and TEMP set to temp, from startDirectory ("": this one's).
PROCESS_INFORMATION Start(const std::string &path, const std::string &temp = TempDirectory(),
                          const std::string &startDirectory = "")
{
    PROCESS_INFORMATION installer{};
    EXPECT_TRUE(StartProgram(path.c_str(), "\"" + path + "\"", installer,
                             {"TMP=" + temp, "TEMP=" + temp},
                             startDirectory.empty() ? nullptr : startDirectory.c_str()));
    return installer;
}

struct Outcome {
    size_t reports;  // the message boxes answered
    DWORD exitCode;
};

// Answers every message box of the installer with the button until it ends, 90 seconds at most.
Outcome Watch(PROCESS_INFORMATION installer, int button = IDOK)
{
    Outcome outcome{};
    DWORD start = GetTickCount(), limit = robot::ScaledTimeout(90000);
    while (GetTickCount() - start < limit &&
           WaitForSingleObject(installer.hProcess, 50) == WAIT_TIMEOUT) {
        for (const robot::Box &box : robot::FindMessageBoxes(nullptr, installer.dwProcessId))
            outcome.reports += robot::AnswerMessageBox(box.window, button);
    }
    outcome.exitCode = WaitForExit(installer, 0);
    return outcome;
}

// Moves a system file away for its lifetime (none for ""); what took its place then goes.
struct MovedAway {
    std::string path;
    bool moved = !path.empty() && MoveFileA(path.c_str(), (path + ".away").c_str());
    ~MovedAway()
    {
        if (moved)
            MoveFileExA((path + ".away").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
};

// The INF routes through the dialog: Install, the completion screen, then the route's ending.
// setupx.dll is moved away for the setupapi route, whose package has a licence, accepted first.
struct Route {
    const char *name;
    int closeCommand;  // 0: a crash at the completion screen instead
};
const Route routes[] = {
    {"setupx", 0},    // a crash inside the dialog still deletes the files and the directory
    {"setupapi", 2},  // Close (2) restores the start directory first, or the work directory stays
    // A scrambled cabinet, both advpack sections, and a TEMP with a space, where the INF command
    // line would split: the system directory holds the work directory. Enter (1) closes, the
    // Install button being gone.
    {"advpack", 1},
};

class Routes : public testing::TestWithParam<Route> {};

TEST_P(Routes, InstallAndCleanUp)
{
    const std::string name = GetParam().name, path = packages + name + ".exe";
    const bool setupapi = name == "setupapi", advpack = name == "advpack";
    std::string temp = advpack ? "C:\\e2e temp\\" : TempDirectory();
    std::string work = advpack ? SystemDirectory() + "\\$Quarvel.Tmp" : workDirectory;
    CreateDirectoryA(temp.c_str(), nullptr);
    RemoveTree(work);  // as an earlier run may have left it
    MovedAway setupx{setupapi ? SystemDirectory() + "\\setupx.dll" : ""};
    ASSERT_EQ(setupx.moved, setupapi);
    Uninstall(name);
    PROCESS_INFORMATION installer = Start(path, temp);
    HWND dialog = robot::WaitForDialog(("Quarvel E2E " + name).c_str(), installer.dwProcessId);
    EXPECT_TRUE(DirectoryExists(work));
    ASSERT_TRUE(robot::Click(dialog, 1));
    if (setupapi)
        ASSERT_TRUE(robot::Click(
            robot::WaitForDialog("Informations sur la licence...", installer.dwProcessId), IDOK));
    // At the completion screen, once the work is done, Close is enabled again.
    ASSERT_TRUE(robot::WaitUntil(
        [&] { return IsInstalled(name) && robot::IsControlEnabled(dialog, 2); }, 60000));
    if (GetParam().closeCommand) {
        robot::PostCommand(dialog, GetParam().closeCommand);
        EXPECT_EQ(WaitForExit(installer, 90000), 0u);
    } else {  // a thread that jumps nowhere: an access violation inside the running installer
        ASSERT_TRUE(FileExists(work + "\\readme.txt"));
        CloseHandle(CreateRemoteThread(installer.hProcess, nullptr, 0,
                                       (LPTHREAD_START_ROUTINE)0x10, nullptr, 0, nullptr));
        EXPECT_EQ(WaitForExit(installer, 90000), (DWORD)EXCEPTION_ACCESS_VIOLATION);
    }
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, "Software\\Quarvel\\E2E\\" + name, "SecondSection"),
              advpack ? "yes" : "");
    EXPECT_FALSE(DirectoryExists(work));
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Routes, testing::ValuesIn(routes),
                         [](const testing::TestParamInfo<Route> &row) { return row.param.name; });

// Runs without the dialog: each ends by itself, leaves no work directory and keeps the installer.
TEST(EndToEnd, RunsWithoutTheDialog)
{
    // The silent package's readme.txt stored read-only, hidden and system.
    std::string start = ScratchDirectory("e2e-silent"), silent = start + "silent.exe";
    std::string bytes = ReadFileBytes(packages + "silent.exe");
    size_t name = bytes.find(std::string("readme.txt", 11));  // its cabinet record, NUL included
    ASSERT_NE(name, std::string::npos);
    bytes.replace(name - 2, 2, "\x27\0", 2);  // the record's attributes precede its name
    WriteFileBytes(silent, bytes);
    while (start.size() < MAX_PATH - 2) {  // the longest start directory Windows allows
        start += std::string(40, 's').substr(0, MAX_PATH - 2 - start.size());
        CreateDirectoryA(start.c_str(), nullptr);
        start += '\\';
    }
    start.pop_back();
    std::string scratch = ScratchDirectory("e2e-refused"), temp = TempDirectory();
    WriteFileBytes(scratch + "bare.exe", ReadFileBytes(WindowsPathFromEnvironment("QUARVEL_BIN") +
                                                       "\\quarvel-stub.exe"));
    WriteFileBytes(scratch + "longer.exe", ReadFileBytes(packages + "silent.exe") + "!");
    WriteFileBytes(scratch + "multi.exe", ReadFileBytes(packages + "multi\\multi.exe"));
    const std::string blocked = scratch + "bare.exe\\";  // a file where a directory should be
    ASSERT_FALSE(CreateDirectoryA((blocked + "$Quarvel.Tmp").c_str(), nullptr));
    const DWORD cannotMake = GetLastError();
    const std::string library = ReadFileBytes(cabinetLibrary);
    DeleteFileA(slotLibraryMark);
    // A longer joined package that an earlier run left, for the first row.
    RemoveTree(workDirectory);
    CreateDirectoryA(workDirectory.c_str(), nullptr);
    WriteFileBytes(workDirectory + "\\Quarvel.pkg", std::string(300000, 'o'));
    const struct {
        std::string path, name, temp, start;  // name: the package's folder, which it installs
        bool installs; int button; size_t reports; DWORD exitCode;
    } rows[] = {
        // The volumes joined over the earlier package, which is replaced; the joined package
        // then goes with the work directory.
        {packages + "multi\\multi.exe", "multi", temp, "", true, IDOK, 0, 0},
        // The read-only file still deleted; the long start directory restored.
        {silent, "silent", temp, start, true, IDOK, 0, 0},
        {packages + "signed.exe", "signed", temp, "", true, IDOK, 0, 0},  // the system library kept
        {scratch + "bare.exe", "bare", temp, "", false, IDOK, 0, 0},  // the stub alone: no report
        {scratch + "longer.exe", "silent", temp, "", false, IDOK, 1, 0},  // a byte too many
        // The work directory cannot be made: reported, with the system's error code.
        {packages + "silent.exe", "silent", blocked, "", false, IDOK, 1, cannotMake},
        // A first volume alone: its disk prompt cancelled, then the failed join reported.
        {scratch + "multi.exe", "multi", temp, "", false, IDCANCEL, 2, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        Uninstall(row.name);
        Outcome outcome = Watch(Start(row.path, row.temp, row.start), row.button);
        EXPECT_EQ(outcome.reports, row.reports);
        EXPECT_EQ(outcome.exitCode, row.exitCode);
        EXPECT_EQ(IsInstalled(row.name), row.installs);
        EXPECT_FALSE(DirectoryExists(workDirectory));
        EXPECT_TRUE(FileExists(row.path));
    }
    EXPECT_EQ(ReadFileBytes(cabinetLibrary), library);
    EXPECT_FALSE(FileExists(slotLibraryMark));
}

TEST(EndToEnd, AnAbsentCabinetLibraryIsWrittenFromADllImageOnlyAndThenBound)
{
    MovedAway systemLibrary{cabinetLibrary};
    ASSERT_TRUE(systemLibrary.moved);
    RemoveTree(workDirectory);
    DeleteFileA(slotLibraryMark);
    // An empty slot plants nothing. Whether the platform then still finds a library of its own
    // decides between an installation and a report that none could be loaded.
    Watch(Start(packages + "silent.exe"));
    EXPECT_FALSE(FileExists(cabinetLibrary));
    // A DLL image is written whole, slot padding included, and is the library then bound. Wine
    // prefers its own cabinet.dll to any file; told otherwise for this program, it loads the file.
    const std::string key = WineProgramKey("signed.exe") + "\\DllOverrides";
    ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, key, "cabinet", "native"));
    Outcome outcome = Watch(Start(packages + "signed.exe"));
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    std::string image = ReadFileBytes(TestProgramDirectory() + "e2e_slot_library.dll");
    EXPECT_EQ(ReadFileBytes(cabinetLibrary), image + std::string(40960 - image.size(), '\0'));
    EXPECT_TRUE(FileExists(slotLibraryMark));
    // The stand-in cannot extract: the extraction error, and nothing left.
    EXPECT_EQ(outcome.reports, 1u);
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_FALSE(DirectoryExists(workDirectory));
}

// ---- Applications packed with `pack --app` (make-packages --app): the demo program, which loads
// its plugin from a subfolder, and 600 files in nested folders, some names needing care.

// A tree's files (bytes by path); its names, accents included, are in the code page (1252).
std::map<std::string, std::string> FilesUnder(const std::string &folder)
{
    std::map<std::string, std::string> files;
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

class Applications : public testing::TestWithParam<std::string> {};

// Installed silently, upgraded, then uninstalled as Add/Remove Programs does.
TEST_P(Applications, InstallUpgradeAndUninstall)
{
    const std::string route = GetParam(), id = "Quarvel-App-" + route;
    const std::string name = "Quarvel App " + route, folder = programFiles + "\\" + name;
    const std::string menu = ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\" + name;
    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + id;
    const std::string installedInf = WindowsDirectory() + "\\inf\\" + id + ".inf";
    MovedAway setupx{route == "setupapi" ? SystemDirectory() + "\\setupx.dll" : ""};
    ASSERT_EQ(setupx.moved, route == "setupapi");
    for (const std::string &left : {folder, menu, installedInf})  // by a run that failed
        RemoveTree(left);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
    ASSERT_EQ(RunToExit(nullptr, "\"" + installers + route + "-1.exe\"", 300000), 0u);
    EXPECT_TRUE(FilesUnder(folder) == FilesUnder(installers + "tree-1")) << "the tree installed";
    // The shortcut's target is the INF's (the golden INF's concern): here, that it is made.
    EXPECT_NE(ReadFileBytes(menu + "\\Quarvel Demo.lnk").find("\\demo.exe"), std::string::npos);
    // Version 2 over version 1: every changed file replaced, a shorter one included.
    ASSERT_EQ(RunToExit(nullptr, "\"" + installers + route + "-2.exe\"", 300000), 0u);
    EXPECT_TRUE(FilesUnder(folder) == FilesUnder(installers + "tree-2")) << "the upgraded tree";
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, key, "DisplayVersion"), "2.0");
    // The uninstall command leaves nothing of ours; rundll32's exit code says nothing of it.
    std::string uninstall = RegistryText(HKEY_LOCAL_MACHINE, key, "UninstallString");
    EXPECT_NE(RunToExit(nullptr, uninstall, 120000), (DWORD)STILL_ACTIVE);
    EXPECT_FALSE(DirectoryExists(folder) || DirectoryExists(menu) ||
                 RegistryKeyExists(HKEY_LOCAL_MACHINE, key) || FileExists(installedInf));
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Applications, testing::Values("setupapi", "advpack"),
                         [](const testing::TestParamInfo<std::string> &row) { return row.param; });

}  // namespace
