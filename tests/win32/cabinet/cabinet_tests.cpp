// The cabinet subsystem in process: the callbacks on real files, ExtractCabinet with Wine's
// cabinet.dll on cabinets inside package files, and the binding of the library.
#include <windows.h>

#include <gtest/gtest.h>

#include "cabinet.h"
#include "controls.h"
#include "driver.h"
#include "scramble.h"
#include "stored_cabinet.h"
#include "test_support.h"

namespace {

// A package file: filler, then the cabinet at OFFSET, XORed with the key of the file's size
// when scrambled (the offset grows until that key is not 0). Points the state at it.
void WritePackage(const std::string &path, const std::string &cabinet, bool scrambled,
                  uint32_t offset = 70001)
{
    while (scrambled && CabinetKey(offset + (uint32_t)cabinet.size()) == 0)
        offset++;
    std::string bytes = std::string(offset, 'P') + cabinet;
    for (size_t i = offset; scrambled && i < bytes.size(); i++)
        bytes[i] ^= CabinetKey((uint32_t)bytes.size());
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
    std::vector<ShownBox> boxes;
    std::string status;                 // the status control, "before" until changed
} outcome;

// Starts bound, in a work directory of its own.
class Cabinet : public testing::Test {
protected:
    void SetUp() override
    {
        AllocateBuffers();  // afresh: a fault may have written over the pointers
        GetSystemDirectoryA(state.systemDirectory, sizeof state.systemDirectory);
        BindCabinetLibrary();
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

    // OK for every box; the recorded list as an earlier run may leave it. No handle on the
    // package file may stay open: it opens for exclusive use afterwards.
    Outcome Extract()
    {
        outcome = Outcome();
        state.extractedFileCount = 7;
        MessageBoxAnswerer answerer(IDOK);
        HWND dialog = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 9, 9, 0, 0, 0, 0);
        HWND status = CreateWindowA("STATIC", "before", WS_CHILD, 0, 0, 9, 9, dialog,
                                    (HMENU)IDC_STATUS, 0, 0);
        ExtractCabinet(dialog, [](const char *name) { outcome.progress.push_back(name); });
        char text[256] = "";
        GetWindowTextA(status, text, sizeof text);
        DestroyWindow(dialog);
        outcome.status = text;
        outcome.succeeded = state.extractionSucceeded != 0;
        outcome.recorded.assign(state.extractedFiles,
                                state.extractedFiles + state.extractedFileCount);
        outcome.boxes = answerer.Boxes();
        HANDLE exclusive = CreateFileA(state.packagePath, GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
        EXPECT_TRUE((exclusive != INVALID_HANDLE_VALUE && CloseHandle(exclusive)) ||
                    !FileExists(state.packagePath)) << "a handle on the package file stayed open";
        return outcome;
    }
    Outcome Extract(const std::string &cabinet, bool scrambled = false)
    {
        WritePackage(directory_ + "setup.exe", cabinet, scrambled);
        return Extract();
    }

    // TEXT null: the library's own text, not restated here.
    void ExpectFailure(const Outcome &run, const char *text)
    {
        ASSERT_EQ(run.boxes.size(), 1u);
        EXPECT_TRUE(!run.succeeded && (!text || run.boxes[0].text == text)) << run.boxes[0].text;
        EXPECT_TRUE(run.boxes[0].caption == messages.dialog.extractionErrorCaption &&
                    run.boxes[0].style == MB_ICONHAND);
        EXPECT_EQ(run.status, messages.dialog.extractionError);
        EXPECT_EQ(NamesIn(directory_).size(), 2u) << "a file beside the package and work directory";
    }

    std::string directory_, work_;
};

class Callbacks : public Cabinet, public testing::WithParamInterface<bool> {};

TEST_P(Callbacks, ACabinetHandleSeesTheCabinetAsAFileOfItsOwnAndEveryReadIsUnscrambled)
{
    std::string cabinet = StoredCabinet({{"callbacks.txt", std::string(100, 'c')}});
    WritePackage(directory_ + "setup.exe", cabinet, GetParam());
    ResetCabinetHandles();
    INT_PTR handle = CabinetOpen(state.packagePath, 0x8000, 0);
    ASSERT_TRUE(IsCabinetHandle(handle));
    HANDLE writer = CreateFileA(state.packagePath, GENERIC_WRITE, 7, 0, OPEN_EXISTING, 0, 0);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "a file the library holds is shared for writing";
    CloseHandle(writer);
    const LONG size = (LONG)cabinet.size(), offset = (LONG)state.cabinetOffset;
    const LONG seeks[][3] = {  // distance, origin, the answer: -1 where a file would refuse
        {0, SEEK_CUR, 0}, {-3, SEEK_END, size - 3}, {40, SEEK_SET, 40}, {10, SEEK_CUR, 50},
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

    // Another spelling of the package's name is another file, seen from its first byte. A
    // short read unscrambles what it read, the tail of a read too, and nothing beyond.
    std::string spelling = directory_ + ".\\setup.exe";
    handle = CabinetOpen(&spelling[0], 0x8000, 0);
    EXPECT_FALSE(IsCabinetHandle(handle));
    EXPECT_EQ(CabinetSeek(handle, -3, SEEK_END), (LONG)state.totalSize - 3);
    char buffer[8] = "ABCDEFG";
    ASSERT_EQ(CabinetRead(handle, buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(buffer, 7), cabinet.substr(cabinet.size() - 3) + "DEFG");
    CabinetClose(handle);
}

INSTANTIATE_TEST_SUITE_P(PlainAndScrambled, Callbacks, testing::Bool());

// Each plain and scrambled; the library checks the data. Whatever it makes of a malformed one,
// the run ends with one report and writes nothing outside the work directory. A cabinet of a
// set is CabinetNotify's: there a fault cannot keep the library asking for the next cabinet.
const struct RealCabinet { const char *path; bool extracts; } realCabinets[] = {
    {"good/normal_2files_2folders.cab", true},  // MSZIP and LZX folders: seeks between them
    {"good/pycab-large.cab", true},             // 1 MiB in many stored blocks: reads across ends
    {"good/reserve_HFD.cab", true},             // header, folder and data reserves: skipped
    {"bad/bad_signature.cab", false},           // no cabinet header
    {"bad/partial_nodata.cab", false},          // the data ends early
    {"bad/dirwalk-vulns.cab", false},           // "/absolute/path" as the first name
};

class RealCabinets : public Cabinet,
                     public testing::WithParamInterface<std::tuple<RealCabinet, bool>> {};

TEST_P(RealCabinets, AreExtractedOrReported)
{
    const RealCabinet &cabinet = std::get<0>(GetParam());
    Outcome run = Extract(ReadFileBytes(WindowsPathFromEnvironment("QUARVEL_SHARED") +
                                        "/testdata/cabs/" + cabinet.path),
                          std::get<1>(GetParam()));
    if (!cabinet.extracts)
        return ExpectFailure(run, nullptr);
    EXPECT_TRUE(run.succeeded && run.boxes.empty() && run.status == "before");
    ASSERT_EQ(run.recorded.size(), run.progress.size());
    for (size_t i = 0; i < run.progress.size(); i++)
        EXPECT_TRUE(run.recorded[i] == work_ + run.progress[i] && FileExists(run.recorded[i]));
}

INSTANTIATE_TEST_SUITE_P(Shared, RealCabinets,
                         testing::Combine(testing::ValuesIn(realCabinets), testing::Bool()));

// Files replace those an earlier run left with their attributes: Windows refuses to create over
// a read-only, hidden or system file. Read-only, hidden, system and archive are kept, and the
// stored local time (1997-03-12 11:13:52) is the creation and last-write time; read-only on a
// file of its own, as Wine as an ordinary user cannot make one hidden and system. One file more
// than the list holds, the last, is written, not recorded: past the list, a wrapped count.
TEST_F(Cabinet, FilesReplaceAnEarlierRunsKeepTheirAttributesAndTimeAndAsManyAreRecordedAsFit)
{
    std::vector<StoredFile> files = {{"hs.txt", "hidden and system\n", 0x226C, 0x59BA, 0xFFFE},
                                     {"ro.txt", "read-only\n", 0x226C, 0x59BA, 0x00D9}};
    for (const StoredFile &file : files) {
        WriteFileBytes(work_ + file.name, std::string(5000, 'o'));
        SetFileAttributesA((work_ + file.name).c_str(), file.attributes & 7u);
    }
    for (uint32_t i = 3; i <= maxRecordedFiles + 1; i++)
        files.push_back({"many-" + std::to_string(i), std::string(i % 7 + 1, (char)('a' + i))});
    Outcome run = Extract(StoredCabinet(files), true);
    EXPECT_TRUE(run.succeeded);
    ASSERT_EQ(run.recorded.size(), maxRecordedFiles);
    EXPECT_EQ(run.recorded.back(), work_ + files[maxRecordedFiles - 1].name);
    for (const StoredFile &file : files)
        EXPECT_EQ(ReadFileBytes(work_ + file.name), file.data) << file.name;
    for (size_t i = 0; i < 2; i++) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(run.recorded[i].c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(data.dwFileAttributes & ~0xA0u, files[i].attributes & 7u) << files[i].name;
        for (FILETIME time : {data.ftCreationTime, data.ftLastWriteTime}) {
            FILETIME local;
            WORD date = 0, dosTime = 0;
            FileTimeToLocalFileTime(&time, &local);
            FileTimeToDosDateTime(&local, &date, &dosTime);
            EXPECT_EQ(MAKELONG(dosTime, date), MAKELONG(files[i].time, files[i].date));
        }
    }
}

int destroyCalls;
BOOL DIAMONDAPI CountDestroy(HFDI) { return ++destroyCalls; }  // the real context is let go

// Each failure has one report of its own. The copy applies the format's name rule before writing;
// a target path may have MAX_PATH - 1 characters. A context made is destroyed once.
TEST_F(Cabinet, FailuresAreReportedOnceAndStopTheCopy)
{
    ExpectFailure(Extract(StoredCabinet({{"..\\up.c", "escaped\n"}, {"later.c", "later\n"}})),
                  nullptr);
    std::string name = std::string(160, 'n') + ".txt";
    for (size_t length : {MAX_PATH - 1, MAX_PATH}) {
        std::string directory = ScratchDirectory("cabinet-long-path");
        UseWorkDirectory(directory, std::string(length - directory.size() - name.size() - 1, 'w') +
                                        "\\");
        Outcome run = Extract(StoredCabinet({{name, "a long name\n"}}));
        if (length == MAX_PATH)
            ExpectFailure(run, nullptr);
        EXPECT_EQ(run.recorded.size(), length == MAX_PATH ? 0u : 1u) << length;
    }
    CabinetLibrary saved = cabinetLibrary;
    cabinetLibrary.entryPoints[fdiDestroy] = (FARPROC)(void (*)(void))CountDestroy;
    destroyCalls = 0;
    WritePackage(directory_ + "setup.exe", StoredCabinet({{"a.txt", "a\n"}}), false);
    state.cabinetOffset++;  // not where the cabinet is
    ExpectFailure(Extract(), messages.dialog.unknownCompression);
    CopyText(state.packagePath, sizeof state.packagePath, (directory_ + "gone.exe").c_str());
    ExpectFailure(Extract(), messages.dialog.cannotOpenFile);
    EXPECT_EQ(destroyCalls, 2);
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

// Wine prefers its built-in cabinet.dll to any file of that name. Told to load one from disk
// first, for the probe alone, it searches as Windows does: a bare-name load would then pick up
// a library planted beside the program.
TEST(Binding, APlantedLibraryIsNotLoadedAndABoundOneIsLoadedQuietlyAndFreedAtTheEnd)
{
    std::string overrides = WineProgramKey("cabinet_binding_probe.exe") + "\\DllOverrides";
    ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, overrides, "cabinet", "native,builtin"));
    std::string from = TestProgramDirectory(), directory = ScratchDirectory("cabinet-probe");
    std::string probe = "cabinet_binding_probe.exe", planted = directory + "Cabinet.dll";
    ASSERT_TRUE(CopyFileA((from + probe).c_str(), (directory + probe).c_str(), FALSE) &&
                CopyFileA((from + "cabinet_stand_in.dll").c_str(), planted.c_str(), FALSE));
    auto runProbe = [&](const std::string &argument) {
        return RunToExit(0, "\"" + directory + probe + "\" \"" + argument + "\"", 60000);
    };
    EXPECT_EQ(runProbe("bare"), 0u);
    EXPECT_TRUE(DeleteFileA((planted + ".attached").c_str())) << "planting does not work here";
    EXPECT_EQ(runProbe(SystemDirectory()), 2u) << "not bound once to the system's copy";
    EXPECT_EQ(NamesIn(directory).size(), 2u) << "the planted library's DllMain ran";
    // As the system directory's copy, lacking FDIDestroy: not bound, yet loaded with no error
    // box of the platform's and freed by the exit action.
    EXPECT_EQ(runProbe(directory.substr(0, directory.size() - 1)), 1u);
    EXPECT_TRUE(FileExists(planted + ".quiet") && FileExists(planted + ".freed"));
    RegDeleteKeyA(HKEY_CURRENT_USER, overrides.c_str());
}

}  // namespace
