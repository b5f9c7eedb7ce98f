// A real INF installed through each route by Wine's own installers: the files arrive and the
// registry values are written, for the sections that the route names and no others. The work
// directory and the INF name hold spaces, and copies of a stand-in named like the installer
// programs lie in the work directory, where a search for the program would find them first.
//
// The INF path is kept short: Wine's rundll.exe is a 16-bit program that hands its command
// tail on to the system's rundll32.exe in a command line of at most 127 characters, and cuts
// what does not fit; the path gets what the program's path and the fixed words leave.
#include <gtest/gtest.h>

#include <map>

#include "driver.h"
#include "launcher.h"
#include "launcher_test_support.h"
#include "test_support.h"

namespace {

const char infName[] = "route t.inf";
const size_t setupxTailRoom = 127 - (sizeof "C:\\windows\\system32\\rundll32.exe " - 1) -
                              (sizeof "setupx.dll,InstallHinfSection DefaultInstall 132 " - 1);
const char payload[] = "Quarvel launcher payload\r\n";
const char registryKey[] = "Software\\Quarvel\\LauncherTest";
const char *const sections[] = {"DefaultInstall", "DefaultInstall2", "DefaultInstall2.ntx86",
                                "DefaultInstallX"};

std::string Destination()
{
    return WindowsDirectory() + "\\QuarvelLauncherTest\\";
}

void RemoveInstalledSections()
{
    RemoveTree(Destination());
    RegDeleteKeyA(HKEY_CURRENT_USER, registryKey);
}

std::string RegistryValue(const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, registryKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return "";
    char value[64] = "";
    DWORD size = sizeof value - 1, type = 0;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, (BYTE *)value, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? value : "";
}

// For every section: whether its file arrived and its value was written.
std::map<std::string, std::string> InstalledSections()
{
    std::map<std::string, std::string> installed;
    for (const char *section : sections) {
        std::string file = Destination() + section + "\\payload.txt";
        std::string outcome = FileExists(file) ? "file" : "-";
        if (FileExists(file) && ReadFileBytes(file) != payload)
            outcome = "damaged file";
        outcome += RegistryValue(section) == "installed" ? "+value" : "";
        installed[section] = outcome;
    }
    return installed;
}

std::map<std::string, std::string> Expected(std::initializer_list<const char *> ran)
{
    std::map<std::string, std::string> expected;
    for (const char *section : sections)
        expected[section] = "-";
    for (const char *section : ran)
        expected[section] = "file+value";
    return expected;
}

// Takes setupx.dll out of the system directory for its lifetime.
class SetupxAway {
public:
    SetupxAway() : present_(SystemDirectory() + "\\setupx.dll"), away_(present_ + ".away")
    {
        moved_ = MoveFileA(present_.c_str(), away_.c_str()) != 0;
    }
    ~SetupxAway()
    {
        if (moved_)
            MoveFileA(away_.c_str(), present_.c_str());
    }
    bool Moved() const { return moved_; }

private:
    std::string present_, away_;
    bool moved_;
};

class InfRoutes : public testing::Test {
protected:
    void SetUp() override
    {
        RemoveInstalledSections();
        // At the root, whatever the user's temporary directory: the 16-bit route's command
        // line holds 127 characters.
        work = "C:\\qv route\\";
        RemoveTree(work);
        ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
        std::string inf = WindowsPathFromEnvironment("QUARVEL_SOURCE") +
                          "\\tests\\win32\\launcher\\route-test.inf";
        ASSERT_TRUE(CopyFileA(inf.c_str(), (work + infName).c_str(), FALSE)) << inf;
        WriteFileBytes(work + "payload.txt", payload);
        PlantChild(work + "rundll32.exe");
        PlantChild(work + "rundll.exe");
        log = ScratchDirectory("inf route planted") + "planted.log";
        SetChildBehaviour(log, 0, 0);
        startDirectory = CurrentDirectory();
    }
    void TearDown() override
    {
        EXPECT_FALSE(FileExists(log)) << "a program from the work directory ran";
        EXPECT_EQ(CurrentDirectory(), startDirectory);
        ClearChildBehaviour();
        RemoveInstalledSections();
        RemoveTree(work);
    }
    void Launch(bool useAdvpack)
    {
        SetLaunchState(useAdvpack, work, infName, SystemDirectory(), startDirectory);
        MessageBoxAnswerer answerer;  // none is expected; a stray one must not hang the run
        LaunchInfInstallation();
        EXPECT_TRUE(answerer.Boxes().empty());
    }

    std::string work, log, startDirectory;
};

TEST_F(InfRoutes, AdvpackInstallsTheNtSectionThenTheXSection)
{
    Launch(true);
    EXPECT_EQ(InstalledSections(), Expected({"DefaultInstall2.ntx86", "DefaultInstallX"}));
}

// Wine keeps a 16-bit rundll.exe in the Windows directory and a setupx.dll in the system one.
TEST_F(InfRoutes, SetupxInstallsDefaultInstall)
{
    ASSERT_TRUE(FileExists(SystemDirectory() + "\\setupx.dll"));
    ASSERT_LE(work.size() + sizeof infName - 1, setupxTailRoom);
    SetLaunchState(false, work, infName, SystemDirectory(), startDirectory);
    ASSERT_EQ(BuiltCommandLine(firstInfCommand).rfind("rundll.exe setupx.dll,", 0), 0u);
    Launch(false);
    EXPECT_EQ(InstalledSections(), Expected({"DefaultInstall"}));
}

TEST_F(InfRoutes, SetupapiInstallsDefaultInstallWhereSetupxIsMissing)
{
    SetupxAway away;
    ASSERT_TRUE(away.Moved());
    SetLaunchState(false, work, infName, SystemDirectory(), startDirectory);
    ASSERT_EQ(BuiltCommandLine(firstInfCommand).rfind("rundll32.exe setupapi,", 0), 0u);
    Launch(false);
    EXPECT_EQ(InstalledSections(), Expected({"DefaultInstall"}));
}

}  // namespace
