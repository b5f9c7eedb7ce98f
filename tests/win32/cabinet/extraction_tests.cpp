// ExtractCabinet with Wine's cabinet.dll on real cabinets embedded in package files: what
// comes out, how it is dated and recorded, and how every failure is reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "cabinet.h"
#include "cabinet_test_support.h"
#include "driver.h"
#include "stored_cabinet.h"

namespace {

constexpr uint32_t cabinetOffsetInTests = 70001;
const char *const statusAfterFailure = "Erreur d'extraction du fichier(s).";

class Extraction : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!state.workDirectory)
            AllocateBuffers();
        if (!state.cabinetLibraryLoaded) {
            GetSystemDirectoryA(state.systemDirectory, sizeof state.systemDirectory);
            BindCabinetLibrary();
        }
    }

    void SetUp() override
    {
        ASSERT_EQ(state.cabinetLibraryLoaded, 1);
        directory_ = CabinetScratchDirectory("extraction");
        UseWorkDirectory(directory_ + "work\\");
    }

    void UseWorkDirectory(const std::string &work)
    {
        work_ = work;
        ASSERT_TRUE(CreateDirectoryA(work_.c_str(), nullptr)) << work_;
        ASSERT_TRUE(CopyText(state.workDirectory, pathBufferSize, work_.c_str()));
    }

    ExtractionRun Extract(const std::string &cabinet, bool scrambled = false,
                          bool withProgress = true)
    {
        WritePackage(directory_ + "setup.exe", cabinet, cabinetOffsetInTests, scrambled);
        return ExtractPackage(withProgress);
    }

    ExtractionRun ExtractPackage(bool withProgress = true)
    {
        ExtractionRun run = RunExtraction(withProgress);
        EXPECT_TRUE(run.finished) << "ExtractCabinet did not return";
        // No handle on the package file is left open: it opens for exclusive use.
        HANDLE exclusive = CreateFileA(state.packagePath, GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        EXPECT_TRUE(exclusive != INVALID_HANDLE_VALUE || !FileExists(state.packagePath))
            << "a handle on the package file stayed open";
        CloseHandle(exclusive);
        return run;
    }

    // Every recorded file lies in the work directory under its stored name, in the order of
    // the cabinet's file table.
    void ExpectRecordedInTableOrder(const ExtractionRun &run, const std::string &cabinet)
    {
        std::vector<CabinetFile> files = ListCabinetFiles(cabinet);
        ASSERT_LE(run.recorded.size(), files.size());
        for (size_t i = 0; i < run.recorded.size(); i++) {
            EXPECT_EQ(run.recorded[i], work_ + files[i].name);
            EXPECT_TRUE(FileExists(run.recorded[i])) << run.recorded[i];
        }
    }

    // Every recorded file lies in the work directory under the name that the progress
    // procedure got for it: a file is finished before the next one starts.
    void ExpectRecordedAsAnnounced(const ExtractionRun &run)
    {
        ASSERT_LE(run.recorded.size(), run.progress.size());
        for (size_t i = 0; i < run.recorded.size(); i++) {
            EXPECT_EQ(run.recorded[i], work_ + run.progress[i]);
            EXPECT_TRUE(FileExists(run.recorded[i])) << run.recorded[i];
        }
    }

    // Nothing but the package and the work directory in the test's directory.
    void ExpectNothingOutsideTheWorkDirectory()
    {
        EXPECT_EQ(NamesIn(directory_), (std::set<std::string>{"setup.exe", "work"}));
    }

    void ExpectFailure(const ExtractionRun &run, const std::string &text)
    {
        EXPECT_FALSE(run.succeeded);
        ASSERT_EQ(run.boxes.size(), 1u);
        EXPECT_EQ(run.boxes[0].text, text);
        EXPECT_EQ(run.boxes[0].caption, "Erreur");
        EXPECT_EQ(run.boxes[0].style, (UINT)MB_ICONHAND);
        EXPECT_EQ(run.statusText, statusAfterFailure);
    }

    std::string directory_, work_;
};

// ---- Cabinets that extract -----------------------------------------------------------------

