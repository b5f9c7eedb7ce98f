// The cabinet subsystem in process: the callbacks on real files, ExtractCabinet with Wine's
// cabinet.dll on cabinets inside package files, and the binding of the library.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "cabinet.h"
#include "controls.h"
#include "driver.h"
#include "scramble.h"
#include "stored_cabinet.h"
#include "test_support.h"

namespace {

std::string SharedCabinet(const std::string &relative)
{
    return ReadFileBytes(SharedDirectory() + "\\testdata\\cabs\\" + relative);
}

// A package file: filler, then the cabinet at OFFSET, XORed with the key of the file's size
// when scrambled (the offset grows until that key is not 0). Points the state at it.
void WritePackage(const std::string &path, const std::string &cabinet, bool scrambled,
                  uint32_t offset = 70001)
{
    while (scrambled && CabinetKey(offset + (uint32_t)cabinet.size()) == 0)
        offset++;
    uint8_t key = scrambled ? CabinetKey(offset + (uint32_t)cabinet.size()) : 0;
    std::string bytes(offset, 'P');
    for (char c : cabinet)
        bytes += (char)(c ^ key);
    WriteFileBytes(path, bytes);
    CopyText(state.packagePath, sizeof state.packagePath, path.c_str());
    state.cabinetOffset = offset;
    state.cabinetScrambled = scrambled;
    state.totalSize = (DWORD)bytes.size();
}

struct Outcome {
    bool succeeded;
    std::vector<std::string> recorded;  // extractedFiles up to extractedFileCount
    std::vector<std::string> progress;  // the names handed to the progress procedure
    size_t progressOnExistingFiles;     // of which the file existed at the call
    std::vector<ShownBox> boxes;
    std::string status;                 // the status control, "before" until changed
} outcome;

void RecordProgress(const char *name)
{
    outcome.progress.push_back(name);
    outcome.progressOnExistingFiles += FileExists(state.workDirectory + std::string(name));
}

// Starts bound, in a work directory of its own.
class Cabinet : public testing::Test {
protected:
    void SetUp() override
    {
        if (!state.workDirectory)
            AllocateBuffers();
        if (!state.cabinetLibraryLoaded) {
            GetSystemDirectoryA(state.systemDirectory, sizeof state.systemDirectory);
            BindCabinetLibrary();
        }
        ASSERT_EQ(state.cabinetLibraryLoaded, 1);
        UseWorkDirectory(ScratchDirectory("cabinet"), "work\\");
    }
    void UseWorkDirectory(const std::string &directory, const std::string &work)
    {
        directory_ = directory;
        work_ = directory + work;
        ASSERT_TRUE(CreateDirectoryA(work_.c_str(), nullptr)) << work_;
        CopyText(state.workDirectory, pathBufferSize, work_.c_str());
    }

    // OK for every box; a hung library shows as the program's time-out. No handle on the
    // package file may stay open: it opens for exclusive use afterwards.
    Outcome Extract(bool withProgress = true)
    {
        outcome = Outcome();
        MessageBoxAnswerer answerer(IDOK);
        HWND dialog = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 9, 9, 0, 0, 0, 0);
        HWND status = CreateWindowA("STATIC", "before", WS_CHILD, 0, 0, 9, 9, dialog,
                                    (HMENU)IDC_STATUS, 0, 0);
        ExtractCabinet(dialog, withProgress ? RecordProgress : nullptr);
        char text[256] = "";
        GetWindowTextA(status, text, sizeof text);
        DestroyWindow(dialog);
        outcome.status = text;
        outcome.succeeded = state.extractionSucceeded != 0;
        for (DWORD i = 0; i < state.extractedFileCount; i++)
            outcome.recorded.push_back(state.extractedFiles[i]);
        outcome.boxes = answerer.Boxes();
        HANDLE exclusive = CreateFileA(state.packagePath, GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
        EXPECT_TRUE(exclusive != INVALID_HANDLE_VALUE || !FileExists(state.packagePath))
            << "a handle on the package file stayed open";
        CloseHandle(exclusive);
        return outcome;
    }
    Outcome Extract(const std::string &cabinet, bool scrambled = false, bool withProgress = true)
    {
        WritePackage(directory_ + "setup.exe", cabinet, scrambled);
        return Extract(withProgress);
    }

