// Whole installers under Wine, made by `quarvel pack` and driven by the robot as a user would:
// what arrives where the INF puts it, what the user sees, and what is left afterwards.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <map>

#include "robot.h"
#include "test_support.h"

namespace {

const char workFolder[] = "$Quarvel.Tmp";

std::string PackagesDirectory()
{
    return WindowsPathFromEnvironment("QUARVEL_BUILD") + "\\e2e-packages\\";
}

std::string ProgramFiles()
{
    char directory[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, directory);
    return directory;
}

std::string RegistryValue(const std::string &name, const char *value)
{
    return RegistryText(HKEY_LOCAL_MACHINE, "Software\\Quarvel\\E2E\\" + name, value);
}

void Uninstall(const std::string &name)
{
    RemoveTree(ProgramFiles() + "\\Quarvel E2E\\" + name);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("Software\\Quarvel\\E2E\\" + name).c_str());
}

bool IsInstalled(const std::string &name)
{
    std::string folder = ProgramFiles() + "\\Quarvel E2E\\" + name + "\\";
    return ReadFileBytes(folder + "readme.txt").find("Quarvel end-to-end payload") == 0 &&
           FileExists(folder + "data.bin") && RegistryValue(name, "Installed") == "yes";
}

struct Installer {
    PROCESS_INFORMATION process{};
    DWORD id() const { return process.dwProcessId; }
};

Installer Start(const std::string &path, const std::vector<std::string> &settings = {},
                const char *startDirectory = nullptr)
{
    Installer installer;
    EXPECT_TRUE(StartProgram(path.c_str(), "\"" + path + "\"", installer.process, settings,
                             startDirectory))
        << path;
    return installer;
}

// A temporary directory for the installer, through TMP and TEMP.
std::vector<std::string> WithTemp(const std::string &temp)
{
    return {"TMP=" + temp, "TEMP=" + temp};
}

DWORD WaitForExit(Installer &installer, DWORD timeout = 90000)
{
    return WaitForExit(installer.process, timeout);
}

// The windows the installer showed before it ended, with whether the installation was already
// done when each was seen: class, caption and that flag.
std::vector<std::string> WindowsShown(Installer &installer, const std::string &name)
{
    std::vector<std::string> shown;
    while (WaitForSingleObject(installer.process.hProcess, 5) == WAIT_TIMEOUT) {
        for (HWND window : robot::FindTopWindows(nullptr, nullptr, installer.id())) {
            char className[64] = "", caption[128] = "";
            GetClassNameA(window, className, sizeof className);
            GetWindowTextA(window, caption, sizeof caption);
            std::string seen = std::string(className) + " \"" + caption + "\"" +
                               (IsInstalled(name) ? " after the installation" : "");
            if (std::find(shown.begin(), shown.end(), seen) == shown.end())
                shown.push_back(seen);
        }
    }
    return shown;
}

// Answers every message box of the installer with OK until it ends; returns their texts.
std::vector<std::string> AnswerBoxesUntilExit(Installer &installer)
{
    std::vector<std::string> texts;
    while (WaitForSingleObject(installer.process.hProcess, 50) == WAIT_TIMEOUT) {
        robot::Box box = robot::FindMessageBox(nullptr, installer.id());
        if (box.window) {
            texts.push_back(box.text);
            robot::AnswerMessageBox(box.window, IDOK);
        }
    }
    return texts;
}

class EndToEnd : public testing::Test {
protected:
    void SetUp() override
    {
        directory_ = ScratchDirectory(std::string("e2e-") +
                                      testing::UnitTest::GetInstance()->current_test_info()->name());
        RemoveTree(TempDirectory() + workFolder);
    }

    // A copy of a package of the set, so that a test may change it.
    std::string Copy(const std::string &package)
    {
        std::string target = directory_ + package.substr(package.find_last_of('\\') + 1);
        EXPECT_TRUE(CopyFileA((PackagesDirectory() + package).c_str(), target.c_str(), FALSE))
            << package;
        return target;
    }

    std::string DefaultWorkDirectory() { return TempDirectory() + workFolder; }

    std::string directory_;
};

const char completedStatus[] = "\r\n\r\n\r\n\r\nInstallation compl\351t\351e avec succ\350s!";