FILETIME ExpectedFileTime(uint16_t date, uint16_t time)
{
    SYSTEMTIME local = {};
    local.wYear = (WORD)(1980 + (date >> 9));
    local.wMonth = (WORD)(date >> 5 & 15);
    local.wDay = (WORD)(date & 31);
    local.wHour = (WORD)(time >> 11);
    local.wMinute = (WORD)(time >> 5 & 63);
    local.wSecond = (WORD)((time & 31) * 2);
    FILETIME localTime = {}, utc = {};
    if (SystemTimeToFileTime(&local, &localTime))
        LocalFileTimeToFileTime(&localTime, &utc);
    return utc;
}

bool ValidDosDate(uint16_t date, uint16_t time)
{
    FILETIME unused;
    return DosDateTimeToFileTime(date, time, &unused);
}

// Read-only, hidden, system and archive are kept; nothing else reaches the file. Wine shows
// every regular file as archived, so archive is checked only where the cabinet sets it.
void ExpectAttributes(const std::string &path, uint16_t attribs)
{
    DWORD shown = GetFileAttributesA(path.c_str());
    ASSERT_NE(shown, INVALID_FILE_ATTRIBUTES) << path;
    DWORD lowBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(shown & lowBits, attribs & lowBits) << path;
    if (attribs & FILE_ATTRIBUTE_ARCHIVE)
        EXPECT_TRUE(shown & FILE_ATTRIBUTE_ARCHIVE) << path;
    EXPECT_EQ(shown & ~(lowBits | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL), 0u) << path;
}

std::string CabinetTestName(const char *path, bool scrambled)
{
    std::string name = path;
    name = name.substr(name.rfind('/') + 1);
    name = name.substr(0, name.size() - 4);
    for (char &c : name)
        if (!isalnum((unsigned char)c))
            c = '_';
    return name + (scrambled ? "_scrambled" : "_plain");
}

// Test names from the cabinet's file name and the way it is stored.
template <typename Row>
std::string RowName(const testing::TestParamInfo<std::tuple<Row, bool>> &info)
{
    return CabinetTestName(std::get<0>(info.param).path, std::get<1>(info.param));
}

struct GoodCabinet {
    const char *path;
    const char *what;
};

// Cabinets that exercise the callbacks: stored, compressed, read in many blocks, with every
// reserve field; each also scrambled.
const GoodCabinet goodCabinets[] = {
    {"good/normal_2files_1folder.cab", "stored, two files of one folder"},
    {"good/normal_2files_2folders.cab", "MSZIP and LZX folders: seeks between them"},
    {"good/pycab-large.cab", "1 MiB in many stored blocks: reads across block ends"},
    {"good/reserve_HFD.cab", "header, folder and data block reserves: skipped by seeks"},
    {"good/gcab-test-signed.cab", "a signature behind the cabinet: never read"},
    {"good/test_read_format_cab_lzx_literal_control.cab", "an invalid DOS date: no date set"},
};

class GoodCabinets : public Extraction,
                     public testing::WithParamInterface<std::tuple<GoodCabinet, bool>> {};

