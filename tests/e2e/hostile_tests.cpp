// Hostile packages through the real installer under Wine: truncated files, impossible header
// values, wrong magic, broken cabinets and cabinets whose names try to leave the work
// directory. Every case must end in time with a defined outcome, write nothing outside the
// work directory and leave that directory only where a failure keeps it. The sweep writes its
// table to ROBUSTNESS.md in the Wine session's directory (build/wine). Planting and fault cases follow.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <set>

#include "layout.h"
#include "robot.h"
#include "package_builder.h"
#include "test_support.h"

namespace {

const char sweepTemp[] = "C:\\hostile-temp\\";
const char sweepWork[] = "C:\\hostile-temp\\$Quarvel.Tmp";
const char installedKey[] = "Software\\Quarvel\\Hostile";
constexpr DWORD caseTimeout = 30000;

// ---- A writer of stored (uncompressed) cabinets, one folder, checksums 0 ----

struct CabinetFile {
    std::string name;
    std::string data;
};

void Put16(std::string &out, uint32_t value)
{
    out += (char)(value & 0xFF);
    out += (char)(value >> 8 & 0xFF);
}
void Put32(std::string &out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::string StoredCabinet(const std::vector<CabinetFile> &files)
{
    std::string names, stream;
    for (const CabinetFile &file : files) {
        Put32(names, (uint32_t)file.data.size());
        Put32(names, (uint32_t)stream.size());
        Put16(names, 0);       // folder
        Put16(names, 0x5A21);  // 2025-01-01
        Put16(names, 0x6000);  // 12:00
        Put16(names, 0x20);    // archive
        names += file.name + '\0';
        stream += file.data;
    }
    std::string blocks;
    uint32_t blockCount = 0;
    for (size_t at = 0; at < stream.size() || blockCount == 0; at += 32768, blockCount++) {
        std::string chunk = stream.substr(at, 32768);
        Put32(blocks, 0);
        Put16(blocks, (uint32_t)chunk.size());
        Put16(blocks, (uint32_t)chunk.size());
        blocks += chunk;
        if (stream.empty())
            break;
    }
    if (stream.empty())
        blockCount = 1;
    uint32_t filesOffset = 36 + 8;
    uint32_t dataOffset = filesOffset + (uint32_t)names.size();
    std::string cabinet = "MSCF";
    Put32(cabinet, 0);
    Put32(cabinet, dataOffset + (uint32_t)blocks.size());
    Put32(cabinet, 0);
    Put32(cabinet, filesOffset);
    Put32(cabinet, 0);
    cabinet += (char)3;
    cabinet += (char)1;
    Put16(cabinet, 1);
    Put16(cabinet, (uint32_t)files.size());
    Put16(cabinet, 0);    // flags
    Put16(cabinet, 417);  // set id
    Put16(cabinet, 0);
    Put32(cabinet, dataOffset);
    Put16(cabinet, blockCount);
    Put16(cabinet, 0);  // stored
    return cabinet + names + blocks;
}

// ---- Packages ----

const char sweepInf[] =
    "[Version]\r\nSignature=\"$CHICAGO$\"\r\nAdvancedINF=2.5\r\n"
    "[DefaultInstall]\r\nAddReg=Hostile.Registry\r\n"
    "[DefaultInstall2]\r\nAddReg=Hostile.Registry\r\n"
    "[DefaultInstall2.ntx86]\r\nAddReg=Hostile.Registry\r\n"
    "[Hostile.Registry]\r\nHKCU,\"Software\\Quarvel\\Hostile\",\"Installed\",0,\"yes\"\r\n";

struct Texts : PackageTexts {
    Texts()
    {
        title = "Quarvel hostile";
        infName = "hostile.inf";
    }
};

std::string Stub()
{
    static std::string stub =
        ReadFileBytes(WindowsPathFromEnvironment("QUARVEL_BIN") + "\\quarvel-stub.exe");
    return stub;
}

// A silent package: stub, empty library slot, header, texts, cabinet. The header describes
// exactly these bytes unless the caller changes it through `edit`.
std::string Package(const std::string &cabinet, const Texts &texts = {},
                    void (*edit)(PackageHeader &) = nullptr)
{
    PackageHeader header = WithLengths({}, texts, cabinet);
    if (edit)
        edit(header);
    return PackageFile(header, texts, cabinet, Stub());
}

std::string GoodCabinet()
{
    return StoredCabinet({{"hostile.inf", sweepInf}, {"payload.txt", "the payload\r\n"}});
}

// ---- Running one case ----

// Every name below the directory, with "\" between levels; directories end with "\".
void ListTree(const std::string &directory, const std::string &prefix, std::set<std::string> &out,
              int depth)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.insert(prefix + name + "\\");
            if (depth > 1)
                ListTree(directory + "\\" + name, prefix + name + "\\", out, depth - 1);
        } else {
            out.insert(prefix + name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::set<std::string> Tree(const std::string &directory, int depth = 8)
{
    std::set<std::string> names;
    ListTree(directory, "", names, depth);
    return names;
}

// What the installer could reach with a hostile name: the drive's root (and so \x and C:\x),
// the temporary directory around the work directory, and the installer's own directory
// (its current directory, where a drive-relative name such as C:x lands).
struct Surroundings {
    std::set<std::string> root, temp, own;
};

Surroundings Snapshot(const std::string &ownDirectory)
{
    // The drive's root one level deep; the temporary directory but for the work directory,
    // which is judged on its own.
    Surroundings s{Tree("C:", 1), Tree(sweepTemp), Tree(ownDirectory)};
    std::set<std::string> temp;
    for (const std::string &name : s.temp)
        if (name.rfind("$Quarvel.Tmp\\", 0) != 0)
            temp.insert(name);
    s.temp = temp;
    return s;
}

std::vector<std::string> Added(const std::set<std::string> &before, const std::set<std::string> &after,
                               const std::string &where)
{
    std::vector<std::string> added;
    for (const std::string &name : after)
        if (!before.count(name))
            added.push_back(where + name);
    return added;
}

bool Installed()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, installedKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

struct Outcome {
    std::string name;
    std::string shown;  // the boxes' texts, or what else ended the run
    DWORD exitCode = STILL_ACTIVE;
    bool timedOut = false;
    bool installed = false;
    bool workSeen = false;  // the work directory appeared while the installer ran
    std::vector<std::string> kept;     // what is left in the work directory
    std::vector<std::string> outside;  // what appeared anywhere else
};

std::string Printable(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r')
            continue;
        if (c == '\n')
            out += "\\n";
        else if (c == '|')
            out += "\\|";
        else if (c >= 0x80)  // code page 1252 letters, shown as their escapes
            out += "\\x" + std::string(1, "0123456789ABCDEF"[c >> 4]) + "0123456789ABCDEF"[c & 15];
        else
            out += (char)c;
    }
    return out;
}

PROCESS_INFORMATION StartStub(const std::string &path, const std::string &directory)
{
    std::string environment;
    char *strings = GetEnvironmentStringsA();
    for (char *entry = strings; *entry; entry += strlen(entry) + 1)
        if (_strnicmp(entry, "TMP=", 4) != 0 && _strnicmp(entry, "TEMP=", 5) != 0)
            environment += std::string(entry) + '\0';
    FreeEnvironmentStringsA(strings);
    environment += std::string("TMP=") + sweepTemp + '\0' + "TEMP=" + sweepTemp + '\0' + '\0';
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + path + "\"";
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                  &environment[0], directory.c_str(), &startup, &process);
    EXPECT_TRUE(started) << path;
    return process;
}

// Answers what the installer shows until it ends: every message box with OK (recording its
// text), a main dialog with Install, a licence with its acceptance.
void AnswerUntilExit(PROCESS_INFORMATION &process, Outcome &outcome, DWORD timeout)
{
    DWORD start = GetTickCount();
    std::set<HWND> pressed;
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > timeout) {
            outcome.timedOut = true;
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
        robot::Box box = robot::FindMessageBox(nullptr, process.dwProcessId);
        if (box.window) {
            outcome.shown += (outcome.shown.empty() ? "" : "; ") + ("\"" + box.text + "\"");
            robot::AnswerMessageBox(box.window, IDOK);
            continue;
        }
        outcome.workSeen = outcome.workSeen || DirectoryExists(sweepWork);
        // Only the two dialogs that wait for the user: any other window is a message box
        // still being built, which the next round reads.
        HWND dialog = nullptr;
        for (const char *caption : {"Quarvel hostile", "Informations sur la licence..."})
            if (!dialog)
                dialog = robot::FindDialog(caption, process.dwProcessId);
        if (dialog && !pressed.count(dialog) && robot::IsControlEnabled(dialog, 1) &&
            !robot::HasControl(dialog, 65535)) {
            outcome.shown += (outcome.shown.empty() ? "" : "; ") +
                             ("dialog \"" + robot::Text(dialog) + "\" answered");
            robot::Click(dialog, 1);
            pressed.insert(dialog);
        }
    }
    GetExitCodeProcess(process.hProcess, &outcome.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

void DisableCrashDialog()
{
    HKEY debugger;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineDbg", 0, nullptr, 0, KEY_SET_VALUE,
                    nullptr, &debugger, nullptr);
    DWORD no = 0;
    RegSetValueExA(debugger, "ShowCrashDialog", 0, REG_DWORD, (const BYTE *)&no, sizeof no);
    RegCloseKey(debugger);
}

// Runs the package as the file NAME.exe in a directory of its own and records what happened.
// The work directory is removed afterwards, so that each case starts without one.
Outcome RunCase(const std::string &name, const std::string &bytes, DWORD timeout = caseTimeout)
{
    Outcome outcome;
    outcome.name = name;
    std::string directory = ScratchDirectory("hostile-case");
    std::string path = directory + "case.exe";
    WriteFileBytes(path, bytes);
    RegDeleteKeyA(HKEY_CURRENT_USER, installedKey);
    RemoveTree(sweepWork);
    CreateDirectoryA(sweepTemp, nullptr);
    Surroundings before = Snapshot(directory);

    PROCESS_INFORMATION process = StartStub(path, directory);
    if (process.hProcess)
        AnswerUntilExit(process, outcome, timeout);

    outcome.installed = Installed();
    if (outcome.shown.empty())
        outcome.shown = outcome.installed ? "installed"
                        : outcome.workSeen ? "silent end, nothing installed"
                                           : "no package";
    else if (outcome.installed)
        outcome.shown += "; installed";
    for (const std::string &left : Tree(sweepWork))
        outcome.kept.push_back(left);
    if (DirectoryExists(sweepWork) && outcome.kept.empty())
        outcome.kept.push_back("(empty directory)");
    Surroundings after = Snapshot(directory);
    for (auto *added : {&after.root, &after.temp, &after.own}) {
        const std::set<std::string> &old = added == &after.root   ? before.root
                                           : added == &after.temp ? before.temp
                                                                  : before.own;
        const char *where = added == &after.root ? "C:\\" : added == &after.temp ? sweepTemp : "own dir\\";
        for (const std::string &name : Added(old, *added, where))
            outcome.outside.push_back(name);
    }
    RemoveTree(sweepWork);
    for (const std::string &name : Added(before.root, after.root, ""))
        DeleteFileA(("C:\\" + name).c_str());
    return outcome;
}

// The outcome holds: a defined end, nothing written outside, and a work directory left only
// by a failure that reported itself.
void ExpectSound(const Outcome &outcome)
{
    SCOPED_TRACE(outcome.name);
    EXPECT_FALSE(outcome.timedOut) << "no end within the time-out";
    EXPECT_LT(outcome.exitCode, 0xC0000000u) << "crashed: " << std::hex << outcome.exitCode;
    EXPECT_TRUE(outcome.outside.empty()) << "written outside: " << outcome.outside.front();
    if (!outcome.kept.empty())
        EXPECT_FALSE(outcome.installed || outcome.shown == "no package" ||
                     outcome.shown == "silent end, nothing installed")
            << "work directory left by a run that reported nothing: " << outcome.kept.front();
}

std::vector<Outcome> &Table()
{
    static std::vector<Outcome> table;
    return table;
}

void Record(const Outcome &outcome)
{
    ExpectSound(outcome);
    Table().push_back(outcome);
}

std::string Joined(const std::vector<std::string> &names)
{
    std::string out;
    for (const std::string &name : names)
        out += (out.empty() ? "" : ", ") + Printable(name);
    return out.empty() ? "none" : out;
}

std::string Hex(DWORD value)
{
    char text[16];
    sprintf(text, value < 0x10000 ? "%lu" : "0x%08lX", (unsigned long)value);
    return text;
}

// Written once the sweep's cases have run, whatever their result.
class TableWriter : public testing::Environment {
public:
    void TearDown() override
    {
        if (Table().empty())
            return;
        std::string out =
            "| case | outcome | exit code | left in the work directory | written outside |\n"
            "| --- | --- | --- | --- | --- |\n";
        for (const Outcome &o : Table())
            out += "| " + Printable(o.name) + " | " + (o.timedOut ? "TIMED OUT; " : "") +
                   Printable(o.shown) + " | " + Hex(o.exitCode) + " | " + Joined(o.kept) + " | " +
                   Joined(o.outside) + " |\n";
        WriteFileBytes(WindowsPathFromEnvironment("QUARVEL_OUTPUT") + "\\ROBUSTNESS.md", out);
    }
};
const testing::Environment *const tableWriter = testing::AddGlobalTestEnvironment(new TableWriter);

class Hostile : public testing::Test {
protected:
    static void SetUpTestSuite() { DisableCrashDialog(); }
};

TEST_F(Hostile, AWellFormedPackageInstallsAndLeavesNothing)
{
    Outcome outcome = RunCase("well-formed package", Package(GoodCabinet()));
    Record(outcome);
    EXPECT_EQ(outcome.shown, "installed");
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_TRUE(outcome.kept.empty());
}

TEST_F(Hostile, TruncationAtEveryBlockBoundary)
{
    Texts texts;
    texts.info = "info";
    texts.licence = "";  // a licence would need the licence dialog: the sweep stays silent
    std::string whole = Package(GoodCabinet(), texts);
    uint32_t textsEnd = textOffset + (uint32_t)(texts.title.size() + texts.infName.size() +
                                                texts.info.size());
    struct Boundary {
        const char *name;
        uint32_t at;
    } boundaries[] = {
        {"end of the stub", packageOffset},
        {"end of the library slot", headerOffset},
        {"end of the magic", headerOffset + magicLength},
        {"end of the header", textOffset},
        {"end of the title", textOffset + (uint32_t)texts.title.size()},
        {"end of the INF name", textOffset + (uint32_t)(texts.title.size() + texts.infName.size())},
        {"end of the texts", textsEnd},
        {"end of the cabinet header", textsEnd + 36},
        {"end of the file records", textsEnd + 36 + 8 + 2 * (16 + 12)},  // two names of 11
        {"end of the file", (uint32_t)whole.size()},
    };
    std::set<uint32_t> tried;
    for (const Boundary &boundary : boundaries)
        for (int delta = -1; delta <= 1; delta++) {
            uint32_t length = boundary.at + delta;
            if (length > whole.size() || !tried.insert(length).second)
                continue;
            std::string name = "truncated at " + std::string(boundary.name) +
                               (delta < 0 ? " - 1" : delta > 0 ? " + 1" : "") + " (" +
                               std::to_string(length) + " bytes)";
            Outcome outcome = RunCase(name, whole.substr(0, length));
            Record(outcome);
            if (length < headerOffset + magicLength)
                EXPECT_EQ(outcome.shown, "no package") << name;
            else if (length < whole.size())
                EXPECT_NE(outcome.shown.find("corrompu"), std::string::npos) << name;
            else
                EXPECT_EQ(outcome.shown, "installed") << name;
        }
}

const uint32_t hostileValues[] = {0, 1, 255, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};

PackageHeader *editedHeader;
uint32_t editedValue;
uint32_t PackageHeader::*editedWord;
uint8_t PackageHeader::*editedByte;

TEST_F(Hostile, EveryHeaderLengthAndTheTotalSizeAtTheirLimits)
{
    std::string cabinet = GoodCabinet();
    Texts texts;
    texts.info = "info";
    struct {
        const char *name;
        uint8_t PackageHeader::*field;
    } bytes[] = {{"titleLength", &PackageHeader::titleLength},
                 {"infNameLength", &PackageHeader::infNameLength},
                 {"infoTextLength", &PackageHeader::infoTextLength}};
    struct {
        const char *name;
        uint32_t PackageHeader::*field;
    } words[] = {{"messageLength", &PackageHeader::messageLength},
                 {"licenceLength", &PackageHeader::licenceLength},
                 {"totalSize", &PackageHeader::totalSize}};
    for (auto &byte : bytes)
        for (uint32_t value : {0u, 1u, 255u}) {
            editedByte = byte.field;
            editedValue = value;
            Record(RunCase(std::string(byte.name) + " = " + std::to_string(value),
                       Package(cabinet, texts,
                               [](PackageHeader &h) { h.*editedByte = (uint8_t)editedValue; })));
        }
    for (auto &word : words)
        for (uint32_t value : hostileValues) {
            editedWord = word.field;
            editedValue = value;
            Outcome outcome = RunCase(std::string(word.name) + " = " + std::to_string(value),
                                  Package(cabinet, texts,
                                          [](PackageHeader &h) { h.*editedWord = editedValue; }));
            Record(outcome);
            if (value >= 0x80000000u)
                EXPECT_NE(outcome.shown.find("corrompu"), std::string::npos) << outcome.name;
        }
}

TEST_F(Hostile, WrongMagic)
{
    std::string whole = Package(GoodCabinet());
    for (const char *magic : {"KZR", "kzq", "KZ\0", "\0\0\0"}) {
        std::string bytes = whole;
        bytes.replace(headerOffset, magicLength, magic, magicLength);
        Outcome outcome = RunCase("magic \"" + Printable(std::string(magic, magicLength).c_str()) +
                                  "\"" + (magic[2] ? "" : " (NUL-ended)"),
                              bytes);
        Record(outcome);
        EXPECT_EQ(outcome.shown, "no package");
        EXPECT_EQ(outcome.exitCode, 0u);
        EXPECT_TRUE(outcome.kept.empty());
    }
}

TEST_F(Hostile, EveryBrokenCabinetAsThePayload)
{
    std::string directory = SharedDirectory() + "\\testdata\\cabs\\bad\\";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*.cab").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::string> names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    EXPECT_GE(names.size(), 40u);
    for (const std::string &name : names)
        Record(RunCase("bad/" + name, Package(ReadFileBytes(directory + name))));
}

TEST_F(Hostile, NamesThatWouldLeaveTheWorkDirectory)
{
    // Each hostile name comes after a harmless file, which is extracted first and stays.
    const char *hostileNames[] = {"..\\x",    "..\\..\\x", "C:\\x",        "\\x",
                                  "/x",       "C:x",       "payload.txt:x", "sub\\..\\..\\x",
                                  "...\\x",   ". .\\x"};
    for (const char *hostile : hostileNames) {
        std::string cabinet = StoredCabinet(
            {{"hostile.inf", sweepInf}, {"first.txt", "first\r\n"}, {hostile, "escaped\r\n"}});
        Outcome outcome = RunCase(std::string("cabinet name ") + hostile, Package(cabinet));
        Record(outcome);
        EXPECT_FALSE(outcome.installed) << hostile;
        EXPECT_FALSE(FileExists("C:\\x")) << hostile;
        EXPECT_FALSE(FileExists(std::string(sweepTemp) + "x")) << hostile;
        DeleteFileA("C:\\x");
    }
}

// ---- Planting and faults ----

std::string TestBin()
{
    return WindowsPathFromEnvironment("QUARVEL_TEST_BIN") + "\\";
}

const char slotMark[] = "C:\\quarvel-slot-library-loaded";
const char plantedMark[] = "C:\\quarvel-planted-program-ran";

TEST(Planting, ACabinetLibraryBesideTheInstallerIsNotLoaded)
{
    DeleteFileA(slotMark);
    std::string directory = ScratchDirectory("planted-library");
    std::string path = directory + "planted.exe";
    WriteFileBytes(path, Package(GoodCabinet()));
    ASSERT_TRUE(CopyFileA((TestBin() + "e2e_slot_library.dll").c_str(),
                          (directory + "Cabinet.dll").c_str(), FALSE));
    // Native first for the installer, as Windows searches: the installer's directory would
    // come first for a library loaded by its bare name.
    auto preferNative = [](const std::string &key) {
        HKEY overrides;
        bool made = RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                    nullptr, &overrides, nullptr) == ERROR_SUCCESS;
        RegSetValueExA(overrides, "cabinet", 0, REG_SZ, (const BYTE *)"native,builtin", 15);
        RegCloseKey(overrides);
        return made;
    };
    const std::string key = "Software\\Wine\\AppDefaults\\planted.exe\\DllOverrides";
    const std::string probeKey = "Software\\Wine\\AppDefaults\\probe.exe\\DllOverrides";
    ASSERT_TRUE(preferNative(key));
    ASSERT_TRUE(preferNative(probeKey));
    // The planted library is reachable: a probe program in the same directory, under the same
    // override, that loads "Cabinet.dll" by its bare name gets it, and it leaves its mark.
    std::string probe = directory + "probe.exe";
    ASSERT_TRUE(CopyFileA((TestBin() + "hostile_planted_program.exe").c_str(), probe.c_str(), FALSE));
    std::string probeLine = "probe.exe Cabinet.dll";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION probeProcess{};
    ASSERT_TRUE(CreateProcessA(probe.c_str(), &probeLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               directory.c_str(), &startup, &probeProcess));
    WaitForSingleObject(probeProcess.hProcess, 10000);
    CloseHandle(probeProcess.hProcess);
    CloseHandle(probeProcess.hThread);
    RegDeleteKeyA(HKEY_CURRENT_USER, probeKey.c_str());
    DeleteFileA(probe.c_str());
    ASSERT_TRUE(FileExists(slotMark)) << "the probe did not load the planted library";
    DeleteFileA(slotMark);
    RegDeleteKeyA(HKEY_CURRENT_USER, installedKey);

