// Joining volume files under Wine: names, order, the disk prompt and every way a join ends.
#include <gtest/gtest.h>

#include <cstdio>

#include "driver.h"
#include "package.h"
#include "package_builder.h"
#include "signature.h"
#include "test_support.h"

namespace {

std::string VolumeNumber(DWORD number)
{
    char text[4];
    FormatVolumeNumber(number, text);
    return text;
}

TEST(VolumeNames, AreThreeDigitsPaddedWithZeros)
{
    EXPECT_EQ(VolumeNumber(0), "000");
    EXPECT_EQ(VolumeNumber(1), "001");
    EXPECT_EQ(VolumeNumber(12), "012");
    EXPECT_EQ(VolumeNumber(123), "123");
    EXPECT_EQ(VolumeNumber(255), "255");
}

class Join : public testing::Test {
protected:
    static void SetUpTestSuite() { AllocateBuffers(); }
    static void TearDownTestSuite() { ReleaseBuffers(); }

    void SetUp() override
    {
        disk_ = ScratchDirectory("volumes-disk");
        work_ = ScratchDirectory("volumes-work");
        CopyText(state.workDirectory, pathBufferSize, work_.c_str());
        CopyText(state.title, pathBufferSize, "Paquet");
        state.failed = 0;
    }

    // Volumes named like an installer and its continuations; totalSize is their joined size.
    std::string MakeVolumes(const std::vector<std::string> &contents)
    {
        std::string joined;
        for (size_t i = 0; i < contents.size(); i++) {
            WriteFileBytes(VolumePath(i), contents[i]);
            joined += contents[i];
        }
        state.totalSize = (DWORD)joined.size();
        return joined;
    }

    std::string VolumePath(size_t index)
    {
        // Named here, not with FormatVolumeNumber: a wrong name must not find its own file.
        char extension[8];
        snprintf(extension, sizeof extension, ".%03u", (unsigned)index);
        return disk_ + "SETUP" + (index == 0 ? std::string(".EXE") : extension);
    }

    std::string Joined() { return ReadFileBytes(work_ + "Quarvel.pkg"); }

    std::string disk_, work_;
};

TEST_F(Join, ConcatenatesTheVolumesInOrder)
{
    MessageBoxAnswerer answerer(IDCANCEL);
    std::string expected = MakeVolumes({std::string(50000, 'a'), "second", std::string(90001, 'c')});
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_FALSE(state.failed);
    EXPECT_EQ(Joined(), expected);
    EXPECT_STREQ(state.packagePath, (work_ + "Quarvel.pkg").c_str());
    EXPECT_EQ(state.volumeCount, 3);
    EXPECT_TRUE(answerer.Boxes().empty());
    EXPECT_EQ(state.packageHandle, INVALID_HANDLE_VALUE);  // left closed
}

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

TEST_F(Join, AnInstallerThatHoldsEverythingIsCopiedAlone)
{
    MessageBoxAnswerer answerer(IDCANCEL);
    std::string expected = MakeVolumes({"the whole package"});
    WriteFileBytes(VolumePath(1), "never read");
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_FALSE(state.failed);
    EXPECT_EQ(Joined(), expected);
    EXPECT_TRUE(answerer.Boxes().empty());
}

TEST_F(Join, AnOldJoinedFileIsReplaced)
{
    WriteFileBytes(work_ + "Quarvel.pkg", std::string(100000, 'o'));
    std::string expected = MakeVolumes({"new", "package"});
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_EQ(Joined(), expected);
}

TEST_F(Join, AMissingVolumeIsAskedForAndCancelFailsTheJoin)
{
    MessageBoxAnswerer answerer(IDCANCEL);
    MakeVolumes({"first", "second"});
    DeleteFileA(VolumePath(1).c_str());
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_TRUE(state.failed);
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    ShownBox box = answerer.Boxes()[0];
    EXPECT_EQ(box.caption, "Paquet");
    EXPECT_EQ(box.text, "Veuillez ins\351rer le disque n\260 2...\n" + VolumePath(1) + " required)");
    EXPECT_EQ(box.style, (UINT)(MB_OKCANCEL | MB_ICONINFORMATION));
    EXPECT_EQ(Joined(), "first");  // left for the shutdown to delete
}

TEST_F(Join, OkAfterTheVolumeAppearsGoesOn)
{
    MessageBoxAnswerer answerer(IDOK);
    std::string expected = MakeVolumes({"first", "second", "third"});
    DeleteFileA(VolumePath(2).c_str());
    std::string third = VolumePath(2);
    answerer.SetBeforeAnswer([&](const ShownBox &) { WriteFileBytes(third, "third"); });
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_FALSE(state.failed);
    EXPECT_EQ(Joined(), expected);
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_NE(answerer.Boxes()[0].text.find("disque n\260 3...\n"), std::string::npos);
}

TEST_F(Join, APackageWithoutTitleAsksUnderAnEmptyCaption)
{
    MessageBoxAnswerer answerer(IDCANCEL);
    state.title[0] = 0;
    MakeVolumes({"first", "second"});
    DeleteFileA(VolumePath(1).c_str());
    JoinVolumes(VolumePath(0).c_str());
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_EQ(answerer.Boxes()[0].caption, "");
}

TEST_F(Join, AJoinedFileThatCannotBeCreatedReadsNoVolume)
{
    MessageBoxAnswerer answerer(IDCANCEL);
    MakeVolumes({"first"});
    CreateDirectoryA((work_ + "Quarvel.pkg").c_str(), nullptr);  // a directory in its place
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_TRUE(state.failed);
    EXPECT_TRUE(answerer.Boxes().empty());
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
    std::vector<std::string> volumes(256, "v");
    MakeVolumes(volumes);
    state.totalSize += 10;  // still short after .255
    JoinVolumes(VolumePath(0).c_str());
    EXPECT_TRUE(state.failed);
    EXPECT_EQ(Joined().size(), 256u);
    EXPECT_TRUE(answerer.Boxes().empty());
}

}  // namespace