// Runs a package that shows its message and a completion screen through Install and OK.
void InstallThroughTheDialog(Installer &installer, const char *title)
{
    HWND dialog = robot::WaitForDialog(title, installer.id());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(robot::ControlText(dialog, 1), "&Installer");
    EXPECT_EQ(robot::ControlText(dialog, 2), "&Quitter");
    EXPECT_EQ(robot::ControlText(dialog, 3002), "Bienvenue dans le test de bout en bout.\r\n");
    ASSERT_TRUE(robot::Click(dialog, 1));
    ASSERT_TRUE(robot::WaitUntil(
        [&] { return robot::ControlText(dialog, 3002) == completedStatus; }, 60000));
    EXPECT_EQ(robot::ControlText(dialog, 2), "&OK");
}

TEST_F(EndToEnd, InstallsThroughSetupx)
{
    Uninstall("setupx");
    std::string path = Copy("setupx.exe");
    Installer installer = Start(path);
    InstallThroughTheDialog(installer, "Quarvel E2E setupx");
    // The completion screen's buttons and the Info box are the dialog tests' (ui_tests).
    HWND dialog = robot::FindDialog("Quarvel E2E setupx", installer.id());
    ASSERT_TRUE(robot::Click(dialog, 2));
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_TRUE(IsInstalled("setupx"));
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
    EXPECT_TRUE(FileExists(path));  // the installer never removes itself
}

// Moves setupx.dll out of the system directory for its lifetime, so that the installer takes
// the setupapi route.
struct WithoutSetupx {
    std::string setupx = SystemDirectory() + "\\setupx.dll";
    bool moved = MoveFileA(setupx.c_str(), (setupx + ".away").c_str()) != 0;
    ~WithoutSetupx()
    {
        if (moved)
            MoveFileA((setupx + ".away").c_str(), setupx.c_str());
    }
};

TEST_F(EndToEnd, InstallsThroughSetupapiWhenTheSystemHasNoSetupx)
{
    WithoutSetupx setupapiRoute;
    ASSERT_TRUE(setupapiRoute.moved);
    Uninstall("setupapi");
    Installer installer = Start(Copy("setupapi.exe"));
    InstallThroughTheDialog(installer, "Quarvel E2E setupapi");
    robot::Click(robot::FindDialog("Quarvel E2E setupapi", installer.id()), 2);
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_TRUE(IsInstalled("setupapi"));
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
}

TEST_F(EndToEnd, InstallsThroughAdvpackWithBothSections)
{
    Uninstall("advpack");
    Installer installer = Start(Copy("advpack.exe"));
    InstallThroughTheDialog(installer, "Quarvel E2E advpack");
    HWND dialog = robot::FindDialog("Quarvel E2E advpack", installer.id());
    robot::PostCommand(dialog, 1);  // the Install button is gone: Enter closes
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_TRUE(IsInstalled("advpack"));
    EXPECT_EQ(RegistryValue("advpack", "SecondSection"), "yes");  // DefaultInstallX ran too
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
}

TEST_F(EndToEnd, ASilentPackageInstallsWithoutAWindow)
{
    Uninstall("silent");
    Installer installer = Start(Copy("silent.exe"));
    // Wine shows a dialog that ended during its initialisation for a moment before it destroys
    // it (Windows does not show it at all): only that moment, after the work, is allowed.
    for (const std::string &window : WindowsShown(installer, "silent"))
        EXPECT_EQ(window, "#32770 \"Quarvel E2E silent\" after the installation");
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_TRUE(IsInstalled("silent"));
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
}

// Signed through osslsigncode: the signature behind the package is no damage.
TEST_F(EndToEnd, ASignedInstallerInstallsAndCleansUp)
{
    Uninstall("signed");
    Installer installer = Start(Copy("signed.exe"));
    EXPECT_EQ(AnswerBoxesUntilExit(installer), std::vector<std::string>{});
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_TRUE(IsInstalled("signed"));
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
}

TEST_F(EndToEnd, ClosingWithoutInstallingStillCleansUp)
{
    Uninstall("closing");
    Installer installer = Start(Copy("closing.exe"));
    HWND dialog = robot::WaitForDialog("Quarvel E2E closing", installer.id());
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(DirectoryExists(DefaultWorkDirectory()));
    ASSERT_TRUE(robot::Click(dialog, 2));
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_FALSE(IsInstalled("closing"));
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
}