    Outcome outcome;
    PROCESS_INFORMATION process = StartStub(path, directory);
    AnswerUntilExit(process, outcome, caseTimeout);
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    EXPECT_EQ(outcome.shown, "");
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_TRUE(Installed());
    EXPECT_FALSE(FileExists(slotMark));
    DeleteFileA(slotMark);
}

TEST(Planting, ARundll32BesideTheInstallerIsNotStarted)
{
    DeleteFileA(plantedMark);
    std::string directory = ScratchDirectory("planted-program");
    std::string path = directory + "planted.exe";
    WriteFileBytes(path, Package(GoodCabinet()));
    ASSERT_TRUE(CopyFileA((TestBin() + "hostile_planted_program.exe").c_str(),
                          (directory + "rundll32.exe").c_str(), FALSE));
    // The planted program works: started by its bare name from its directory, it leaves its mark.
    std::string commandLine = "rundll32.exe";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION probe{};
    ASSERT_TRUE(CreateProcessA((directory + "rundll32.exe").c_str(), &commandLine[0], nullptr,
                               nullptr, FALSE, 0, nullptr, directory.c_str(), &startup, &probe));
    WaitForSingleObject(probe.hProcess, 10000);
    CloseHandle(probe.hProcess);
    CloseHandle(probe.hThread);
    ASSERT_TRUE(FileExists(plantedMark));
    DeleteFileA(plantedMark);

    RegDeleteKeyA(HKEY_CURRENT_USER, installedKey);
    Outcome outcome;
    PROCESS_INFORMATION process = StartStub(path, directory);
    AnswerUntilExit(process, outcome, caseTimeout);
    EXPECT_EQ(outcome.shown, "");
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_TRUE(Installed());
    EXPECT_FALSE(FileExists(plantedMark));
    DeleteFileA(plantedMark);
}

