// The callbacks on real files: the handle table, the open flags, the cabinet handle's view of
// the package file and the unscrambling of reads.
#include <gtest/gtest.h>

#include <algorithm>

#include "cabinet.h"
#include "cabinet_test_support.h"
#include "driver.h"
#include "scramble.h"

namespace {

TEST(CabinetHandleTable, HoldsEachHandleOnceAndFiveAtMost)
{
    ResetCabinetHandles();
    AddCabinetHandle(0x100);
    AddCabinetHandle(0x100);
    RemoveCabinetHandle(0x100);
    EXPECT_FALSE(IsCabinetHandle(0x100)) << "one handle took two slots";

    for (INT_PTR h = 0x200; h < 0x206; h++)
        AddCabinetHandle(h);
    EXPECT_TRUE(IsCabinetHandle(0x204));
    EXPECT_FALSE(IsCabinetHandle(0x205)) << "a sixth handle was recorded";
    RemoveCabinetHandle(0x999);  // not held: nothing happens
    RemoveCabinetHandle(0x202);
    AddCabinetHandle(0x300);  // takes the freed slot
    EXPECT_TRUE(IsCabinetHandle(0x300));
    EXPECT_TRUE(IsCabinetHandle(0x200));
    ResetCabinetHandles();
    EXPECT_FALSE(IsCabinetHandle(0x200));
}

DWORD FilePosition(INT_PTR handle)
{
    return SetFilePointer((HANDLE)handle, 0, nullptr, FILE_CURRENT);
}

std::string ReadThrough(INT_PTR handle, UINT count)
{
    std::string bytes(count, '\0');
    bytes.resize(CabinetRead(handle, &bytes[0], count));
    return bytes;
}

class Callbacks : public testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        directory_ = CabinetScratchDirectory("callbacks");
        cabinet_ = SharedCabinet("good/normal_2files_1folder.cab");
        WritePackage(directory_ + "setup.exe", cabinet_, 70001, GetParam());
        ResetCabinetHandles();
    }
    void TearDown() override
    {
        for (INT_PTR handle : opened_)
            CabinetClose(handle);
        state.cabinetScrambled = 0;
    }
    INT_PTR Open(const std::string &name, int flags = 0x8000)
    {
        INT_PTR handle = CabinetOpen((char *)name.c_str(), flags, 0);
        if (handle != -1)
            opened_.push_back(handle);
        return handle;
    }
    void Close(INT_PTR handle)
    {
        opened_.erase(std::find(opened_.begin(), opened_.end(), handle));
        CabinetClose(handle);
    }

    std::string directory_, cabinet_;
    std::vector<INT_PTR> opened_;
};

TEST_P(Callbacks, ACabinetHandleSeesTheCabinetAsAFileOfItsOwn)
{
    INT_PTR handle = Open(state.packagePath);
    ASSERT_NE(handle, -1);
    EXPECT_TRUE(IsCabinetHandle(handle));
    EXPECT_EQ(FilePosition(handle), state.cabinetOffset);
    EXPECT_EQ(ReadThrough(handle, 64), cabinet_.substr(0, 64));  // plain, scrambled or not

    EXPECT_EQ(CabinetSeek(handle, 0, SEEK_SET), 0);
    EXPECT_EQ(FilePosition(handle), state.cabinetOffset);
    EXPECT_EQ(CabinetSeek(handle, 0, SEEK_END), (LONG)cabinet_.size());
    EXPECT_EQ(CabinetSeek(handle, 40, SEEK_SET), 40);
    EXPECT_EQ(CabinetSeek(handle, 10, SEEK_CUR), 50);
    EXPECT_EQ(ReadThrough(handle, 20), cabinet_.substr(50, 20));
    EXPECT_EQ(CabinetSeek(handle, -3, SEEK_END), (LONG)cabinet_.size() - 3);

    Close(handle);
    EXPECT_FALSE(IsCabinetHandle(handle));
}

TEST_P(Callbacks, AFailedSeekOnACabinetHandleAnswersMinusOne)
{
    INT_PTR handle = Open(state.packagePath);
    LONG size = (LONG)cabinet_.size();
    EXPECT_EQ(CabinetSeek(handle, -(LONG)state.cabinetOffset - 10, SEEK_SET), -1);
    EXPECT_EQ(CabinetSeek(handle, 0x7FFFFFF0, SEEK_SET), -1);  // past 2 GiB with the offset
    // Positions in front of the cabinet do not exist for the library either.
    EXPECT_EQ(CabinetSeek(handle, -100, SEEK_SET), -1);
    EXPECT_EQ(CabinetSeek(handle, -size - 100, SEEK_END), -1);
    EXPECT_EQ(CabinetSeek(handle, 0, SEEK_SET), 0);
    EXPECT_EQ(CabinetSeek(handle, -100, SEEK_CUR), -1);
    EXPECT_EQ(CabinetSeek(handle, 8, SEEK_SET), 8);
}

TEST_P(Callbacks, ANameThatOnlyLooksLikeThePackagePathIsNoCabinetHandle)
{
    std::string upper = state.packagePath, slashed = state.packagePath;
    CharUpperA(&upper[0]);
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    ASSERT_NE(upper, std::string(state.packagePath));
    for (const std::string &name : {upper, slashed}) {
        INT_PTR handle = Open(name);
        ASSERT_NE(handle, -1) << name;
        EXPECT_FALSE(IsCabinetHandle(handle)) << name;
        EXPECT_EQ(FilePosition(handle), 0u) << name;
        EXPECT_EQ(CabinetSeek(handle, 4, SEEK_SET), 4) << name;
        EXPECT_EQ(CabinetSeek(handle, 0, SEEK_END), (LONG)state.totalSize) << name;
    }
}