TEST_F(EndToEnd, ACrashInsideTheDialogStillCleansUp)
{
    // No crash dialog: Wine's debugger ends the crashed process at once.
    ASSERT_TRUE(SetRegistryNumber(HKEY_CURRENT_USER, "Software\\Wine\\WineDbg", "ShowCrashDialog", 0));
    Installer installer = Start(Copy("setupx.exe"));
    InstallThroughTheDialog(installer, "Quarvel E2E setupx");
    ASSERT_TRUE(FileExists(DefaultWorkDirectory() + "\\readme.txt"));
    // A thread that jumps nowhere: an access violation inside the running installer.
    HANDLE crash = CreateRemoteThread(installer.process.hProcess, nullptr, 0,
                                      (LPTHREAD_START_ROUTINE)0x10, nullptr, 0, nullptr);
    ASSERT_NE(crash, nullptr);
    CloseHandle(crash);
    EXPECT_EQ(WaitForExit(installer), (DWORD)EXCEPTION_ACCESS_VIOLATION);
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
}

TEST_F(EndToEnd, AFileWithoutAPackageEndsAtOnce)
{
    std::string stub = directory_ + "bare.exe";
    ASSERT_TRUE(CopyFileA((WindowsPathFromEnvironment("QUARVEL_BIN") + "\\quarvel-stub.exe").c_str(),
                          stub.c_str(), FALSE));
    Installer installer = Start(stub);
    EXPECT_EQ(WindowsShown(installer, "none"), std::vector<std::string>{});
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
    EXPECT_TRUE(FileExists(stub));
}

TEST_F(EndToEnd, AFileOneByteTooLongIsReportedCorrupt)
{
    std::string path = Copy("closing.exe");
    WriteFileBytes(path, ReadFileBytes(path) + "!");
    Installer installer = Start(path);
    robot::Box box = robot::WaitForMessageBox(nullptr, installer.id());
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "Erreur");
    EXPECT_EQ(box.text, "Le fichier est corrompu. Veuillez obtenir une nouvelle copie de ce fichier.");
    EXPECT_TRUE(robot::AnswerMessageBox(box.window, IDOK));
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
}

TEST_F(EndToEnd, ATemporaryDirectoryWithASpaceGivesWayToTheSystemDirectory)
{
    std::string spaced = "C:\\e2e temp\\";
    CreateDirectoryA(spaced.c_str(), nullptr);
    std::string systemWork = SystemDirectory() + "\\" + workFolder;
    Installer installer = Start(Copy("closing.exe"), WithTemp(spaced));
    HWND dialog = robot::WaitForDialog("Quarvel E2E closing", installer.id());
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(DirectoryExists(systemWork));
    EXPECT_FALSE(DirectoryExists(spaced + workFolder));
    ASSERT_TRUE(robot::Click(dialog, 2));
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_FALSE(DirectoryExists(systemWork));
}

TEST_F(EndToEnd, AWorkDirectoryThatCannotBeMadeEndsWithTheSystemErrorCode)
{
    WriteFileBytes("C:\\e2e-blocker", "a file where a directory should be");
    SetLastError(0);
    ASSERT_FALSE(CreateDirectoryA("C:\\e2e-blocker\\sub", nullptr));
    DWORD expected = GetLastError();
    Installer installer = Start(Copy("closing.exe"), WithTemp("C:\\e2e-blocker\\sub\\"));
    robot::Box box = robot::WaitForMessageBox(nullptr, installer.id());
    ASSERT_NE(box.window, nullptr);
    EXPECT_NE(box.text.find("C:\\e2e-blocker\\sub"), std::string::npos) << box.text;
    EXPECT_TRUE(robot::AnswerMessageBox(box.window, IDOK));
    EXPECT_EQ(WaitForExit(installer), expected);
    DeleteFileA("C:\\e2e-blocker");
}

// Stored read-only, hidden and system: the Close command must still delete the file, or the
// work directory stays behind.
TEST_F(EndToEnd, AFileStoredReadOnlyIsDeletedAndTheWorkDirectoryGoes)
{
    std::string path = Copy("silent.exe");
    std::string bytes = ReadFileBytes(path);
    size_t name = bytes.find(std::string("readme.txt", 11));  // its cabinet record, NUL included
    ASSERT_NE(name, std::string::npos);
    bytes[name - 2] = 0x27;  // the record's attributes precede its name
    bytes[name - 1] = 0;
    WriteFileBytes(path, bytes);
    Uninstall("silent");
    Installer installer = Start(path);
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_TRUE(IsInstalled("silent"));
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
    Uninstall("silent");
}

