// Binding the cabinet library: which copy is loaded, the error mode, the entry points, and the
// release at program end, watched in this process and in probe processes of their own.
#include <gtest/gtest.h>

#include "cabinet.h"
#include "driver.h"
#include "cabinet_test_support.h"

namespace {

std::string ModulePath(HMODULE module)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, sizeof path);
    return path;
}

// Binding tests start unbound and leave the binding as they found it.
class Binding : public testing::Test {
protected:
    void SetUp() override
    {
        saved_ = cabinetLibrary;
        savedFlag_ = state.cabinetLibraryLoaded;
        savedErrorMode_ = GetErrorMode();
        state.cabinetLibraryLoaded = 0;
        GetSystemDirectoryA(state.systemDirectory, sizeof state.systemDirectory);
    }
    void TearDown() override
    {
        cabinetLibrary = saved_;
        state.cabinetLibraryLoaded = savedFlag_;
        SetErrorMode(savedErrorMode_);
    }

    CabinetLibrary saved_;
    BYTE savedFlag_;
    UINT savedErrorMode_;
};

TEST_F(Binding, BindsTheSystemCopyWithItsFourEntryPoints)
{
    SetErrorMode(SEM_FAILCRITICALERRORS);
    BindCabinetLibrary();
    ASSERT_EQ(state.cabinetLibraryLoaded, 1);
    EXPECT_EQ(lstrcmpiA(ModulePath(cabinetLibrary.module).c_str(),
                        (std::string(state.systemDirectory) + "\\Cabinet.dll").c_str()),
              0);
    const char *names[] = {"FDICreate", "FDIIsCabinet", "FDICopy", "FDIDestroy"};
    for (int i = 0; i < cabinetEntryPointCount; i++)
        EXPECT_EQ(cabinetLibrary.entryPoints[i], GetProcAddress(cabinetLibrary.module, names[i]))
            << names[i];
    EXPECT_EQ(GetErrorMode(), (UINT)SEM_FAILCRITICALERRORS);
}

TEST_F(Binding, ASecondCallLeavesTheBindingAlone)
{
    BindCabinetLibrary();
    ASSERT_EQ(state.cabinetLibraryLoaded, 1);
    CabinetLibrary first = cabinetLibrary;
    CopyText(state.systemDirectory, sizeof state.systemDirectory, "C:\\no such directory");
    SetErrorMode(SEM_NOGPFAULTERRORBOX);
    BindCabinetLibrary();
    EXPECT_EQ(state.cabinetLibraryLoaded, 1);
    EXPECT_EQ(cabinetLibrary.module, first.module);
    for (int i = 0; i < cabinetEntryPointCount; i++)
        EXPECT_EQ(cabinetLibrary.entryPoints[i], first.entryPoints[i]);
    EXPECT_EQ(GetErrorMode(), (UINT)SEM_NOGPFAULTERRORBOX);
}

TEST_F(Binding, AMissingLibraryLeavesTheFlagOffAndTheErrorModeAsItWas)
{
    std::string empty = CabinetScratchDirectory("no-cabinet-library");
    empty.pop_back();
    CopyText(state.systemDirectory, sizeof state.systemDirectory, empty.c_str());
    SetErrorMode(0);
    BindCabinetLibrary();
    EXPECT_EQ(state.cabinetLibraryLoaded, 0);
    EXPECT_EQ(cabinetLibrary.module, nullptr);
    EXPECT_EQ(GetErrorMode(), 0u);
}

// Wine prefers its built-in cabinet.dll to any file of that name. Told to load one from disk
// first, for the probe alone, it searches as Windows does: then a bare-name load really does
// pick up a planted library.
const std::string probeOverrides =
    WineProgramKey("cabinet_binding_probe.exe") + "\\DllOverrides";

class BindingProbe : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, probeOverrides, "cabinet", "native,builtin"));
    }
    static void TearDownTestSuite() { RegDeleteKeyA(HKEY_CURRENT_USER, probeOverrides.c_str()); }
};

// Runs the probe and returns its exit code.
DWORD RunProbe(const std::string &probe, const std::string &arguments)
{
    return RunToExit(probe.c_str(), "\"" + probe + "\" " + arguments, 60000);
}

// A directory holding the probe and a stand-in library under the name Cabinet.dll.
std::string ProbeDirectory(const std::string &name, const char *standIn)
{
    std::string directory = CabinetScratchDirectory(name);
    EXPECT_TRUE(CopyFileA((TestProgramDirectory() + "cabinet_binding_probe.exe").c_str(),
                          (directory + "cabinet_binding_probe.exe").c_str(), FALSE));
    EXPECT_TRUE(CopyFileA((TestProgramDirectory() + standIn).c_str(), (directory + "Cabinet.dll").c_str(),
                          FALSE));
    return directory;
}

TEST_F(BindingProbe, ACabinetDllPlantedBesideTheProgramIsNotLoaded)
{
    std::string directory = ProbeDirectory("planted", "cabinet_stand_in_complete.dll");
    std::string probe = directory + "cabinet_binding_probe.exe";
    std::string mark = directory + "Cabinet.dll.attached";

    // The setup is one in which planting works: a load by the bare name takes the planted copy.
    ASSERT_EQ(RunProbe(probe, "- bare"), 4u);
    ASSERT_TRUE(FileExists(mark));
    DeleteFileA(mark.c_str());

    EXPECT_EQ(RunProbe(probe, "- bind"), 2u);  // the system directory's copy
    EXPECT_FALSE(FileExists(mark)) << "the planted library's DllMain ran";
}

TEST_F(BindingProbe, ALibraryWithoutFDIDestroyIsLoadedQuietlyAndFreedAtTheEnd)
{
    std::string directory = ProbeDirectory("incomplete", "cabinet_stand_in_incomplete.dll");
    std::string system = directory.substr(0, directory.size() - 1);
    EXPECT_EQ(RunProbe(directory + "cabinet_binding_probe.exe", "\"" + system + "\" bind"), 1u);
    // Loaded with no error box of the platform's, and freed by the exit action.
    std::string errorMode = ReadFileBytes(directory + "Cabinet.dll.attached");
    ASSERT_FALSE(errorMode.empty());
    EXPECT_TRUE(std::stoul(errorMode) & SEM_NOOPENFILEERRORBOX);
    EXPECT_TRUE(FileExists(directory + "Cabinet.dll.freed"));
}

TEST_F(BindingProbe, ABoundLibraryIsLoadedOnceAndFreedAtTheEnd)
{
    std::string directory = ProbeDirectory("complete", "cabinet_stand_in_complete.dll");
    std::string system = directory.substr(0, directory.size() - 1);
    EXPECT_EQ(RunProbe(directory + "cabinet_binding_probe.exe",
                       "\"" + system + "\" bind-twice"), 2u);
    // One FreeLibrary unloads it: the second call loaded nothing more.
    EXPECT_TRUE(FileExists(directory + "Cabinet.dll.freed"));
}

}  // namespace