TEST_P(GoodCabinets, ExtractEveryFileByteForByteWithItsTimeAndAttributes)
{
    const GoodCabinet &good = std::get<0>(GetParam());
    SCOPED_TRACE(good.what);
    std::string cabinet = SharedCabinet(good.path);
    ASSERT_FALSE(cabinet.empty());
    std::vector<CabinetFile> files = ListCabinetFiles(cabinet);
    std::vector<ExpectedMember> expected = ExpectedMembers(good.path);
    ASSERT_EQ(files.size(), expected.size());

    ExtractionRun run = Extract(cabinet, std::get<1>(GetParam()));
    ASSERT_TRUE(run.succeeded);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.statusText, "before");
    ASSERT_EQ(run.recorded.size(), files.size());
    ExpectRecordedInTableOrder(run, cabinet);
    ASSERT_EQ(run.progress.size(), files.size());
    EXPECT_EQ(run.progressOnExistingFiles, 0u);

    for (size_t i = 0; i < files.size(); i++) {
        const CabinetFile &file = files[i];
        SCOPED_TRACE(file.name);
        EXPECT_EQ(run.progress[i], file.name);
        std::string path = work_ + file.name;
        EXPECT_EQ(Md5Hex(ReadFileBytes(path)), expected[i].md5);
        ExpectAttributes(path, file.attribs);
        if (!ValidDosDate(file.date, file.time))
            continue;
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        FILETIME creation, access, write;
        ASSERT_TRUE(GetFileTime(handle, &creation, &access, &write));
        CloseHandle(handle);
        FILETIME want = ExpectedFileTime(file.date, file.time);
        EXPECT_EQ(CompareFileTime(&write, &want), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(SharedCabinets, GoodCabinets,
                         testing::Combine(testing::ValuesIn(goodCabinets), testing::Bool()),
                         RowName<GoodCabinet>);

// ---- Cabinets that fail ---------------------------------------------------------------------

const char *const userAbort = "user abort";
const char *const notACabinet = "Type de compression inconnu";

// A few malformed cabinets, scrambled: whatever the library makes of them, the run ends with
// one report and writes nothing outside the work directory. The whole malformed corpus runs
// through the fuzzer and `quarvel extract`.
const char *const malformedCabinets[] = {
    "bad/bad_signature.cab",                       // no cabinet header
    "bad/partial_nodata.cab",                      // the data ends early
    "bad/hidden-file-beyond-eof.cab",              // a file past the end
    "bad/cve-2010-2800-mszip-infinite-loop.cab",   // compressed data that loops old decoders
    "bad/dirwalk-vulns.cab",                       // "/absolute/path" as the first name
    "good/spanning/split/split-1.cab",             // a folder that goes on in the next cabinet
};

class MalformedCabinets : public Extraction,
                          public testing::WithParamInterface<const char *> {};

TEST_P(MalformedCabinets, EndWithOneReportAndNothingOutsideTheWorkDirectory)
{
    std::string cabinet = SharedCabinet(GetParam());
    ASSERT_FALSE(cabinet.empty());
    ExtractionRun run = Extract(cabinet, true);
    ASSERT_TRUE(run.finished);
    EXPECT_FALSE(run.succeeded);
    EXPECT_EQ(run.boxes.size(), 1u);
    ExpectRecordedAsAnnounced(run);
    ExpectNothingOutsideTheWorkDirectory();
}

INSTANTIATE_TEST_SUITE_P(Malformed, MalformedCabinets, testing::ValuesIn(malformedCabinets),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return CabinetTestName(info.param, true);
                         });

// ---- Names and paths -------------------------------------------------------------------------

// Names that would leave the work directory, each put in place of "hello.c" (seven bytes) as
// the first file of a real cabinet.
const char *const escapingNames[] = {
    // The name rule itself is tested with the format; these show extraction applies it.
    "..\\up.c", "C:\\up.c", "/hell.c",
};

TEST_F(Extraction, NamesThatWouldLeaveTheWorkDirectoryAreRefused)
{
    // Deep enough that ".." from the work directory lands in a directory of the test's own.
    for (const char *name : escapingNames) {
        SCOPED_TRACE(name);
        directory_ = CabinetScratchDirectory("escaping") + "package\\";
        CreateDirectoryA(directory_.c_str(), nullptr);
        UseWorkDirectory(directory_ + "work\\");
        std::string cabinet = SharedCabinet("good/normal_2files_1folder.cab");
        RenameStoredFile(cabinet, "hello.c", name);
        ExtractionRun run = Extract(cabinet);
        ExpectFailure(run, userAbort);
        ASSERT_EQ(run.progress.size(), 1u);
        EXPECT_EQ(run.progress[0], name);
        EXPECT_TRUE(run.recorded.empty());
        ExpectNothingOutsideTheWorkDirectory();
        std::string parent = directory_.substr(0, directory_.size() - 8);  // "package\"
        EXPECT_FALSE(FileExists(parent + "up.c"));
        EXPECT_FALSE(FileExists(parent + "u.c"));
        EXPECT_FALSE(FileExists(parent + ".c"));
        EXPECT_FALSE(FileExists("C:\\up.c"));
        EXPECT_FALSE(FileExists("C:\\up.cc"));
        EXPECT_FALSE(FileExists("C:\\hell.c"));
    }
}

// The target path may have as many characters as a path can: MAX_PATH less the NUL.
TEST_F(Extraction, ATargetPathIsAsLongAsAPathMayBe)
{
    std::string name = std::string(176, 'n') + ".txt";
    std::string cabinet = StoredCabinet({{name, "a long name\n"}});
    for (size_t length : {MAX_PATH - 1, MAX_PATH}) {
        SCOPED_TRACE(length);
        directory_ = CabinetScratchDirectory("long-paths");
        ASSERT_LT(directory_.size() + name.size() + 1, length);
        size_t padding = length - name.size() - directory_.size() - 1;
        UseWorkDirectory(directory_ + std::string(padding, 'w') + "\\");
        ASSERT_EQ(work_.size() + name.size(), length);
        ExtractionRun run = Extract(cabinet);
        if (length < MAX_PATH) {
            EXPECT_TRUE(run.succeeded);
            ASSERT_EQ(run.recorded.size(), 1u);
            EXPECT_EQ(ReadFileBytes(run.recorded[0]), "a long name\n");
        } else {
            ExpectFailure(run, userAbort);
            EXPECT_TRUE(run.recorded.empty());
        }
    }
}

TEST_F(Extraction, ANameWithAFolderPartCreatesNoFolder)
{
    ExtractionRun run = Extract(SharedCabinet("good/dir.cab"));
    ExpectFailure(run, userAbort);
    EXPECT_EQ(run.recorded, (std::vector<std::string>{work_ + "plain.c"}));
    EXPECT_FALSE(DirectoryExists(work_ + "1"));
}

// ---- What the run records --------------------------------------------------------------------

TEST_F(Extraction, MoreThan255FilesAreAllExtractedAndTheFirst255Recorded)
{
    std::vector<StoredFile> files;
    for (int i = 1; i <= 300; i++) {
        char name[16];
        snprintf(name, sizeof name, "many-%03d.txt", i);
        files.push_back({name, std::string(i % 7 + 1, (char)('a' + i % 26))});
    }
    std::string cabinet = StoredCabinet(files);
    ExtractionRun run = Extract(cabinet, true);
    EXPECT_TRUE(run.succeeded);
    EXPECT_EQ(run.recorded.size(), 255u);
    EXPECT_EQ(state.extractedFileCount, 255);
    ExpectRecordedInTableOrder(run, cabinet);
    EXPECT_EQ(run.progress.size(), 300u);
    for (const StoredFile &file : files)
        EXPECT_EQ(ReadFileBytes(work_ + file.name), file.data) << file.name;

    // The next run starts its list afresh.
    run = Extract(SharedCabinet("good/case-ascii.cab"));
    EXPECT_EQ(state.extractedFileCount, 0);
    EXPECT_TRUE(run.recorded.empty());
}

TEST_F(Extraction, ACabinetWithoutFilesSucceedsWithNoProgress)
{
    std::string cabinet = SharedCabinet("good/gcab-test-none.cab");
    cabinet[28] = cabinet[29] = 0;  // cFiles: the folder stays, no file uses it
    ExtractionRun run = Extract(cabinet);
    EXPECT_TRUE(run.succeeded);
    EXPECT_TRUE(run.recorded.empty());
    EXPECT_TRUE(run.progress.empty());
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.statusText, "before");
}