// The process ids of the children of a process that run the program of that name (the
// installer's console host and Wine's explorer are children too).
std::vector<DWORD> Children(DWORD parent, const char *program)
{
    std::vector<DWORD> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == parent && _stricmp(entry.szExeFile, program) == 0)
            children.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return children;
}

TEST(Faults, TheInfInstallerKilledDuringTheWaitEndsTheWaitNormally)
{
    std::string directory = ScratchDirectory("killed-installer");
    std::string path = directory + "killed.exe";
    // An INF that copies 40 MB keeps its installer busy long enough to be seen and killed.
    const char slowInf[] =
        "[Version]\r\nSignature=\"$CHICAGO$\"\r\n"
        "[DefaultInstall]\r\nCopyFiles=Slow.Files\r\n"
        "[DestinationDirs]\r\nDefaultDestDir=16422,\"Quarvel Hostile Killed\"\r\n"
        "[Slow.Files]\r\nbig.bin\r\n"
        "[SourceDisksNames]\r\n1=\"Quarvel\",,,\r\n[SourceDisksFiles]\r\nbig.bin=1\r\n";
    WriteFileBytes(path, Package(StoredCabinet({{"hostile.inf", slowInf},
                                                {"big.bin", std::string(40 << 20, 'b')}})));
    RegDeleteKeyA(HKEY_CURRENT_USER, installedKey);
    RemoveTree(sweepWork);
    PROCESS_INFORMATION process = StartStub(path, directory);
    bool killed = false;
    for (DWORD start = GetTickCount(); !killed && GetTickCount() - start < 20000;) {
        // On the setupx route Wine runs rundll32's 16-bit work in winevdm.exe.
        std::vector<DWORD> children = Children(process.dwProcessId, "rundll32.exe");
        for (DWORD other : Children(process.dwProcessId, "winevdm.exe"))
            children.push_back(other);
        for (DWORD child : children) {
            HANDLE installer = OpenProcess(PROCESS_TERMINATE, FALSE, child);
            killed = installer && TerminateProcess(installer, 1);
            if (installer)
                CloseHandle(installer);
        }
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
            break;
    }
    ASSERT_TRUE(killed) << "the installer's child was never seen";
    Outcome outcome;
    AnswerUntilExit(process, outcome, caseTimeout);
    EXPECT_EQ(outcome.shown, "");
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_FALSE(DirectoryExists(sweepWork));
}

TEST(Faults, AWorkDirectoryLeftByAnEarlierRun)
{
    // An earlier run's leftovers: a file of its own and a longer file under a name the
    // cabinet also holds. Extraction replaces the latter whole; the former stays, and with it
    // the directory.
    RemoveTree(sweepWork);
    CreateDirectoryA(sweepTemp, nullptr);
    CreateDirectoryA(sweepWork, nullptr);
    std::string work = std::string(sweepWork) + "\\";
    WriteFileBytes(work + "stale.txt", "from an earlier run");
    WriteFileBytes(work + "hostile.inf", std::string(sweepInf) + std::string(5000, ';'));
    std::string directory = ScratchDirectory("stale-work");
    std::string path = directory + "stale.exe";
    WriteFileBytes(path, Package(GoodCabinet()));
    RegDeleteKeyA(HKEY_CURRENT_USER, installedKey);
    Outcome outcome;
    PROCESS_INFORMATION process = StartStub(path, directory);
    AnswerUntilExit(process, outcome, caseTimeout);
    EXPECT_EQ(outcome.shown, "");
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_TRUE(Installed());
    EXPECT_EQ(Tree(sweepWork), std::set<std::string>{"stale.txt"});
    RemoveTree(sweepWork);
}

}  // namespace
