// The driver's shared pieces under Wine: the path helpers on real
// directories, the exit actions and the fatal stop.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver.h"
#include "test_support.h"

namespace {

std::string Parent(const char *path)
{
    char parent[pathBufferSize];
    ParentDirectory(path, parent);
    return parent;
}

std::string NamePart(const char *path)
{
    char name[pathBufferSize];
    FileNamePart(path, name);
    return name;
}

TEST(PathHelpers, ParentDirectory)
{
    EXPECT_EQ(Parent("C:\\TEMP\\$Quarvel.Tmp"), "C:\\TEMP");
    EXPECT_EQ(Parent("C:\\TEMP"), "C:\\");   // a drive root keeps its backslash
    EXPECT_EQ(Parent("C:\\"), "C:\\");
    EXPECT_EQ(Parent("C:NAME"), "C:");
    EXPECT_EQ(Parent("NAME"), "");
    EXPECT_EQ(Parent("C:\\a/b"), "C:\\a");
    EXPECT_EQ(Parent("\\\\server\\share\\x"), "\\\\server\\share");
}

TEST(PathHelpers, FileNamePart)
{
    EXPECT_EQ(NamePart("C:\\Temp\\setup.exe"), "setup.exe");
    EXPECT_EQ(NamePart("C:setup.exe"), "setup.exe");
    EXPECT_EQ(NamePart("dir/setup.exe"), "setup.exe");
    EXPECT_EQ(NamePart("setup.exe"), "setup.exe");
    EXPECT_EQ(NamePart("C:\\Temp\\"), "");
    std::string longName(300, 'n');
    EXPECT_EQ(NamePart(("C:\\" + longName).c_str()), longName.substr(0, 255));
}

TEST(PathHelpers, ToBackslashesConvertsTheWholeText)
{
    std::string path = "C:/a/b";
    for (int i = 0; i < 100; i++)
        path += "/dir";
    ToBackslashes(&path[0]);
    EXPECT_EQ(path.find('/'), std::string::npos);
    EXPECT_EQ(path.size(), 6u + 400u);
}

TEST(PathHelpers, PathExistsRewritesTheCallersSlashes)
{
    std::string root = ScratchDirectory("exists");
    ASSERT_TRUE(CreateDirectoryA((root + "SOME").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((root + "SOME\\DIR").c_str(), nullptr));
    std::string path = root + "SOME/DIR";
    EXPECT_TRUE(PathExists(&path[0]));
    EXPECT_EQ(path, root + "SOME\\DIR");
    std::string missing = root + "SOME/NONE";
    EXPECT_FALSE(PathExists(&missing[0]));
}

TEST(PathHelpers, ADirectoryWithABackslashIsSearchedForEntries)
{
    std::string root = ScratchDirectory("entries");
    std::string missing = root + "missing\\";
    EXPECT_FALSE(PathExists(&missing[0]));
    // An ordinary directory always lists "." and "..", so it exists even when empty.
    std::string empty = root + "empty\\";
    ASSERT_TRUE(CreateDirectoryA(empty.c_str(), nullptr));
    std::string probe = empty;
    EXPECT_TRUE(PathExists(&probe[0]));
    // A file is not a directory with entries.
    WriteFileBytes(root + "file", "x");
    std::string fileAsDirectory = root + "file\\";
    EXPECT_FALSE(PathExists(&fileAsDirectory[0]));

    // Slashes in a directory path are converted in the search pattern, the caller's text stays.
    std::string slashed = root + "empty\\";
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    slashed.back() = '\\';
    std::string before = slashed;
    EXPECT_TRUE(PathExists(&slashed[0]));
    EXPECT_EQ(slashed, before);
}

TEST(PathHelpers, PathExistsRefusesAPatternThatWouldNotFit)
{
    std::string longPath = "C:\\" + std::string(248, 'd') + "\\";  // 252 characters
    EXPECT_FALSE(PathExists(&longPath[0]));
    EXPECT_EQ(longPath.size(), 252u);
}

TEST(PathHelpers, MakeDirectoryPathCreatesMissingLevelsAndKeepsExistingOnes)
{
    std::string root = ScratchDirectory("make");
    std::string deep = root + "a\\b\\c\\";
    MakeDirectoryPath(deep.c_str());
    EXPECT_TRUE(DirectoryExists(root + "a"));
    EXPECT_TRUE(DirectoryExists(root + "a\\b"));
    EXPECT_TRUE(DirectoryExists(root + "a\\b\\c"));

    WriteFileBytes(root + "a\\b\\c\\kept.txt", "kept");
    MakeDirectoryPath(deep.c_str());
    EXPECT_EQ(ReadFileBytes(root + "a\\b\\c\\kept.txt"), "kept");
}

TEST(PathHelpersDeathTest, ADirectoryThatCannotBeCreatedEndsTheProgramWithItsErrorCode)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    std::string root = ScratchDirectory("blocked");
    WriteFileBytes(root + "file", "a file where a directory should be");
    struct Row {
        const char *fault;
        std::string target, refused;  // what is asked for, and the level the platform refuses
    } rows[] = {
        {"a file in the way", root + "file\\work\\", root + "file\\work"},
        // Its own parent: a walk up the path that never gets shorter would overflow the stack.
        {"a colon after the last name", root + "file\\x:", root + "file\\x:"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.fault);
        SetLastError(0);
        ASSERT_FALSE(CreateDirectoryA(row.refused.c_str(), nullptr));
        DWORD expected = GetLastError();
        EXPECT_EXIT(
            {
                MessageBoxAnswerer answerer;  // the fatal report waits for its OK
                MakeDirectoryPath(row.target.c_str());
            },
            testing::ExitedWithCode(expected), "");
        EXPECT_FALSE(DirectoryExists(row.refused));
    }
}

int order[4];
int orderCount;
void FirstAction() { order[orderCount++] = 1; }
void SecondAction() { order[orderCount++] = 2; }
void ReportOrder()
{
    // Seen by the parent through the exit code: 21 means newest first.
    ExitProcess(order[0] * 10 + order[1]);
}

TEST(ExitActionsDeathTest, RunNewestFirst)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            RegisterExitAction(ReportOrder);
            RegisterExitAction(FirstAction);
            RegisterExitAction(SecondAction);
            EndProgram(0);
        },
        testing::ExitedWithCode(21), "");
}

TEST(TextHelpers, BoundedCopiesCutAndSaySo)
{
    char buffer[6];
    EXPECT_TRUE(CopyText(buffer, sizeof buffer, "abc"));
    EXPECT_TRUE(AppendText(buffer, sizeof buffer, "de"));
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_FALSE(AppendText(buffer, sizeof buffer, "f"));
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_FALSE(CopyText(buffer, sizeof buffer, "0123456789"));
    EXPECT_STREQ(buffer, "01234");
}

TEST(TextHelpers, EqualityIsByteForByte)
{
    EXPECT_TRUE(TextsEqual("C:\\a.exe", "C:\\a.exe"));
    EXPECT_FALSE(TextsEqual("C:\\a.exe", "c:\\a.exe"));
    EXPECT_FALSE(TextsEqual("C:\\a.exe", "C:/a.exe"));
    EXPECT_FALSE(TextsEqual("C:\\a", "C:\\a.exe"));
}

TEST(TextHelpers, DecimalText)
{
    char digits[12];
    DecimalText(0, digits);
    EXPECT_STREQ(digits, "0");
    DecimalText(255, digits);
    EXPECT_STREQ(digits, "255");
    DecimalText(4294967295u, digits);
    EXPECT_STREQ(digits, "4294967295");
}

}  // namespace