// A start directory as long as Windows allows (MAX_PATH - 2 characters): it is restored after
// the INF installer ran, and the installation ends normally.
TEST_F(EndToEnd, TheLongestStartDirectoryStillEndsNormally)
{
    std::string start = directory_;
    while (start.size() < MAX_PATH - 2) {
        start += std::string(std::min<size_t>(40, MAX_PATH - 2 - start.size()), 's');
        CreateDirectoryA(start.c_str(), nullptr);
        start += '\\';
    }
    start.pop_back();
    Uninstall("silent");
    Installer installer = Start(Copy("silent.exe"), {}, start.c_str());
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_TRUE(IsInstalled("silent"));
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
}

class Volumes : public EndToEnd {
protected:
    // The volume set, copied; returns the installer's path.
    std::string CopyVolumeSet()
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((PackagesDirectory() + "multi\\multi.*").c_str(), &found);
        EXPECT_NE(search, INVALID_HANDLE_VALUE);
        do
            Copy(std::string("multi\\") + found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
        EXPECT_TRUE(FileExists(directory_ + "multi.002")) << "the set should have 3 volumes";
        return directory_ + "multi.exe";
    }
};

TEST_F(Volumes, ASetJoinsAndInstalls)
{
    Uninstall("multi");
    // An old joined file is replaced, not appended to.
    CreateDirectoryA(DefaultWorkDirectory().c_str(), nullptr);
    WriteFileBytes(DefaultWorkDirectory() + "\\Quarvel.pkg", std::string(300000, 'o'));
    Installer installer = Start(CopyVolumeSet());
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_TRUE(IsInstalled("multi"));
    EXPECT_FALSE(FileExists(DefaultWorkDirectory() + "\\Quarvel.pkg"));
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
}

TEST_F(Volumes, CancellingTheDiskPromptEndsWithoutADialog)
{
    std::string installerPath = CopyVolumeSet();
    DeleteFileA((directory_ + "multi.001").c_str());
    Installer installer = Start(installerPath);
    robot::Box prompt = robot::WaitForMessageBox("Quarvel E2E multi", installer.id());
    ASSERT_NE(prompt.window, nullptr);
    EXPECT_TRUE(robot::AnswerMessageBox(prompt.window, IDCANCEL));
    robot::Box failure = robot::WaitForMessageBox("Erreur", installer.id());
    ASSERT_NE(failure.window, nullptr);
    EXPECT_EQ(failure.text, "L'archive d'installation n'a pu \352tre cr\351\351e.");
    EXPECT_TRUE(robot::AnswerMessageBox(failure.window, IDOK));
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_FALSE(FileExists(DefaultWorkDirectory() + "\\Quarvel.pkg"));
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));
}

class CabinetLibrary : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        library_ = SystemDirectory() + "\\cabinet.dll";
        DeleteFileA(loadedMark);
    }
    void TearDown() override { DeleteFileA(loadedMark); }

    static constexpr const char *loadedMark = "C:\\quarvel-slot-library-loaded";
    std::string library_;
};

// The package library-slot carries a stand-in library that marks its loading and cannot extract.
TEST_F(CabinetLibrary, APresentLibraryIsNeitherReadNorRewritten)
{
    std::string before = ReadFileBytes(library_);
    ASSERT_GT(before.size(), 40960u);  // larger than any slot: a rewrite would show
    Uninstall("library-slot");
    Installer installer = Start(Copy("library-slot.exe"));
    EXPECT_EQ(WaitForExit(installer), 0u);
    EXPECT_TRUE(IsInstalled("library-slot"));
    EXPECT_EQ(ReadFileBytes(library_), before);
    EXPECT_FALSE(FileExists(loadedMark));
}