// A file left by an earlier run, with the attributes it may have been stored with: Windows
// refuses to create over a read-only, hidden or system file (Wine as root would not).
TEST_F(Extraction, AnExistingFileIsOverwrittenWhateverItsAttributes)
{
    for (DWORD attributes : {DWORD(FILE_ATTRIBUTE_NORMAL), DWORD(FILE_ATTRIBUTE_READONLY),
                             DWORD(FILE_ATTRIBUTE_HIDDEN), DWORD(FILE_ATTRIBUTE_SYSTEM),
                             DWORD(0x27)}) {
        SCOPED_TRACE(attributes);
        WriteFileBytes(work_ + "hello.c", std::string(5000, 'o'));
        SetFileAttributesA((work_ + "hello.c").c_str(), attributes);
        ExtractionRun run = Extract(SharedCabinet("good/normal_2files_1folder.cab"));
        EXPECT_TRUE(run.succeeded);
        EXPECT_EQ(Md5Hex(ReadFileBytes(work_ + "hello.c")),
                  ExpectedMembers("good/normal_2files_1folder.cab").at(0).md5);
        SetFileAttributesA((work_ + "hello.c").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(Extraction, ProgressNamesEachFileAsStoredBeforeItExists)
{
    ExtractionRun run = Extract(SharedCabinet("good/mszip_lzx_qtm.cab"));
    EXPECT_EQ(run.progress, (std::vector<std::string>{"mszip.txt", "lzx.txt", "qtm.txt"}));
    EXPECT_EQ(run.progressOnExistingFiles, 0u);
    // Without a progress procedure the files come out all the same.
    run = Extract(SharedCabinet("good/mszip_lzx_qtm.cab"), false, false);
    EXPECT_TRUE(run.succeeded);
    EXPECT_EQ(run.recorded.size(), 3u);
}

// Wine keeps no attribute beyond these four, so the dropped bits show only on Windows.
TEST_F(Extraction, ReadOnlyHiddenAndSystemAreKeptAndOtherBitsDropped)
{
    std::string cabinet = SharedCabinet("good/normal_2files_1folder.cab");
    // Read-only on a file of its own: Wine, run as an ordinary user, cannot record hidden and
    // system on a file it has just made read-only.
    SetStoredAttributes(cabinet, 0, 0xFFFE);
    SetStoredAttributes(cabinet, 1, 0x00D9);  // read-only, directory, exec, UTF-8 name, volume
    ExtractionRun run = Extract(cabinet);
    EXPECT_TRUE(run.succeeded);
    ExpectAttributes(work_ + "hello.c", 0x26);
    ExpectAttributes(work_ + "welcome.c", 0x01);
}

// Wine shows the last-write time as the creation time too, so only Windows tells them apart.
TEST_F(Extraction, FilesCarryTheCabinetsLocalTimeAsCreationAndLastWriteTime)
{
    ExtractionRun run = Extract(SharedCabinet("good/normal_2files_1folder.cab"));
    ASSERT_TRUE(run.succeeded);
    struct {
        const char *name;
        WORD hour, minute, second;
    } expected[] = {{"hello.c", 11, 13, 52}, {"welcome.c", 11, 15, 14}};
    for (const auto &file : expected) {
        HANDLE handle = CreateFileA((work_ + file.name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        FILETIME creation, access, write, local;
        ASSERT_TRUE(GetFileTime(handle, &creation, &access, &write));
        CloseHandle(handle);
        for (FILETIME *time : {&creation, &write}) {
            SYSTEMTIME shown;
            FileTimeToLocalFileTime(time, &local);
            FileTimeToSystemTime(&local, &shown);
            EXPECT_EQ(shown.wYear, 1997) << file.name;
            EXPECT_EQ(shown.wMonth, 3) << file.name;
            EXPECT_EQ(shown.wDay, 12) << file.name;
            EXPECT_EQ(shown.wHour, file.hour) << file.name;
            EXPECT_EQ(shown.wMinute, file.minute) << file.name;
            EXPECT_EQ(shown.wSecond, file.second) << file.name;
        }
    }
}

// ---- Where the cabinet is --------------------------------------------------------------------

TEST_F(Extraction, APackageWithoutACabinetAtItsOffsetIsReported)
{
    std::string cabinet = SharedCabinet("good/normal_2files_1folder.cab");
    WritePackage(directory_ + "setup.exe", cabinet, cabinetOffsetInTests, false);
    state.cabinetOffset++;  // a wrong offset
    ExpectFailure(ExtractPackage(), notACabinet);
    WritePackage(directory_ + "setup.exe", cabinet, cabinetOffsetInTests, false);
    state.cabinetScrambled = 1;  // a wrong key
    ExpectFailure(ExtractPackage(), notACabinet);
    EXPECT_FALSE(FileExists(work_ + "decoy.txt"));
}

TEST_F(Extraction, AMissingPackageFileIsReported)
{
    WritePackage(directory_ + "setup.exe", SharedCabinet("good/pycab-simple.cab"),
                 cabinetOffsetInTests, false);
    CopyText(state.packagePath, sizeof state.packagePath, (directory_ + "gone.exe").c_str());
    ExpectFailure(ExtractPackage(), "Impossible d'ouvrir le fichier...");
}

// The joined package of a multi-volume installer lies in the work directory itself.
TEST_F(Extraction, APackageInTheWorkDirectoryIsReadInPlaceAndNeverOverwritten)
{
    WritePackage(work_ + "Quarvel.pkg", SharedCabinet("good/normal_2files_1folder.cab"),
                 cabinetOffsetInTests, true);
    ExtractionRun run = ExtractPackage();
    EXPECT_TRUE(run.succeeded);
    EXPECT_EQ(run.recorded.size(), 2u);

    std::string cabinet = StoredCabinet({{"first.txt", "extracted before the clash\n"},
                                         {"Quarvel.pkg", "must not replace the package\n"}});
    WritePackage(work_ + "Quarvel.pkg", cabinet, cabinetOffsetInTests, true);
    std::string package = ReadFileBytes(work_ + "Quarvel.pkg");
    run = ExtractPackage();
    ExpectFailure(run, userAbort);
    EXPECT_EQ(run.recorded, (std::vector<std::string>{work_ + "first.txt"}));
    EXPECT_EQ(ReadFileBytes(work_ + "Quarvel.pkg"), package);
}

// A cabinet found inside other bytes, as the packaging tool never writes it but a damaged or
// hand-made package may: the library sees only what follows the offset.
TEST_F(Extraction, TheCabinetStartsAtItsOffsetWhateverFollows)
{
    std::string bytes = SharedCabinet("good/embedded/search_basic.cab");
    ExtractionRun run = Extract(bytes.substr(6));
    EXPECT_TRUE(run.succeeded);
    EXPECT_EQ(run.progress, (std::vector<std::string>{"hello.c", "welcome.c"}));
}

// ---- With a stand-in for the library ----------------------------------------------------------

// Outcomes that Wine's library does not give on demand, through entry points of the test's own.
struct StandIn {
    bool noContext = false;
    int errorCode = 0;
    int destroyCalls = 0;
    int cpuType = -1;
    bool callbacksAreOurs = false;
    bool probeWasCabinetHandle = false;
    DWORD probePosition = 0;
    std::string cabinetName, cabinetPath;
    int flags = -1;
    bool notifyIsOurs = false, decryptAndUserNull = false;
    PERF error = nullptr;
} standIn;

HFDI DIAMONDAPI StandInCreate(PFNALLOC alloc, PFNFREE free, PFNOPEN open, PFNREAD read,
                              PFNWRITE write, PFNCLOSE close, PFNSEEK seek, int cpuType, PERF error)
{
    standIn.callbacksAreOurs = alloc == CabinetAlloc && free == CabinetFree &&
                               open == CabinetOpen && read == CabinetRead &&
                               write == CabinetWrite && close == CabinetClose && seek == CabinetSeek;
    standIn.cpuType = cpuType;
    standIn.error = error;
    return standIn.noContext ? nullptr : (HFDI)&standIn;
}

BOOL DIAMONDAPI StandInIsCabinet(HFDI, INT_PTR handle, PFDICABINETINFO)
{
    standIn.probeWasCabinetHandle = IsCabinetHandle(handle);
    standIn.probePosition = SetFilePointer((HANDLE)handle, 0, nullptr, FILE_CURRENT);
    return TRUE;
}

BOOL DIAMONDAPI StandInCopy(HFDI, char *name, char *path, int flags, PFNFDINOTIFY notify,
                            PFNFDIDECRYPT decrypt, void *user)
{
    standIn.cabinetName = name;
    standIn.cabinetPath = path;
    standIn.flags = flags;
    standIn.notifyIsOurs = notify == CabinetNotify;
    standIn.decryptAndUserNull = !decrypt && !user;
    standIn.error->erfOper = standIn.errorCode;
    return FALSE;
}

BOOL DIAMONDAPI StandInDestroy(HFDI)
{
    standIn.destroyCalls++;
    return TRUE;
}

template <typename Proc> FARPROC AsEntryPoint(Proc proc)
{
    return (FARPROC)(void (*)(void))proc;
}

class WithStandIn : public Extraction {
protected:
    void SetUp() override
    {
        Extraction::SetUp();
        saved_ = cabinetLibrary;
        cabinetLibrary.entryPoints[fdiCreate] = AsEntryPoint(StandInCreate);
        cabinetLibrary.entryPoints[fdiIsCabinet] = AsEntryPoint(StandInIsCabinet);
        cabinetLibrary.entryPoints[fdiCopy] = AsEntryPoint(StandInCopy);
        cabinetLibrary.entryPoints[fdiDestroy] = AsEntryPoint(StandInDestroy);
        standIn = StandIn();
        WritePackage(directory_ + "setup.exe", SharedCabinet("good/pycab-simple.cab"),
                     cabinetOffsetInTests, false);
    }
    void TearDown() override { cabinetLibrary = saved_; }

    CabinetLibrary saved_;
};

TEST_F(WithStandIn, TheLibraryGetsTheCallbacksAndTheCabinetAsPathAndName)
{
    ExtractPackage();
    EXPECT_TRUE(standIn.callbacksAreOurs);
    EXPECT_EQ(standIn.cpuType, cpu80386);
    EXPECT_TRUE(standIn.probeWasCabinetHandle);
    EXPECT_EQ(standIn.probePosition, state.cabinetOffset);
    EXPECT_EQ(standIn.cabinetName, "setup.exe");
    EXPECT_EQ(standIn.cabinetPath, directory_);
    EXPECT_EQ(standIn.flags, 0);
    EXPECT_TRUE(standIn.notifyIsOurs);
    EXPECT_TRUE(standIn.decryptAndUserNull);
    EXPECT_EQ(standIn.destroyCalls, 1);
}

TEST_F(WithStandIn, AContextThatCannotBeMadeIsReportedAndNeverDestroyed)
{
    standIn.noContext = true;
    state.extractedFileCount = 7;  // left from an earlier run
    ExpectFailure(ExtractPackage(), "Erreur d'extraction du fichier(s).");
    EXPECT_EQ(state.extractedFileCount, 0);
    EXPECT_EQ(standIn.destroyCalls, 0);
}

TEST(CabinetNotify, NotificationsWithoutAFileLetTheCopyGoOnOrStopIt)
{
    FDINOTIFICATION notification = {};
    EXPECT_EQ(CabinetNotify(fdintCABINET_INFO, &notification), 0);
    EXPECT_EQ(CabinetNotify(fdintENUMERATE, &notification), 0);
    EXPECT_EQ(CabinetNotify((FDINOTIFICATIONTYPE)42, &notification), 0);
    EXPECT_EQ(CabinetNotify(fdintPARTIAL_FILE, &notification), -1);
    EXPECT_EQ(CabinetNotify(fdintNEXT_CABINET, &notification), -1);
}

TEST(WithTrailingBackslash, AppendsOneWhereThereIsNone)
{
    const struct {
        const char *path, *expected;
    } rows[] = {
        {"", ""}, {"C:", "C:\\"}, {"C:\\", "C:\\"}, {"C:\\Temp", "C:\\Temp\\"},
        {"C:\\Temp/", "C:\\Temp/\\"},  // only a backslash counts
    };
    for (const auto &row : rows) {
        char path[pathBufferSize];
        CopyText(path, sizeof path, row.path);
        WithTrailingBackslash(path);
        EXPECT_STREQ(path, row.expected) << row.path;
    }
    char full[pathBufferSize];  // a full buffer is not overrun
    FillBytes(full, 'p', sizeof full);
    full[pathBufferSize - 1] = 0;
    WithTrailingBackslash(full);
    EXPECT_EQ(TextLength(full), pathBufferSize - 1);
}

}  // namespace
