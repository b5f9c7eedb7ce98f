// The driver under Wine: text and path helpers, the directory maker, package intake from real
// files, and the joining of volume files. The format's own rules are the format module's tests.
#include <gtest/gtest.h>

#include "driver.h"
#include "package.h"
#include "package_builder.h"
#include "signature.h"
#include "test_support.h"

namespace {

const bool buffersAllocated = (AllocateBuffers(), true);  // as the program's start does

// What a helper that writes into a buffer of pathBufferSize bytes left there.
template <typename Input, typename Argument>
std::string Output(void (*helper)(Input, char *), Argument input)
{
    char output[pathBufferSize];
    helper(input, output);
    return output;
}

// "whole " or "cut ", then what is left of start copied and more appended in capacity bytes.
std::string Bounded(DWORD capacity, const char *start, const char *more)
{
    char buffer[16];
    bool whole = CopyText(buffer, capacity, start);
    whole = AppendText(buffer, capacity, more) && whole;
    return (whole ? "whole " : "cut ") + std::string(buffer);
}

TEST(TextHelpers, OneRowAFault)
{
    const struct { const char *fault; std::string result, expected; } rows[] = {
        {"a drive root's backslash dropped", Output(ParentDirectory, "C:\\TEMP"), "C:\\"},
        {"a drive root given a parent", Output(ParentDirectory, "C:\\"), "C:\\"},
        {"a drive's current directory lost", Output(ParentDirectory, "C:NAME"), "C:"},
        {"a parent made up for a bare name", Output(ParentDirectory, "NAME"), ""},
        {"a slash not taken for a separator", Output(ParentDirectory, "C:\\a/b"), "C:\\a"},
        {"a share's root cut", Output(ParentDirectory, "\\\\host\\share\\x"), "\\\\host\\share"},
        {"a drive's colon kept in a name", Output(FileNamePart, "C:setup.exe"), "setup.exe"},
        {"a slash kept in a name", Output(FileNamePart, "dir/setup.exe"), "setup.exe"},
        {"a name made up after the last separator", Output(FileNamePart, "C:\\Temp\\"), ""},
        {"a long name not cut to 255", Output(FileNamePart, std::string(300, 'n').c_str()),
         std::string(255, 'n')},
        {"a copy that fits called cut", Bounded(6, "abc", "de"), "whole abcde"},
        {"an append past the end", Bounded(6, "abcde", "f"), "cut abcde"},
        {"a copy past the end", Bounded(6, "0123456789", ""), "cut 01234"},
        {"letter case ignored", TextsEqual("C:\\a.exe", "c:\\a.exe") ? "equal" : "", ""},
        {"a prefix taken for the whole", TextsEqual("C:\\a", "C:\\a.exe") ? "equal" : "", ""},
        {"equal texts told apart", TextsEqual("C:\\a.exe", "C:\\a.exe") ? "equal" : "", "equal"},
        {"zero written as nothing", Output(DecimalText, 0u), "0"},
        {"the largest number cut", Output(DecimalText, 4294967295u), "4294967295"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.result, row.expected) << row.fault;
}

// Missing levels are made. A parent that is not shorter (a colon after the last name) is not
// made first, where a walk up the path would overflow the stack: the platform's refusal of the
// directory itself ends the program with its error code.
TEST(MakeDirectoryPathDeathTest, MakesTheMissingLevelsAndEndsOnADirectoryItsOwnParent)
{
    MessageBoxAnswerer answerer;  // in the death test's process too, which runs this test again
    std::string root = ScratchDirectory("paths"), target = root + "file\\x:";
    MakeDirectoryPath((root + "a\\b\\c\\").c_str());
    EXPECT_TRUE(DirectoryExists(root + "a\\b\\c"));
    WriteFileBytes(root + "file", "a file where a directory should be");
    ASSERT_FALSE(CreateDirectoryA(target.c_str(), nullptr));
    DWORD expected = GetLastError();
    EXPECT_EXIT(MakeDirectoryPath(target.c_str()), testing::ExitedWithCode(expected), "");
}

// ---- Package intake -----------------------------------------------------------------------

const std::string front(headerOffset, 'S');

// Reads the header, then the texts when the header was read, from a file of these bytes.
PackageReadResult Read(const std::string &bytes)
{
    FillBytes(state.title, 'x', pathBufferSize);  // stale: every text ends after its length
    FillBytes(state.infName, 'x', pathBufferSize);
    std::string path = ScratchDirectory("package") + "setup.exe";
    WriteFileBytes(path, bytes);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    PackageReadResult result = ReadPackageHeader(file);
    if (result == headerRead)
        result = ReadPackageTexts(file);
    CloseHandle(file);
    return result;
}

// Each flag a value of its own and a text with a NUL inside; then no title, message or licence.
TEST(PackageIntake, EveryFieldAndTextGoesToItsPlace)
{
    PackageHeader header{};
    header.showCompletion = 1, header.requireAdmin = 2, header.useAdvpack = 3;
    header.removeInstallButton = 4, header.cabinetScrambled = 5;
    PackageTexts texts{"Titre", "setup.inf", std::string("Info\0text", 9), "Bonjour", "Licence"};
    std::string file = PackageFile(WithLengths(header, texts, "MSCF"), texts, "MSCF", front);
    ASSERT_EQ(Read(file), textsRead);
    EXPECT_EQ((std::vector<DWORD>{state.showCompletion, state.requireAdmin, state.useAdvpack,
                                  state.removeInstallButton, state.cabinetScrambled,
                                  state.multiVolume, state.hasTitle, state.totalSize}),
              (std::vector<DWORD>{1, 2, 3, 4, 5, 0, 1, (DWORD)file.size()}));
    EXPECT_EQ((std::vector<std::string>{state.title, state.infName, std::string(state.infoText, 10),
                                        state.messageText, state.licenceText,
                                        file.substr(state.cabinetOffset)}),
              (std::vector<std::string>{texts.title, texts.infName, texts.info + '\0',
                                        texts.message, texts.licence, "MSCF"}));

    texts = {"", "a.inf", "", "", ""};
    ASSERT_EQ(Read(PackageFile(WithLengths({}, texts, ""), texts, "", front)), textsRead);
    EXPECT_TRUE(!state.hasTitle && !*state.title && !*state.licenceText &&
                TextsEqual(state.messageText, defaultMessage));
}

TEST(PackageIntake, OnlyAWholePackageIsRead)
{
    MessageBoxAnswerer answerer;  // a fatal stop for memory ends the program instead of waiting
    PackageTexts texts{"T", "a.inf", "i", "m", "l"};
    PackageHeader header = WithLengths({}, texts, "cab"), multiVolume = header;
    multiVolume.multiVolume = 1;
    PackageHeader hostile = multiVolume;  // a multi-volume file has no size test to fail first
    hostile.messageLength = 0x80000000u;
    std::string file = PackageFile(header, texts, "cab", front);
    uint32_t tableAt = CertificateTableOffsetAfter(header.totalSize), tableEnd = tableAt + 1480;
    std::string misPadded = PackageFile(header, texts, "cab", SignedProgramFront(tableAt, 1480)) +
                            "\1" + std::string(tableEnd - header.totalSize - 1, '\0');
    const struct { const char *fault; std::string bytes; PackageReadResult expected; } rows[] = {
        {"the exact size refused", file, textsRead},
        {"a byte too many accepted", file + "!", sizeMismatch},
        {"a truncated package accepted", file.substr(0, file.size() - 1), sizeMismatch},
        {"a header cut short accepted", file.substr(0, headerOffset + 10), sizeMismatch},
        {"a first volume measured",
         PackageFile(multiVolume, texts, "cab", front).substr(0, file.size() - 2), textsRead},
        {"padding before the table that is not zero accepted", misPadded, sizeMismatch},
        {"a hostile length allocated", PackageFile(hostile, texts, "cab", front), sizeMismatch},
        {"another magic accepted", std::string(file).replace(headerOffset + 2, 1, "q"), noPackage},
    };
    for (const auto &row : rows)
        EXPECT_EQ(Read(row.bytes), row.expected) << row.fault;
}

// ---- Joining volumes ----------------------------------------------------------------------

class Join : public testing::Test {
protected:
    void SetUp() override { CopyText(state.workDirectory, pathBufferSize, work.c_str()); }
    std::string VolumePath(unsigned index)  // apart from the naming rule under test
    {
        return disk + (index ? "SETUP." + std::to_string(1000 + index).substr(1) : "SETUP.EXE");
    }
    std::string Joined() { return ReadFileBytes(work + "Quarvel.pkg"); }

    std::string disk = ScratchDirectory("volumes-disk"), work = ScratchDirectory("volumes-work");
};

// A signed installer file gives the package up to its certificate table; OK once the missing
// next volume is there goes on; a package without a title asks under an empty caption.
TEST_F(Join, ASignedInstallerAndAVolumeAskedForMakeThePackage)
{
    PackageTexts texts{"", "a.inf", "", "", ""};
    std::string cabinet(20000, 'c'), second = VolumePath(1);
    PackageHeader header = WithLengths({}, texts, cabinet);
    header.multiVolume = 1;
    uint32_t cut = CertificateTableOffsetAfter(CabinetOffset(&header)) + 8000;
    std::string package = PackageFile(header, texts, cabinet, SignedProgramFront(cut, 1480));
    std::string first = package.substr(0, cut) + std::string(1480, 'C');
    ASSERT_EQ(Read(first), textsRead);  // the total size, and the header that finds the table
    WriteFileBytes(VolumePath(0), first);
    MessageBoxAnswerer answerer(IDOK, [&](auto &) { WriteFileBytes(second, package.substr(cut)); });
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_TRUE(!state.failed && Joined() == package) << Joined().size() << " bytes joined";
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    ShownBox box = answerer.Boxes()[0];
    EXPECT_TRUE(box.caption.empty() && box.style == (MB_OKCANCEL | MB_ICONINFORMATION));
    EXPECT_EQ(box.text, messages.preparation.insertDisk + ("2...\n" + second) + " required)");
}

// Neither has a disk to ask for. A Linux sysfs file reports 4096 bytes and ends after a few:
// a volume whose reads come back empty before its size is reached, as a failing medium's.
TEST_F(Join, AJoinThatCannotBeCompletedFailsWithoutAsking)
{
    MessageBoxAnswerer answerer(IDCANCEL);
    const char *shortVolume = "Z:\\sys\\devices\\system\\cpu\\online";
    for (unsigned i = 0; i < 256; i++)
        WriteFileBytes(VolumePath(i), "v");
    state.totalSize = 100000;
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_TRUE(state.failed && Joined() == std::string(256, 'v')) << "not ended after .255 alone";
    JoinVolumes(shortVolume);
    EXPECT_TRUE(state.failed && Joined() == ReadFileBytes(shortVolume) && answerer.Boxes().empty())
        << "a short volume ignored, or a disk asked for";
}

}  // namespace