    // TEXT null: the library's own text, not restated here.
    void ExpectFailure(const Outcome &run, const char *text)
    {
        EXPECT_FALSE(run.succeeded);
        ASSERT_EQ(run.boxes.size(), 1u);
        EXPECT_TRUE(!text || run.boxes[0].text == text) << run.boxes[0].text;
        EXPECT_EQ(run.boxes[0].caption, messages.dialog.extractionErrorCaption);
        EXPECT_EQ(run.boxes[0].style, (UINT)MB_ICONHAND);
        EXPECT_EQ(run.status, messages.dialog.extractionError);
        EXPECT_EQ(NamesIn(directory_).size(), 2u) << "a file beside the package and work directory";
    }

    std::string directory_, work_;
};

TEST(CabinetHandles, AreHeldOnceAndFiveAtMost)
{
    ResetCabinetHandles();
    for (INT_PTR handle : {0x100, 0x100, 0x200, 0x300, 0x400, 0x500, 0x600})
        AddCabinetHandle(handle);
    EXPECT_FALSE(IsCabinetHandle(0x600)) << "a sixth handle was recorded";
    RemoveCabinetHandle(0x100);
    EXPECT_FALSE(IsCabinetHandle(0x100)) << "one handle took two slots";
    AddCabinetHandle(0x700);
    EXPECT_TRUE(IsCabinetHandle(0x700) && IsCabinetHandle(0x500)) << "a freed slot was not taken";
    ResetCabinetHandles();
    EXPECT_FALSE(IsCabinetHandle(0x200));
}

class Callbacks : public Cabinet, public testing::WithParamInterface<bool> {};

TEST_P(Callbacks, ACabinetHandleSeesTheCabinetAsAFileOfItsOwnAndEveryReadIsUnscrambled)
{
    std::string cabinet = SharedCabinet("good/normal_2files_1folder.cab");
    WritePackage(directory_ + "setup.exe", cabinet, GetParam());
    ResetCabinetHandles();
    INT_PTR handle = CabinetOpen(state.packagePath, 0x8000, 0);
    ASSERT_TRUE(IsCabinetHandle(handle));
    EXPECT_EQ(SetFilePointer((HANDLE)handle, 0, nullptr, FILE_CURRENT), state.cabinetOffset);
    const LONG size = (LONG)cabinet.size(), offset = (LONG)state.cabinetOffset;
    const LONG seeks[][3] = {  // distance, origin, the answer: -1 where a file would refuse
        {0, SEEK_SET, 0}, {-3, SEEK_END, size - 3}, {40, SEEK_SET, 40}, {10, SEEK_CUR, 50},
        {-offset - 10, SEEK_SET, -1}, {0x7FFFFFF0, SEEK_SET, -1},  // past 2 GiB with the offset
        {-100, SEEK_SET, -1}, {-size - 100, SEEK_END, -1},  // in front of the cabinet
        {0, SEEK_SET, 0}, {-100, SEEK_CUR, -1}, {50, SEEK_SET, 50}};
    for (const auto &seek : seeks)
        EXPECT_EQ(CabinetSeek(handle, seek[0], (int)seek[1]), seek[2]) << seek[0];
    char bytes[20];
    ASSERT_EQ(CabinetRead(handle, bytes, sizeof bytes), sizeof bytes);
    EXPECT_EQ(std::string(bytes, sizeof bytes), cabinet.substr(50, sizeof bytes));
    CabinetClose(handle);
    EXPECT_FALSE(IsCabinetHandle(handle));

    // Another spelling of the package's name is another file, seen from its first byte; read
    // whole in reads of every size modulo 4.
    std::string slashed = state.packagePath, whole(state.totalSize, '\0');
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    handle = CabinetOpen(&slashed[0], 0x8000, 0);
    EXPECT_FALSE(IsCabinetHandle(handle));
    for (UINT at = 0, count = 1; at < whole.size(); at += count, count = count * 3 % 5000 + 1)
        ASSERT_EQ(CabinetRead(handle, &whole[at], count), std::min<UINT>(count, whole.size() - at));
    EXPECT_EQ(whole.substr(state.cabinetOffset), cabinet);
    // A short read changes nothing beyond what it read.
    EXPECT_EQ(CabinetSeek(handle, -3, SEEK_END), (LONG)state.totalSize - 3);
    char buffer[8] = "ABCDEFG";
    ASSERT_EQ(CabinetRead(handle, buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(buffer, 7), cabinet.substr(cabinet.size() - 3) + "DEFG");
    CabinetClose(handle);
}

INSTANTIATE_TEST_SUITE_P(PlainAndScrambled, Callbacks, testing::Bool());

TEST_F(Cabinet, OpenMapsTheRuntimeFlagsAndSharesForReadingOnly)
{
    const struct {
        int flags;
        bool existsBefore, opens, reads, writes;
        DWORD sizeAfterOpen;
    } rows[] = {
        {0x8000, true, true, true, false, 6},    // read only, the file as it is
        {0x8000, false, false, false, false, 0}, // read only needs the file
        {0x8001, true, true, false, true, 6},    // write only keeps the contents
        {0x8002, true, true, true, true, 6},     // read and write
        {0x8003, true, true, false, true, 6},    // write only wins over read and write
        {0x8121, true, true, false, true, 0},    // an extracted file: created anew, write only
        {0x8121, false, true, false, true, 0},   // an extracted file that is new
        {0x0201, true, true, false, true, 0},    // truncate
        {0x0201, false, false, false, false, 0}, // truncate needs the file
        {0x0301, false, true, false, true, 0},   // create wins over truncate
        {0x0418, true, true, true, false, 6},    // append, exclusive, random access: no change
    };
    std::string path = directory_ + "file";
    for (const auto &row : rows) {
        SCOPED_TRACE(row.flags);
        DeleteFileA(path.c_str());
        if (row.existsBefore)
            WriteFileBytes(path, "before");
        INT_PTR handle = CabinetOpen(&path[0], row.flags, 0);
        ASSERT_EQ(handle != -1, row.opens);
        EXPECT_EQ(FileExists(path), row.opens);
        if (handle == -1)
            continue;
        EXPECT_EQ(GetFileSize((HANDLE)handle, nullptr), row.sizeAfterOpen);
        char byte = 'x';
        DWORD count = 0;
        EXPECT_EQ(ReadFile((HANDLE)handle, &byte, 1, &count, nullptr) != 0, row.reads);
        EXPECT_EQ(CabinetWrite(handle, &byte, 1), row.writes ? 1u : 0u);
        HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, 3, 0, OPEN_EXISTING, 0, 0);
        HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, 3, 0, OPEN_EXISTING, 0, 0);
        EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "not shared for reading";
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "shared for writing";
        CloseHandle(reader);
        CloseHandle(writer);
        CabinetClose(handle);
    }
}