TEST_F(CabinetLibrary, AnAbsentLibraryIsWrittenFromADllImageOnlyAndThenBound)
{
    std::string away = library_ + ".away";
    ASSERT_TRUE(MoveFileA(library_.c_str(), away.c_str()));

    // An empty slot plants nothing. Whether the platform then still finds a library of its
    // own decides between an installation and "Cabinet.dll could not be loaded!".
    Installer empty = Start(Copy("silent.exe"));
    std::vector<std::string> boxes = AnswerBoxesUntilExit(empty);
    EXPECT_EQ(WaitForExit(empty), 0u);
    EXPECT_FALSE(FileExists(library_));
    for (const std::string &text : boxes)
        EXPECT_EQ(text, "Cabinet.dll could not be loaded!");

    // A DLL image is written whole, slot padding included, and is the library then bound.
    // Wine prefers its own cabinet.dll to any file; told otherwise for this program, it loads
    // the file.
    const std::string key = WineProgramKey("library-slot.exe") + "\\DllOverrides";
    ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, key, "cabinet", "native"));
    Installer installer = Start(Copy("library-slot.exe"));
    boxes = AnswerBoxesUntilExit(installer);
    EXPECT_EQ(WaitForExit(installer), 0u);
    std::string image = ReadFileBytes(WindowsPathFromEnvironment("QUARVEL_TEST_BIN") +
                                      "\\e2e_slot_library.dll");
    std::string written = ReadFileBytes(library_);
    EXPECT_EQ(written, image + std::string(40960 - image.size(), '\0'));
    EXPECT_TRUE(FileExists(loadedMark));
    EXPECT_EQ(boxes, std::vector<std::string>{"Erreur d'extraction du fichier(s)."});
    EXPECT_FALSE(DirectoryExists(DefaultWorkDirectory()));

    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    DeleteFileA(library_.c_str());
    ASSERT_TRUE(MoveFileA(away.c_str(), library_.c_str()));
}

// ---- Applications packed with `pack --app` (tests/e2e/make-app-packages): a tree of some 600
// files in nested folders through each route, silently, then upgraded and uninstalled.

std::wstring Wide(const std::string &utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], (int)wide.size()));
    return wide;
}

std::string Utf8(const std::wstring &wide)
{
    std::string utf8(wide.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &utf8[0],
                                    (int)utf8.size(), nullptr, nullptr));
    return utf8;
}

// Every file under a folder by its path there (UTF-8, '\\'-separated), with its bytes. Wide
// calls: some names are not in the system's code page.
void FilesUnder(const std::wstring &folder, const std::string &prefix, std::map<std::string, std::string> &out)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = folder + L"\\" + name;
        std::string relative = prefix + Utf8(name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            FilesUnder(path, relative + "\\", out);
            continue;
        }
        std::string bytes;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char chunk[65536];
            DWORD read;
            while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
                bytes.append(chunk, read);
            CloseHandle(file);
        }
        out[relative] = bytes;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::map<std::string, std::string> FilesUnder(const std::string &folder)
{
    std::map<std::string, std::string> files;
    FilesUnder(Wide(folder), "", files);
    return files;
}

// The first file that differs between two trees, for the failure report; "" when none does.
std::string FirstDifference(const std::map<std::string, std::string> &expected,
                            const std::map<std::string, std::string> &actual)
{
    for (const auto &file : expected) {
        auto found = actual.find(file.first);
        if (found == actual.end())
            return file.first + " is missing";
        if (found->second != file.second)
            return file.first + " differs";
    }
    for (const auto &file : actual)
        if (!expected.count(file.first))
            return file.first + " is not in the package";
    return "";
}

std::string CommonPrograms()
{
    char directory[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, directory);
    return directory;
}

// The program a shortcut starts, or "" when it cannot be read.
std::string ShortcutTarget(const std::string &link)
{
    std::string target;
    CoInitialize(nullptr);
    IShellLinkA *shellLink = nullptr;
    IPersistFile *file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   (void **)&shellLink)) &&
        SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, (void **)&file)) &&
        SUCCEEDED(file->Load(Wide(link).c_str(), STGM_READ))) {
        char path[MAX_PATH] = "";
        if (SUCCEEDED(shellLink->GetPath(path, MAX_PATH, nullptr, 0)))
            target = path;
    }
    if (file)
        file->Release();
    if (shellLink)
        shellLink->Release();
    CoUninitialize();
    return target;
}

struct UninstallEntry {
    bool exists = false;
    std::map<std::string, std::string> strings;
    DWORD estimatedSize = 0;
};

UninstallEntry ReadUninstallEntry(const std::string &keyName)
{
    UninstallEntry entry;
    std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + keyName;
    entry.exists = RegistryKeyExists(HKEY_LOCAL_MACHINE, key);
    for (const char *name : {"DisplayName", "DisplayVersion", "Publisher", "InstallLocation", "UninstallString"})
        entry.strings[name] = RegistryText(HKEY_LOCAL_MACHINE, key, name);
    entry.estimatedSize = RegistryNumber(HKEY_LOCAL_MACHINE, key, "EstimatedSize");
    return entry;
}

