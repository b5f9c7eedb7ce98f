// The driver's shared pieces under Wine: the text and path helpers, the directory maker, and
// the joining of volume files with its disk prompt.
#include <stdio.h>

#include <gtest/gtest.h>

#include "driver.h"
#include "package.h"
#include "package_builder.h"
#include "signature.h"
#include "test_support.h"

namespace {

std::string Parent(const char *path)
{
    char parent[pathBufferSize];
    ParentDirectory(path, parent);
    return parent;
}

std::string NamePart(const std::string &path)
{
    char name[pathBufferSize];
    FileNamePart(path.c_str(), name);
    return name;
}

// "whole " or "cut ", then what is left of start copied and more appended in capacity bytes.
std::string Bounded(DWORD capacity, const char *start, const char *more)
{
    char buffer[16];
    bool whole = CopyText(buffer, capacity, start);
    whole = AppendText(buffer, capacity, more) && whole;
    return (whole ? "whole " : "cut ") + std::string(buffer);
}

std::string Decimal(DWORD value)
{
    char digits[11];
    DecimalText(value, digits);
    return digits;
}

TEST(TextHelpers, OneRowAFault)
{
    struct Row {
        const char *fault;
        std::string result, expected;
    } rows[] = {
        {"a drive root's backslash dropped", Parent("C:\\TEMP"), "C:\\"},
        {"a drive root given a parent", Parent("C:\\"), "C:\\"},
        {"a drive's current directory lost", Parent("C:NAME"), "C:"},
        {"a parent made up for a bare name", Parent("NAME"), ""},
        {"a slash not taken for a separator", Parent("C:\\a/b"), "C:\\a"},
        {"a share's root cut", Parent("\\\\server\\share\\x"), "\\\\server\\share"},
        {"a drive's colon kept in a name", NamePart("C:setup.exe"), "setup.exe"},
        {"a slash kept in a name", NamePart("dir/setup.exe"), "setup.exe"},
        {"a name made up after the last separator", NamePart("C:\\Temp\\"), ""},
        {"a name of 300 characters not cut to 255", NamePart("C:\\" + std::string(300, 'n')),
         std::string(255, 'n')},
        {"a copy that fits called cut", Bounded(6, "abc", "de"), "whole abcde"},
        {"an append past the end", Bounded(6, "abcde", "f"), "cut abcde"},
        {"a copy past the end", Bounded(6, "0123456789", ""), "cut 01234"},
        {"letter case ignored", TextsEqual("C:\\a.exe", "c:\\a.exe") ? "equal" : "", ""},
        {"a prefix taken for the whole", TextsEqual("C:\\a", "C:\\a.exe") ? "equal" : "", ""},
        {"equal texts told apart", TextsEqual("C:\\a.exe", "C:\\a.exe") ? "equal" : "", "equal"},
        {"zero written as nothing", Decimal(0), "0"},
        {"the largest number cut", Decimal(4294967295u), "4294967295"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.result, row.expected) << row.fault;
}

TEST(PathHelpers, MakeDirectoryPathMakesTheMissingLevelsOnly)
{
    std::string root = ScratchDirectory("paths");
    MakeDirectoryPath((root + "a\\b\\c\\").c_str());
    EXPECT_TRUE(DirectoryExists(root + "a\\b\\c"));
    MakeDirectoryPath((root + "a\\b").c_str());  // an existing one is no fatal stop
}

// A parent that is not shorter (a colon after the last name) is not made first, where a walk
// up the path would overflow the stack: the platform's refusal of the directory itself ends the
// program with its error code.
TEST(PathHelpersDeathTest, ADirectoryThatIsItsOwnParentEndsTheProgramWithItsErrorCode)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    std::string root = ScratchDirectory("own-parent"), target = root + "file\\x:";
    WriteFileBytes(root + "file", "a file where a directory should be");
    SetLastError(0);
    ASSERT_FALSE(CreateDirectoryA(target.c_str(), nullptr));
    DWORD expected = GetLastError();
    EXPECT_EXIT(
        {
            MessageBoxAnswerer answerer;  // the fatal report waits for its OK
            MakeDirectoryPath(target.c_str());
        },
        testing::ExitedWithCode(expected), "");
}

// ---- Joining volumes ----------------------------------------------------------------------

class Join : public testing::Test {
protected:
    void SetUp() override
    {
        if (!state.workDirectory)
            AllocateBuffers();
        disk = ScratchDirectory("volumes-disk");
        work = ScratchDirectory("volumes-work");
        CopyText(state.workDirectory, pathBufferSize, work.c_str());
    }
    // Volumes named like an installer and its continuations; totalSize is their joined size.
    std::string MakeVolumes(const std::vector<std::string> &contents)
    {
        std::string joined;
        for (size_t i = 0; i < contents.size(); i++) {
            WriteFileBytes(VolumePath(i), contents[i]);
            joined += contents[i];
        }
        state.totalSize = joined.size();
        return joined;
    }
    std::string VolumePath(unsigned index)
    {
        char name[16];
        snprintf(name, sizeof name, "SETUP.%03u", index);  // apart from the rule under test
        return disk + (index == 0 ? "SETUP.EXE" : name);
    }
    std::string Joined() { return ReadFileBytes(work + "Quarvel.pkg"); }