// Each plain and scrambled. Whatever the library makes of a malformed one, the run ends with one
// report and writes nothing outside the work directory; the malformed corpus is the fuzzer's.
const struct RealCabinet {
    const char *path;
    bool extracts;
} realCabinets[] = {
    {"good/normal_2files_2folders.cab", true},  // MSZIP and LZX folders: seeks between them
    {"good/pycab-large.cab", true},             // 1 MiB in many stored blocks: reads across ends
    {"good/reserve_HFD.cab", true},             // header, folder and data reserves: skipped
    {"bad/bad_signature.cab", false},                      // no cabinet header
    {"bad/partial_nodata.cab", false},                     // the data ends early
    {"bad/hidden-file-beyond-eof.cab", false},             // a file past the end
    {"bad/cve-2010-2800-mszip-infinite-loop.cab", false},  // data that loops old decoders
    {"bad/dirwalk-vulns.cab", false},                      // "/absolute/path" as the first name
    {"good/spanning/split/split-1.cab", false},  // a folder that goes on in the next cabinet
};

class RealCabinets : public Cabinet,
                     public testing::WithParamInterface<std::tuple<RealCabinet, bool>> {};

TEST_P(RealCabinets, ComeOutAsFromTheCabinetAloneOrAreReported)
{
    const RealCabinet &cabinet = std::get<0>(GetParam());
    std::string bytes = SharedCabinet(cabinet.path);
    Outcome run = Extract(bytes, std::get<1>(GetParam()));
    if (!cabinet.extracts)
        return ExpectFailure(run, nullptr);
    EXPECT_TRUE(run.succeeded && run.boxes.empty() && run.status == "before");
    EXPECT_EQ(run.progressOnExistingFiles, 0u) << "a file was announced after it was made";
    ASSERT_EQ(run.recorded.size(), run.progress.size());
    std::vector<std::string> contents;
    for (size_t i = 0; i < run.progress.size(); i++) {
        EXPECT_EQ(run.recorded[i], work_ + run.progress[i]);
        contents.push_back(ReadFileBytes(work_ + run.progress[i]));
    }
    // The callbacks make the cabinet look like a file of its own: so it is here, plain, in
    // another work directory.
    UseWorkDirectory(ScratchDirectory("cabinet-alone"), "work\\");
    WritePackage(directory_ + "alone.cab", bytes, false, 0);
    Outcome alone = Extract();
    ASSERT_TRUE(alone.succeeded);
    ASSERT_EQ(alone.progress, run.progress);
    EXPECT_EQ(alone.recorded.size(), run.recorded.size()) << "the recorded list went on";
    for (size_t i = 0; i < run.progress.size(); i++)
        EXPECT_EQ(ReadFileBytes(work_ + run.progress[i]), contents[i]) << run.progress[i];
}

