// The main dialog over the real extraction and the real INF installer: a package-like file
// whose cabinet (made by gcab at build time) lies at its cabinet offset, extracted through the
// system cabinet library and installed by the system's INF installer, all under Wine.
#include <gtest/gtest.h>

#include "cabinet.h"
#include "controls.h"
#include "dialog_run.h"
#include "robot.h"
#include "ui.h"
#include "ui_fixture.h"

namespace {

const char *const title = "Quarvel UI";
const char *const registryKey = "Software\\Quarvel\\UiInstallTest";
const std::string lead = "\r\n\r\n\r\n\r\n";
const std::string installingText =
    "\r\n\r\n\r\nMise \xE0 jour du syst\xE8me:\r\n\r\nVeuillez patienter...";
// Where a package with a short title, INF name and texts has its cabinet.
constexpr DWORD cabinetOffset = textOffset + 200;

std::string TestBinary(const std::string &name)
{
    return WindowsPathFromEnvironment("QUARVEL_TEST_BIN") + "\\" + name;
}

std::string InstalledValue(const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, registryKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return "";
    char value[64] = "";
    DWORD size = sizeof value - 1, type = 0;
    RegQueryValueExA(key, name, nullptr, &type, (BYTE *)value, &size);
    RegCloseKey(key);
    return value;
}

// The values that the two advpack sections write: "yes yes" when both ran.
std::string InstalledValues()
{
    return InstalledValue("First") + " " + InstalledValue("Second");
}

class RealInstallation : public InstallerWindowsTest {
protected:
    void SetUp() override
    {
        InstallerWindowsTest::SetUp();
        RegDeleteKeyA(HKEY_CURRENT_USER, registryKey);
        GetSystemDirectoryA(state.systemDirectory, sizeof state.systemDirectory);
        GetCurrentDirectoryA(sizeof state.currentDirectory, state.currentDirectory);
        BindCabinetLibrary();
        ASSERT_EQ(state.cabinetLibraryLoaded, 1);
        work_ = directory_ + "work\\";
        CreateDirectoryA(work_.c_str(), nullptr);
        CopyText(state.workDirectory, pathBufferSize, work_.c_str());
        CopyText(state.infName, pathBufferSize, "quarvel-ui.inf");
        state.useAdvpack = 1;
        SetTitle(title);
        SetMessage("Installation de test.");
    }

    // The package file: anything up to the cabinet offset, then the cabinet.
    void WritePackage(const std::string &cabinet)
    {
        std::string package = directory_ + "package.exe";
        WriteFileBytes(package, std::string(cabinetOffset, 'P') + cabinet);
        CopyText(state.packagePath, pathBufferSize, package.c_str());
        state.cabinetOffset = cabinetOffset;
        state.totalSize = cabinetOffset + (DWORD)cabinet.size();
    }

    std::string work_;
};

TEST_F(RealInstallation, ExtractsInstallsCompletesAndOkDeletesTheFiles)
{
    std::string cabinet = ReadFileBytes(TestBinary("ui-install.cab"));
    ASSERT_FALSE(cabinet.empty());
    WritePackage(cabinet);
    state.showCompletion = 1;
    DialogRun run("DLG_Main", MainDialogProc);
    HWND dialog = robot::WaitForDialog(title, GetCurrentProcessId());
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    ASSERT_TRUE(robot::WaitUntil([&] {
        return robot::ControlText(dialog, IDC_CLOSE) == "&OK" &&
               robot::IsControlEnabled(dialog, IDC_CLOSE);
    }, 60000));

    EXPECT_EQ(InstalledValues(), "yes yes") << "the INF installer ran";
    EXPECT_EQ(ReadFileBytes(work_ + "payload.txt"), "Quarvel UI test payload.\r\n");
    EXPECT_TRUE(FileExists(work_ + "quarvel-ui.inf"));
    EXPECT_EQ(robot::ControlText(dialog, IDC_INSTALL), "&Info");

    ASSERT_TRUE(robot::Click(dialog, IDC_CLOSE));
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_FALSE(FileExists(work_ + "payload.txt"));
    EXPECT_FALSE(FileExists(work_ + "quarvel-ui.inf"));

    std::vector<std::string> texts = run.TextsSet(IDC_STATUS);
    std::vector<std::string> expected = {state.messageText};
    for (const char *name : {"payload.txt", "quarvel-ui.inf"})
        expected.push_back(lead + "  Extraction: " + name);
    expected.push_back(installingText);
    expected.push_back(lead + "Installation compl\xE9t\xE9" "e avec succ\xE8s!");
    for (const char *name : {"payload.txt", "quarvel-ui.inf"})
        expected.push_back(lead + "Efface " + work_ + name);
    EXPECT_EQ(texts, expected);
}

TEST_F(RealInstallation, WithoutMessageOrCompletionRunsToTheEndWithoutAClick)
{
    WritePackage(ReadFileBytes(TestBinary("ui-install.cab")));
    SetMessage("");
    state.messageText = defaultMessage;
    DialogRun run("DLG_Main", MainDialogProc);
    EXPECT_EQ(run.Result(60000), IDCANCEL);
    EXPECT_EQ(InstalledValues(), "yes yes");
    EXPECT_FALSE(FileExists(work_ + "payload.txt"));
    EXPECT_EQ(state.extractedFileCount, 2);
}

TEST_F(RealInstallation, FailedExtractionEndsWithOneWithoutInstalling)
{
    // Not a cabinet: the extraction reports it in its own box, which the robot answers.
    WritePackage(std::string(400, 'x'));
    state.showCompletion = 1;
    DialogRun run("DLG_Main", MainDialogProc);
    HWND dialog = robot::WaitForDialog(title, GetCurrentProcessId());
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    robot::Box box = robot::WaitForMessageBox(nullptr, GetCurrentProcessId());
    ASSERT_NE(box.window, nullptr);
    EXPECT_TRUE(robot::AnswerMessageBox(box.window, IDOK));
    EXPECT_EQ(run.Result(), IDOK);
    EXPECT_EQ(InstalledValues(), " ");
    for (const std::string &text : run.TextsSet(IDC_STATUS))
        EXPECT_EQ(text.find("Mise \xE0 jour"), std::string::npos) << text;
}

}  // namespace