    std::string disk, work;
};

TEST_F(Join, TakesASignedInstallerFileUpToItsCertificateTable)
{
    MessageBoxAnswerer answerer(IDCANCEL);
    PackageTexts texts{"T", "a.inf", "", "", ""};
    std::string cabinet(20000, 'c');
    PackageHeader header{};
    header.multiVolume = 1;
    header = WithLengths(header, texts, cabinet);
    uint32_t cut = CertificateTableOffsetAfter(CabinetOffset(&header)) + 8000;
    std::string package = PackageFile(header, texts, cabinet, SignedProgramFront(cut, 1480));
    MakeVolumes({package.substr(0, cut) + std::string(1480, 'C'), package.substr(cut)});
    state.totalSize = header.totalSize;
    HANDLE installer = CreateFileA(VolumePath(0).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_EQ(ReadPackageHeader(installer), headerRead);
    CloseHandle(installer);
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_FALSE(state.failed);
    EXPECT_TRUE(Joined() == package) << "the joined file is " << Joined().size() << " bytes";
}

// OK once the volume is there goes on; a package without a title asks under an empty caption.
TEST_F(Join, AMissingVolumeIsAskedForUntilItIsThere)
{
    MessageBoxAnswerer answerer(IDOK);
    std::string expected = MakeVolumes({"first", "second", "third"}), third = VolumePath(2);
    DeleteFileA(third.c_str());
    answerer.SetBeforeAnswer([&](const ShownBox &) { WriteFileBytes(third, "third"); });
    state.title[0] = 0;
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_FALSE(state.failed);
    EXPECT_EQ(Joined(), expected);
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    ShownBox box = answerer.Boxes()[0];
    EXPECT_EQ(box.caption, "");
    EXPECT_EQ(box.text, "Veuillez ins\351rer le disque n\260 3...\n" + third + " required)");
    EXPECT_EQ(box.style, (UINT)(MB_OKCANCEL | MB_ICONINFORMATION));
}

TEST_F(Join, AVolumeThatEndsBeforeItsSizeEndsTheJoin)
{
    // A Linux sysfs file reports 4096 bytes and ends after a few: a volume whose reads come
    // back empty before its size is reached, as a failing medium would.
    const char *shortVolume = "Z:\\sys\\devices\\system\\cpu\\online";
    if (!FileExists(shortVolume))
        GTEST_SKIP() << "no sysfs file to read short";
    MessageBoxAnswerer answerer(IDCANCEL);
    state.totalSize = 100000;
    JoinVolumes(shortVolume);
    EXPECT_TRUE(state.failed);
    EXPECT_LT(Joined().size(), 4096u);
    EXPECT_TRUE(answerer.Boxes().empty());
}

TEST_F(Join, NoNameFollowsTheTwoHundredAndFiftyFifthVolume)
{
    MessageBoxAnswerer answerer(IDCANCEL);
    MakeVolumes(std::vector<std::string>(256, "v"));
    state.totalSize += 10;  // still short after .255
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_TRUE(state.failed);
    EXPECT_EQ(Joined().size(), 256u);
    EXPECT_TRUE(answerer.Boxes().empty());
}

}  // namespace