INSTANTIATE_TEST_SUITE_P(Shared, RealCabinets,
                         testing::Combine(testing::ValuesIn(realCabinets), testing::Bool()));

// The name rule itself is the format's; this shows extraction applies it before writing.
TEST_F(Cabinet, ANameThatWouldLeaveTheWorkDirectoryStopsTheCopy)
{
    Outcome run = Extract(StoredCabinet({{"..\\up.c", "escaped\n"}, {"later.c", "later\n"}}));
    ExpectFailure(run, nullptr);
    EXPECT_EQ(run.progress, std::vector<std::string>{"..\\up.c"});
    EXPECT_TRUE(run.recorded.empty());
}

// The target path may have as many characters as a path can: MAX_PATH less the NUL.
TEST_F(Cabinet, ATargetPathIsAsLongAsAPathMayBe)
{
    std::string name = std::string(160, 'n') + ".txt";
    for (size_t length : {MAX_PATH - 1, MAX_PATH}) {
        std::string directory = ScratchDirectory("cabinet-long-path");
        ASSERT_LT(directory.size() + name.size() + 1, length);
        UseWorkDirectory(directory, std::string(length - directory.size() - name.size() - 1, 'w') +
                                        "\\");
        Outcome run = Extract(StoredCabinet({{name, "a long name\n"}}));
        if (length == MAX_PATH)
            ExpectFailure(run, nullptr);
        EXPECT_EQ(run.recorded.size(), length == MAX_PATH ? 0u : 1u) << length;
    }
}

TEST_F(Cabinet, MoreThan255FilesAreAllExtractedAndTheFirst255Recorded)
{
    std::vector<StoredFile> files;
    for (int i = 1; i <= 300; i++)
        files.push_back({"many-" + std::to_string(i), std::string(i % 7 + 1, (char)('a' + i))});
    Outcome run = Extract(StoredCabinet(files), true);
    EXPECT_TRUE(run.succeeded);
    EXPECT_EQ(run.progress.size(), 300u);
    ASSERT_EQ(run.recorded.size(), 255u);
    EXPECT_EQ(run.recorded[254], work_ + "many-255");
    for (const StoredFile &file : files)
        EXPECT_EQ(ReadFileBytes(work_ + file.name), file.data) << file.name;
}