TEST_P(Callbacks, AFullTableStillPositionsTheSixthHandle)
{
    INT_PTR handles[6];
    for (INT_PTR &handle : handles)
        handle = Open(state.packagePath);
    EXPECT_TRUE(IsCabinetHandle(handles[4]));
    EXPECT_FALSE(IsCabinetHandle(handles[5]));
    EXPECT_EQ(FilePosition(handles[5]), state.cabinetOffset);
    EXPECT_EQ(ReadThrough(handles[5], 4), "MSCF");
    EXPECT_EQ(CabinetSeek(handles[5], 0, SEEK_SET), 0);  // untranslated: the file's start
    EXPECT_EQ(FilePosition(handles[5]), 0u);
}

TEST_P(Callbacks, EveryReadIsUnscrambledWhateverItsSizeOrHandle)
{
    uint8_t key = GetParam() ? CabinetKey(state.totalSize) : 0;
    ASSERT_TRUE(!GetParam() || key != 0);
    std::string stored = ReadFileBytes(state.packagePath);
    std::string slashed = state.packagePath;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    INT_PTR plainHandle = Open(slashed);  // reads the whole file, decoy and filler too
    std::string whole;
    for (UINT size = 1; whole.size() < stored.size(); size = size * 3 % 5000 + 1)
        whole += ReadThrough(plainHandle, size);
    ASSERT_EQ(whole.size(), stored.size());
    size_t wrong = 0;
    for (size_t i = 0; i < stored.size(); i++)
        wrong += (uint8_t)whole[i] != ((uint8_t)stored[i] ^ key);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(whole.substr(state.cabinetOffset), cabinet_);
    // A short read changes nothing beyond what it read.
    CabinetSeek(plainHandle, -3, SEEK_END);
    char buffer[8] = "ABCDEFG";
    ASSERT_EQ(CabinetRead(plainHandle, buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(buffer + 3), "DEFG");
    EXPECT_EQ(std::string(buffer, 3), cabinet_.substr(cabinet_.size() - 3));
}

TEST_P(Callbacks, OutputFilesAreWrittenAndPositionedUntouched)
{
    std::string path = directory_ + "out.bin";
    INT_PTR handle = Open(path, 0x8121);
    ASSERT_NE(handle, -1);
    EXPECT_FALSE(IsCabinetHandle(handle));
    std::string data = "plain bytes, never scrambled";
    EXPECT_EQ(CabinetWrite(handle, &data[0], (UINT)data.size()), data.size());
    EXPECT_EQ(CabinetSeek(handle, 0, SEEK_END), (LONG)data.size());
    EXPECT_EQ(CabinetSeek(handle, 6, SEEK_SET), 6);
    Close(handle);
    EXPECT_EQ(ReadFileBytes(path), data);
}

INSTANTIATE_TEST_SUITE_P(PlainAndScrambled, Callbacks, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "Scrambled" : "Plain";
                         });

struct OpenCase {
    int flags;
    bool existsBefore;
    bool opens;
    bool reads, writes;
    DWORD sizeAfterOpen;
    const char *what;
};

const OpenCase openCases[] = {
    {0x8000, true, true, true, false, 6, "read only, the file as it is"},
    {0x8000, false, false, false, false, 0, "read only needs the file"},
    {0x8001, true, true, false, true, 6, "write only keeps the contents"},
    {0x8002, true, true, true, true, 6, "read and write"},
    {0x8003, true, true, false, true, 6, "write only wins over read and write"},
    {0x8121, true, true, false, true, 0, "an extracted file: created anew, write only"},
    {0x8121, false, true, false, true, 0, "an extracted file that is new"},
    {0x0201, true, true, false, true, 0, "truncate"},
    {0x0201, false, false, false, false, 0, "truncate needs the file"},
    {0x0301, false, true, false, true, 0, "create wins over truncate"},
    {0x0418, true, true, true, false, 6, "append, exclusive and random access change nothing"},
};

TEST(CabinetOpen, MapsTheRuntimeOpenFlags)
{
    std::string directory = CabinetScratchDirectory("open-flags");
    ResetCabinetHandles();
    for (const OpenCase &row : openCases) {
        SCOPED_TRACE(row.what);
        std::string path = directory + "file";
        DeleteFileA(path.c_str());
        if (row.existsBefore)
            WriteFileBytes(path, "before");
        INT_PTR handle = CabinetOpen(&path[0], row.flags, 0);
        ASSERT_EQ(handle != -1, row.opens);
        if (handle == -1) {
            EXPECT_FALSE(FileExists(path));
            continue;
        }
        EXPECT_EQ(GetFileSize((HANDLE)handle, nullptr), row.sizeAfterOpen);
        char byte;
        DWORD count = 0;
        EXPECT_EQ(ReadFile((HANDLE)handle, &byte, 1, &count, nullptr) != 0, row.reads);
        EXPECT_EQ(WriteFile((HANDLE)handle, "x", 1, &count, nullptr) != 0, row.writes);
        // Shared for reading only, while the library holds it.
        HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(reader, INVALID_HANDLE_VALUE);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
        CloseHandle(reader);
        CloseHandle(writer);
        EXPECT_EQ(CabinetClose(handle), 0);
    }
}

}  // namespace
