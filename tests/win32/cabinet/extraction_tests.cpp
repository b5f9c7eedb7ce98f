// ExtractCabinet with Wine's cabinet.dll on real cabinets embedded in package files: what
// comes out, how it is dated and recorded, and how every failure is reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "cabinet.h"
#include "cabinet_test_support.h"
#include "driver.h"

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
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((directory_ + "*").c_str(), &found);
        ASSERT_NE(search, INVALID_HANDLE_VALUE);
        std::set<std::string> names;
        do
            names.insert(found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
        EXPECT_EQ(names, (std::set<std::string>{".", "..", "setup.exe", "work"}));
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

// Every cabinet of the shared good ones that Wine's library extracts flat.
const GoodCabinet goodCabinets[] = {
    {"good/normal_2files_1folder.cab", "stored, two files of one folder"},
    {"good/normal_2files_2folders.cab", "MSZIP and LZX folders"},
    {"good/mszip_lzx_qtm.cab", "MSZIP, LZX and Quantum"},
    {"good/gcab-test-none.cab", "stored, by gcab"},
    {"good/gcab-test-mszip.cab", "MSZIP, by gcab"},
    {"good/gcab-test-signed.cab", "a header reserve and a signature behind the cabinet"},
    {"good/pycab-simple.cab", "stored"},
    {"good/pycab-compressed.cab", "MSZIP"},
    {"good/pycab-large.cab", "1 MiB in many stored blocks"},
    {"good/pycab-large-compressed.cab", "1 MiB of random bytes, MSZIP"},
    {"good/pycab-utf8.cab", "a name flagged UTF-8"},
    {"good/encoding-latin1.cab", "8-bit names"},
    {"good/reserve_---.cab", "reserve flag, no reserves"},
    {"good/reserve_--D.cab", "data block reserve"},
    {"good/reserve_-F-.cab", "folder reserve"},
    {"good/reserve_-FD.cab", "folder and data block reserves"},
    {"good/reserve_H--.cab", "header reserve"},
    {"good/reserve_H-D.cab", "header and data block reserves"},
    {"good/reserve_HF-.cab", "header and folder reserves"},
    {"good/reserve_HFD.cab", "all three reserves"},
    {"good/test_fuzz.cab", "LZX, four files"},
    {"good/test_read_format_cab_lzx_16bit.cab", "LZX"},
    {"good/test_read_format_cab_lzx_e8.cab", "LZX call translation"},
    {"good/test_read_format_cab_lzx_literal_control.cab", "LZX literals, an invalid DOS date"},
    {"good/large-files-cab.cab", "LZX, one file of 14 MB"},
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
const char *const corruptCabinet = "Corrupt Cabinet";
const char *const notACabinet = "Type de compression inconnu";
const char *const anyFailure = "";
constexpr int anyPrefix = -1;

struct FailingCabinet {
    const char *path;
    const char *text;  // of the box, or anyFailure; null when Wine's library extracts it
    int recorded;      // files finished before the failure, or anyPrefix
};

// Shared good cabinets that cannot be extracted flat, and cabinets of sets.
const FailingCabinet unextractableCabinets[] = {
    // A name with a folder part: no folder is created, so the file cannot be.
    {"good/case-ascii.cab", userAbort, 0},
    {"good/case-utf8.cab", userAbort, 0},
    {"good/dir.cab", userAbort, 1},  // plain.c, then 1\2\3\4.c
    {"good/pycab-ddf-fixed.cab", userAbort, 0},
    {"good/pycab-multi-folder.cab", userAbort, 0},
    {"good/pycab-multi-folder-compressed.cab", userAbort, 0},
    {"good/test_read_format_cab_1.cab", userAbort, 1},  // empty, then dir1\file1
    {"good/test_read_format_cab_2.cab", userAbort, 2},  // empty and zero, then dir1\file1
    {"good/test_read_format_cab_3.cab", userAbort, 2},
    // Characters that Windows refuses in names, or double-byte names with a '\' trail byte.
    {"good/encoding-koi8.cab", userAbort, 0},
    {"good/utf8-stresstest.cab", userAbort, anyPrefix},
    {"good/encoding-sjis.cab", userAbort, anyPrefix},
    {"good/test_read_format_cab_filename_cp932.cab", userAbort, 0},
    // 255 characters behind the work directory: longer than a path may be.
    {"good/normal_255c_filename.cab", userAbort, 0},
    // Wine's Quantum decoder rejects it.
    {"good/cve-2010-2801-qtm-flush.cab", corruptCabinet, anyPrefix},
    // A folder that goes on in the next cabinet, or a first file that began in the previous.
    {"good/spanning/split/split-1.cab", userAbort, 2},  // small1.bin and small2.bin
    {"good/spanning/split/split-2.cab", userAbort, 0},
    {"good/spanning/split/split-5.cab", userAbort, 0},
    {"good/spanning/multi_basic/cabd_multi_basic_pt1.cab", userAbort, 1},
    {"good/spanning/multi_basic/cabd_multi_basic_pt5.cab", userAbort, 0},
    {"good/spanning/libarchive_multi/test_read_format_cab_multi.p1.cab", userAbort, anyPrefix},
    {"good/spanning/libarchive_multi/test_read_format_cab_multi.p2.cab", userAbort, 0},
};

// Malformed cabinets: each ends, reported, with nothing outside the work directory.
const FailingCabinet malformedCabinets[] = {
    // No cabinet header that the library accepts.
    {"bad/bad_signature.cab", notACabinet, 0},
    {"bad/partial_shortheader.cab", notACabinet, 0},
    {"bad/partial_shortextheader.cab", notACabinet, 0},
    {"bad/partial_str_nonname.cab", notACabinet, 0},
    {"bad/partial_str_nopinfo.cab", notACabinet, 0},
    {"bad/partial_str_nopname.cab", notACabinet, 0},
    {"bad/partial_str_shortpinfo.cab", notACabinet, 0},
    {"bad/partial_str_shortpname.cab", notACabinet, 0},
    {"bad/cve-2015-4470-mszip-over-read.cab", notACabinet, 0},
    {"bad/test_fuzz_cab_null_deref.cab", notACabinet, 0},
    // Truncated or inconsistent tables and data.
    {"bad/partial_nofiles.cab", corruptCabinet, 0},
    {"bad/partial_nofolder.cab", corruptCabinet, 0},
    {"bad/partial_shortfile1.cab", corruptCabinet, 0},
    {"bad/partial_shortfile2.cab", corruptCabinet, 0},
    {"bad/partial_shortfolder.cab", corruptCabinet, 0},
    {"bad/partial_str_nofname.cab", corruptCabinet, 0},
    {"bad/partial_str_noninfo.cab", corruptCabinet, 0},
    {"bad/partial_str_shortninfo.cab", corruptCabinet, 0},
    {"bad/partial_str_shortnname.cab", corruptCabinet, 0},
    {"bad/partial_nodata.cab", corruptCabinet, anyPrefix},
    {"bad/gcab-test-ncbytes-overflow.cab", corruptCabinet, 0},
    {"bad/hidden-file-bad-folderid.cab", corruptCabinet, anyPrefix},
    {"bad/hidden-file-beyond-eof.cab", corruptCabinet, anyPrefix},
    {"bad/filename-read-violation-3.cab", corruptCabinet, 0},
    {"bad/filename-read-violation-4.cab", corruptCabinet, 0},
    // Compressed data that sent old decoders into loops, over-reads and crashes.
    {"bad/cve-2010-2800-mszip-infinite-loop.cab", corruptCabinet, anyPrefix},
    {"bad/cve-2014-9556-qtm-infinite-loop.cab", corruptCabinet, 0},
    {"bad/cve-2014-9732-folders-segfault.cab", corruptCabinet, anyPrefix},
    {"bad/cve-2015-4471-lzx-under-read.cab", corruptCabinet, 0},
    {"bad/cve-2018-18584-qtm-max-size-block.cab", corruptCabinet, anyPrefix},
    {"bad/lzx-main-tree-no-lengths.cab", corruptCabinet, anyPrefix},
    {"bad/lzx-premature-matches.cab", corruptCabinet, anyPrefix},
    // Names that cannot be created: empty, garbage, too long, or leaving the work directory.
    {"bad/bad_nofolders.cab", userAbort, 0},
    {"bad/filename-read-violation-1.cab", userAbort, 0},
    {"bad/filename-read-violation-2.cab", userAbort, 0},
    {"bad/gcab-CVE-2014-9732.cab", userAbort, 0},
    // Wine's library looks for the name's end past its short read, in a block it has not
    // filled: what it finds there varies, the failure does not.
    {"bad/partial_str_shortfname.cab", anyFailure, 0},
    {"bad/test_read_format_cab_lzx_oob.cab", userAbort, 0},
    {"bad/test_read_format_cab_skip_malformed.cab", userAbort, 0},
    {"bad/cve-2017-11423-fname-overread.cab", userAbort, 0},  // a name of 256 characters
    {"bad/dirwalk-vulns.cab", userAbort, 0},                  // "/absolute/path" first
    // Wine's library extracts these: a file of a missing folder, no files at all, files
    // hidden behind the table, an LZX match before the stream's start.
    {"bad/bad_folderindex.cab", nullptr, 2},
    {"bad/bad_nofiles.cab", nullptr, 0},
    {"bad/hidden-files.cab", nullptr, 2},
    {"bad/test_read_format_cab_lzx_invalid_history.cab", nullptr, 1},
};

class FailingCabinets : public Extraction,
                        public testing::WithParamInterface<std::tuple<FailingCabinet, bool>> {};

TEST_P(FailingCabinets, EndReportedWithTheFilesFinishedBeforeRecorded)
{
    const FailingCabinet &row = std::get<0>(GetParam());
    std::string cabinet = SharedCabinet(row.path);
    ASSERT_FALSE(cabinet.empty());
    ExtractionRun run = Extract(cabinet, std::get<1>(GetParam()));
    if (!run.finished)
        return;
    if (row.text == anyFailure) {
        EXPECT_FALSE(run.succeeded);
        EXPECT_EQ(run.boxes.size(), 1u);
        EXPECT_EQ(run.statusText, statusAfterFailure);
    } else if (row.text) {
        ExpectFailure(run, row.text);
    } else {
        EXPECT_TRUE(run.succeeded);
        EXPECT_TRUE(run.boxes.empty());
    }
    if (row.recorded != anyPrefix)
        EXPECT_EQ(run.recorded.size(), (size_t)row.recorded);
    ExpectRecordedAsAnnounced(run);
    ExpectNothingOutsideTheWorkDirectory();
}

INSTANTIATE_TEST_SUITE_P(
    Unextractable, FailingCabinets,
    testing::Combine(testing::ValuesIn(unextractableCabinets), testing::Values(false)),
    RowName<FailingCabinet>);

// Scrambled: every byte the library sees has passed the unscrambling.
INSTANTIATE_TEST_SUITE_P(
    Malformed, FailingCabinets,
    testing::Combine(testing::ValuesIn(malformedCabinets), testing::Values(true)),
    RowName<FailingCabinet>);

// ---- Names and paths -------------------------------------------------------------------------

// Names that would leave the work directory, each put in place of "hello.c" (seven bytes) as
// the first file of a real cabinet.
const char *const escapingNames[] = {
    "..\\up.c", "../up.c", "x\\..\\.c", "C:up.cc", "C:\\up.c", "\\hell.c", "/hell.c",
    "hel:l.c", "...\\u.c", ". .\\u.c", ".. \\u.c",
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

TEST_F(Extraction, DotsInsideANameAreJustDots)
{
    std::string cabinet = SharedCabinet("good/normal_2files_1folder.cab");
    RenameStoredFile(cabinet, "hello.c", "he..o.c");
    RenameStoredFile(cabinet, "welcome.c", "..welcome");
    ExtractionRun run = Extract(cabinet);
    EXPECT_TRUE(run.succeeded);
    ExpectRecordedInTableOrder(run, cabinet);
    EXPECT_EQ(run.recorded.size(), 2u);
}

// The target path may have as many characters as a path can: MAX_PATH less the NUL.
TEST_F(Extraction, ATargetPathIsAsLongAsAPathMayBe)
{
    std::string cabinet = FixtureCabinet("long-name.cab");
    std::string name = ListCabinetFiles(cabinet).at(0).name;
    ASSERT_EQ(name.size(), 180u);
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
    std::string cabinet = FixtureCabinet("many.cab");
    std::vector<CabinetFile> files = ListCabinetFiles(cabinet);
    ASSERT_EQ(files.size(), 300u);
    ExtractionRun run = Extract(cabinet, true);
    EXPECT_TRUE(run.succeeded);
    EXPECT_EQ(run.recorded.size(), 255u);
    EXPECT_EQ(state.extractedFileCount, 255);
    ExpectRecordedInTableOrder(run, cabinet);
    EXPECT_EQ(run.progress.size(), 300u);
    for (const CabinetFile &file : files)
        EXPECT_EQ(ReadFileBytes(work_ + file.name),
                  ReadFileBytes(FixtureDirectory() + "many\\" + file.name))
            << file.name;

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

    std::string cabinet = FixtureCabinet("package-name.cab");
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

TEST_F(WithStandIn, EveryErrorCodeOfTheLibraryHasItsText)
{
    const struct {
        int code;
        const char *text;
    } rows[] = {
        {0, "unknown problem"},      {1, "Cab not found"},
        {2, "Not a Cabinet"},        {3, "Unknown Cab version"},
        {4, "Corrupt Cabinet"},      {5, "Alloc failure"},
        {6, notACabinet},            {7, "MDI failure"},
        {8, "Error writing target"}, {9, "Reserve mismatch"},
        {10, "wrong cab"},           {11, "user abort"},
        {12, "unknown problem"},     {-1, "unknown problem"},  // codes the interface lacks
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.code);
        standIn.errorCode = row.code;
        standIn.destroyCalls = 0;
        ExpectFailure(ExtractPackage(), row.text);
        EXPECT_EQ(standIn.destroyCalls, 1);
    }
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