// Windows refuses to create over a read-only, hidden or system file (Wine as root would not).
TEST_F(Cabinet, AFileLeftByAnEarlierRunIsOverwrittenWhateverItsAttributes)
{
    std::string path = work_ + "kept.txt";
    for (DWORD attributes : {1, 2, 4}) {  // read-only, hidden, system
        WriteFileBytes(path, std::string(5000, 'o'));
        SetFileAttributesA(path.c_str(), attributes);
        EXPECT_TRUE(Extract(StoredCabinet({{"kept.txt", "new\n"}})).succeeded) << attributes;
        EXPECT_EQ(ReadFileBytes(path), "new\n") << attributes;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// Read-only, hidden, system and archive are kept, nothing else, and the stored local time is
// the creation and last-write time (Wine shows too little to tell these apart: Windows does).
// Read-only on a file of its own: Wine as an ordinary user cannot make it hidden and system.
TEST_F(Cabinet, FilesKeepTheirAttributesAndLocalTime)
{
    StoredFile hiddenSystem{"hs.txt", "hidden and system\n", 0x226C, 0x59BA, 0xFFFE};
    StoredFile readOnly{"ro.txt", "read-only\n", 0x226C, 0x59BA, 0x00D9};  // 1997-03-12 11:13:52
    ASSERT_TRUE(Extract(StoredCabinet({hiddenSystem, readOnly}), false, false).succeeded);
    for (const StoredFile &file : {hiddenSystem, readOnly}) {
        std::string path = work_ + file.name;
        EXPECT_EQ(GetFileAttributesA(path.c_str()) & ~0xA0u, file.attributes & 7u) << file.name;
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
        FILETIME times[3], local;
        ASSERT_TRUE(GetFileTime(handle, &times[0], &times[1], &times[2]));
        CloseHandle(handle);
        for (FILETIME *time : {&times[0], &times[2]}) {
            WORD date = 0, dosTime = 0;
            FileTimeToLocalFileTime(time, &local);
            FileTimeToDosDateTime(&local, &date, &dosTime);
            EXPECT_EQ(date, file.date) << file.name;
            EXPECT_EQ(dosTime, file.time) << file.name;
        }
    }
}

TEST_F(Cabinet, APackageWithoutItsCabinetIsReported)
{
    WritePackage(directory_ + "setup.exe", SharedCabinet("good/pycab-simple.cab"), false);
    state.cabinetOffset++;
    ExpectFailure(Extract(), messages.dialog.unknownCompression);
    CopyText(state.packagePath, sizeof state.packagePath, (directory_ + "gone.exe").c_str());
    ExpectFailure(Extract(), messages.dialog.cannotOpenFile);
}

// Entry points of the test's own, for what Wine's library does not show.
HFDI DIAMONDAPI CreateNoContext(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK,
                                int, PERF)
{
    return nullptr;
}
int destroyCalls;
BOOL DIAMONDAPI CountDestroy(HFDI) { return ++destroyCalls; }  // the real context is let go

// A context is destroyed once when made, never when not; the recorded list starts afresh.
TEST_F(Cabinet, AContextIsDestroyedOnceAndOneThatCannotBeMadeIsReported)
{
    CabinetLibrary saved = cabinetLibrary;
    cabinetLibrary.entryPoints[fdiDestroy] = (FARPROC)(void (*)(void))CountDestroy;
    destroyCalls = 0;
    EXPECT_TRUE(Extract(SharedCabinet("good/pycab-simple.cab")).succeeded);
    EXPECT_EQ(destroyCalls, 1);
    cabinetLibrary.entryPoints[fdiCreate] = (FARPROC)(void (*)(void))CreateNoContext;
    state.extractedFileCount = 7;  // left from an earlier run
    ExpectFailure(Extract(), messages.dialog.extractionError);
    EXPECT_EQ(state.extractedFileCount, 0);
    EXPECT_EQ(destroyCalls, 1);
    cabinetLibrary = saved;
}

TEST(CabinetNotify, NotificationsWithoutAFileLetTheCopyGoOnOrStopItForACabinetSet)
{
    FDINOTIFICATION notification = {};
    EXPECT_EQ(CabinetNotify(fdintCABINET_INFO, &notification), 0);
    EXPECT_EQ(CabinetNotify(fdintENUMERATE, &notification), 0);
    EXPECT_EQ(CabinetNotify(fdintPARTIAL_FILE, &notification), -1);
    EXPECT_EQ(CabinetNotify(fdintNEXT_CABINET, &notification), -1);
}

// Binds anew, then again from nowhere: the second call changes nothing, and the error mode is
// left as it was.
TEST(Binding, BindsOnceAndKeepsTheErrorMode)
{
    CabinetLibrary saved = cabinetLibrary;
    BYTE savedFlag = state.cabinetLibraryLoaded;
    UINT savedErrorMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    state.cabinetLibraryLoaded = 0;
    GetSystemDirectoryA(state.systemDirectory, sizeof state.systemDirectory);
    BindCabinetLibrary();
    EXPECT_EQ(state.cabinetLibraryLoaded, 1);
    EXPECT_EQ(GetErrorMode(), (UINT)SEM_FAILCRITICALERRORS);
    CabinetLibrary first = cabinetLibrary;
    CopyText(state.systemDirectory, sizeof state.systemDirectory, "C:\\no such directory");
    BindCabinetLibrary();
    EXPECT_EQ(state.cabinetLibraryLoaded, 1);
    EXPECT_EQ(memcmp(&cabinetLibrary, &first, sizeof first), 0);
    cabinetLibrary = saved;
    state.cabinetLibraryLoaded = savedFlag;
    SetErrorMode(savedErrorMode);
}

// Wine prefers its built-in cabinet.dll to any file of that name. Told to load one from disk
// first, for the probe alone, it searches as Windows does: a bare-name load would then pick up
// a library planted beside the program.
TEST(Binding, APlantedLibraryIsNotLoadedAndABoundOneIsLoadedQuietlyAndFreedAtTheEnd)
{
    std::string overrides = WineProgramKey("cabinet_binding_probe.exe") + "\\DllOverrides";
    ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, overrides, "cabinet", "native,builtin"));
    std::string directory = ScratchDirectory("cabinet-probe");
    std::string probe = directory + "cabinet_binding_probe.exe";
    std::string attached = directory + "Cabinet.dll.attached";
    ASSERT_TRUE(CopyFileA((TestProgramDirectory() + "cabinet_binding_probe.exe").c_str(),
                          probe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((TestProgramDirectory() + "cabinet_stand_in.dll").c_str(),
                          (directory + "Cabinet.dll").c_str(), FALSE));
    auto runProbe = [&](const std::string &arguments) {
        return RunToExit(probe.c_str(), "\"" + probe + "\" " + arguments, 60000);
    };
    EXPECT_EQ(runProbe("- bare"), 0u);
    EXPECT_TRUE(FileExists(attached)) << "planting does not work in this setup";
    DeleteFileA(attached.c_str());
    EXPECT_EQ(runProbe("- bind"), 2u) << "not bound to the system directory's copy";
    EXPECT_FALSE(FileExists(attached)) << "the planted library's DllMain ran";

    // As the system directory's copy, lacking FDIDestroy: not bound, yet loaded with no error
    // box of the platform's and freed by the exit action.
    EXPECT_EQ(runProbe("\"" + directory.substr(0, directory.size() - 1) + "\" bind"), 1u);
    std::string errorMode = ReadFileBytes(attached);
    EXPECT_TRUE(!errorMode.empty() && (std::stoul(errorMode) & SEM_NOOPENFILEERRORBOX));
    EXPECT_TRUE(FileExists(directory + "Cabinet.dll.freed"));
    RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str());
}

}  // namespace