void InstallsUpgradesAndUninstallsAnApplication(const std::string &route)
{
    const std::string packages = WindowsPathFromEnvironment("QUARVEL_BUILD") + "\\e2e-app-packages\\";
    const std::string name = "Quarvel App " + route;
    const std::string folder = ProgramFiles() + "\\" + name;
    const std::string menu = CommonPrograms() + "\\" + name;
    const std::string keyName = "Quarvel-App-" + route;
    const std::string installedInf = WindowsDirectory() + "\\inf\\" + keyName + ".inf";
    // What an earlier run that failed half-way may have left.
    RemoveTree(folder);
    RemoveTree(menu);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + keyName).c_str());
    DeleteFileA(installedInf.c_str());

    std::map<std::string, std::string> tree1 = FilesUnder(packages + "tree-1");
    std::map<std::string, std::string> tree2 = FilesUnder(packages + "tree-2");
    ASSERT_GE(tree1.size(), 600u);

    Installer first = Start(packages + route + "-1.exe");
    ASSERT_EQ(WaitForExit(first, 300000), 0u);
    EXPECT_EQ(FirstDifference(tree1, FilesUnder(folder)), "") << "the tree installed";
    EXPECT_EQ(RunToExit(nullptr, "\"" + folder + "\\demo.exe\"", 120000), 0u);  // loads plugins\greet.dll, reads share\...
    EXPECT_EQ(_stricmp(ShortcutTarget(menu + "\\Quarvel Demo.lnk").c_str(), (folder + "\\demo.exe").c_str()), 0)
        << ShortcutTarget(menu + "\\Quarvel Demo.lnk");
    UninstallEntry entry = ReadUninstallEntry(keyName);
    ASSERT_TRUE(entry.exists);
    EXPECT_EQ(entry.strings["DisplayName"], name);
    EXPECT_EQ(entry.strings["DisplayVersion"], "1.0");
    EXPECT_EQ(entry.strings["Publisher"], "Quarvel end-to-end");
    EXPECT_EQ(_stricmp(entry.strings["InstallLocation"].c_str(), folder.c_str()), 0) << entry.strings["InstallLocation"];
    size_t bytes = 0;
    for (const auto &file : tree1)
        bytes += file.second.size();
    EXPECT_EQ(entry.estimatedSize, (bytes + 1023) / 1024);
    EXPECT_EQ(entry.strings["UninstallString"].rfind(route == "advpack" ? "rundll32.exe advpack.dll,LaunchINFSection "
                                                                        : "rundll32.exe setupapi.dll,InstallHinfSection DefaultUninstall ", 0), 0u)
        << entry.strings["UninstallString"];
    EXPECT_TRUE(FileExists(installedInf));

    // The newer version over the older: every changed file replaced.
    Installer second = Start(packages + route + "-2.exe");
    ASSERT_EQ(WaitForExit(second, 300000), 0u);
    EXPECT_EQ(FirstDifference(tree2, FilesUnder(folder)), "") << "the tree after the upgrade";
    EXPECT_EQ(ReadUninstallEntry(keyName).strings["DisplayVersion"], "2.0");

    // The uninstall command as Add/Remove Programs runs it leaves nothing of ours.
    // (rundll32's exit code says nothing of the work: the effects do.)
    EXPECT_NE(RunToExit(nullptr, ReadUninstallEntry(keyName).strings["UninstallString"], 120000),
              (DWORD)STILL_ACTIVE);
    EXPECT_FALSE(DirectoryExists(folder)) << FilesUnder(folder).size() << " files left";
    EXPECT_FALSE(DirectoryExists(menu));
    EXPECT_FALSE(ReadUninstallEntry(keyName).exists);
    EXPECT_FALSE(FileExists(installedInf));
}

TEST_F(EndToEnd, AnApplicationThroughSetupapi)
{
    WithoutSetupx setupapiRoute;
    ASSERT_TRUE(setupapiRoute.moved);
    InstallsUpgradesAndUninstallsAnApplication("setupapi");
}

TEST_F(EndToEnd, AnApplicationThroughAdvpack)
{
    InstallsUpgradesAndUninstallsAnApplication("advpack");
}

}  // namespace
