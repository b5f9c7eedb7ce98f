// The main dialog through its states, on a real dialog driven by the robot, with stand-ins
// for the extraction and the INF launch.
#include <gtest/gtest.h>

#include <algorithm>

#include "controls.h"
#include "dialog_run.h"
#include "fake_work.h"
#include "robot.h"
#include "ui.h"
#include "ui_fixture.h"

namespace {

const char *const defaultCaption = "Self-extracting Archive";
const char *const title = "Quarvel D\xE9mo 2.0";
const char *const licenceCaption = "Informations sur la licence...";

class MainDialog : public InstallerWindowsTest {
protected:
    void SetUp() override
    {
        InstallerWindowsTest::SetUp();
        ResetFakeWork(directory_);
        SetTitle(title);
        SetMessage("Bienvenue dans l'installation de Quarvel D\xE9mo.");
        fakeWork.names = {"setup.inf", "readme.txt", "demo.dll"};
    }

    void TearDown() override { ReleaseFakeWork(); }

    HWND WaitForMain(const char *caption = title)
    {
        return robot::WaitForDialog(caption, GetCurrentProcessId());
    }

    static HWND WaitForLicence()
    {
        return robot::WaitForDialog(licenceCaption, GetCurrentProcessId());
    }

    // Completed: "&OK" is there and enabled.
    static bool WaitForCompletion(HWND dialog)
    {
        return robot::WaitUntil([&] {
            return robot::ControlText(dialog, IDC_CLOSE) == "&OK" &&
                   robot::IsControlEnabled(dialog, IDC_CLOSE);
        });
    }

    static bool Waited(HANDLE event) { return WaitForSingleObject(event, 10000) == WAIT_OBJECT_0; }

    static void Hold(HANDLE &event) { event = CreateEventA(nullptr, TRUE, FALSE, nullptr); }

    std::string PathOf(const std::string &name) { return directory_ + name; }

    // The status texts from the first deletion on.
    static std::vector<std::string> Deletions(DialogRun &run)
    {
        std::vector<std::string> texts = run.TextsSet(IDC_STATUS), deletions;
        for (const std::string &text : texts)
            if (text.find("Efface ") != std::string::npos)
                deletions.push_back(text);
        return deletions;
    }

    std::vector<std::string> ExpectedDeletions()
    {
        std::vector<std::string> texts;
        for (const std::string &name : fakeWork.names)
            texts.push_back(lead + "Efface " + PathOf(name));
        return texts;
    }

    static bool Shown(DialogRun &run, const std::string &text)
    {
        std::vector<std::string> texts = run.TextsSet(IDC_STATUS);
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
};

TEST_F(MainDialog, ReadyShowsTitleMessageAndButtonsAndCloseDeletesNothing)
{
    state.showCompletion = 1;
    DialogRun run("DLG_Main", MainDialogProc);
    HWND dialog = WaitForMain();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(state.mainWindow, dialog);
    EXPECT_EQ(robot::ControlText(dialog, IDC_INSTALL), "&Installer");
    EXPECT_EQ(robot::ControlText(dialog, IDC_CLOSE), "&Quitter");
    EXPECT_EQ(robot::ControlText(dialog, IDC_STATUS), state.messageText);
    EXPECT_TRUE(robot::IsControlEnabled(dialog, IDC_INSTALL));
    EXPECT_TRUE(robot::IsControlEnabled(dialog, IDC_CLOSE));
    EXPECT_EQ((HICON)GetClassLongA(dialog, GCL_HICON), LoadIconA(GetModuleHandleA(nullptr), "MNICON"));
    RECT frame;
    GetWindowRect(dialog, &frame);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2)
        << "centred on the whole screen";
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2);

    WriteFileBytes(PathOf("kept.txt"), "not extracted");
    ASSERT_TRUE(robot::Click(dialog, IDC_CLOSE));
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_EQ(fakeWork.extractions, 0);
    EXPECT_TRUE(Deletions(run).empty());
    EXPECT_TRUE(FileExists(PathOf("kept.txt")));
    EXPECT_EQ(state.installStarted, 0);
}

TEST_F(MainDialog, WithoutTitleKeepsTheTemplateCaptionAndWithoutMessageWaits)
{
    // No message, but a completion screen: no automatic start.
    state.hasTitle = 0;
    SetMessage("");
    state.messageText = defaultMessage;
    state.showCompletion = 1;
    DialogRun run("DLG_Main", MainDialogProc);
    HWND dialog = WaitForMain(defaultCaption);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(robot::ControlText(dialog, IDC_STATUS), defaultMessage);
    ASSERT_TRUE(run.Sync(dialog));
    EXPECT_EQ(fakeWork.extractions, 0);
    robot::PressEscape(dialog);  // Escape is the Close command
    EXPECT_EQ(run.Result(), IDCANCEL);
}

TEST_F(MainDialog, InstallsShowsCompletionAndInfoThenOkDeletesTheFiles)
{
    state.showCompletion = 1;
    SetInfo("Quarvel D\xE9mo, \xA9 2026.");
    Hold(fakeWork.holdExtraction);
    Hold(fakeWork.holdLaunch);
    DialogRun run("DLG_Main", MainDialogProc);
    HWND dialog = WaitForMain();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));

    // Extracting: both buttons refuse clicks, and no command or close request gets through.
    ASSERT_TRUE(Waited(fakeWork.extracting));
    EXPECT_EQ(state.installStarted, 1);
    EXPECT_EQ(robot::ControlText(dialog, IDC_STATUS), lead + "  Extraction: demo.dll");
    EXPECT_FALSE(robot::IsControlEnabled(dialog, IDC_INSTALL));
    EXPECT_FALSE(robot::IsControlEnabled(dialog, IDC_CLOSE));
    EXPECT_FALSE(robot::Click(dialog, IDC_CLOSE));
    robot::PostCommand(dialog, IDC_CLOSE);
    robot::PostCommand(dialog, IDC_INSTALL);
    robot::RequestClose(dialog);
    robot::PressEscape(dialog);
    ASSERT_TRUE(run.Sync(dialog));
    EXPECT_TRUE(FileExists(PathOf("demo.dll"))) << "nothing was deleted in the middle";
    EXPECT_TRUE(robot::FindMessageBox(nullptr, GetCurrentProcessId()).window == nullptr);
    SetEvent(fakeWork.holdExtraction);

    // Installing.
    ASSERT_TRUE(Waited(fakeWork.launching));
    EXPECT_EQ(fakeWork.statusDuringLaunch, installingText);
    robot::PostCommand(dialog, IDC_CLOSE);
    ASSERT_TRUE(run.Sync(dialog));
    SetEvent(fakeWork.holdLaunch);

    // Completed.
    ASSERT_TRUE(WaitForCompletion(dialog));
    EXPECT_TRUE(robot::IsControlEnabled(dialog, IDC_INSTALL));
    EXPECT_EQ(robot::ControlText(dialog, IDC_INSTALL), "&Info");
    EXPECT_EQ(robot::ControlText(dialog, IDC_STATUS), completedText);
    EXPECT_FALSE(fakeWork.buttonsEnabledDuringWork);
    EXPECT_TRUE(fakeWork.dialogVisibleDuringWork);
    EXPECT_EQ(fakeWork.dialogGiven, dialog);
    EXPECT_TRUE(fakeWork.progressWasReportExtractionProgress);

    // "&Info" shows the built-in and the package's information text on every press.
    const std::string info = std::string(builtinInfo) + "Quarvel D\xE9mo, \xA9 2026.";
    for (int press = 0; press < 2; press++) {
        ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
        robot::Box box = robot::WaitForMessageBox("License Information", GetCurrentProcessId());
        ASSERT_NE(box.window, nullptr) << "press " << press;
        EXPECT_EQ(box.text, info);
        EXPECT_TRUE(robot::AnswerMessageBox(box.window, IDOK));
    }
    {
        MessageBoxAnswerer answerer;
        ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
        ASSERT_TRUE(answerer.WaitForBoxes(1));
        EXPECT_EQ(answerer.Boxes()[0].caption, "License Information");
        EXPECT_EQ(answerer.Boxes()[0].text, info);
        EXPECT_EQ(answerer.Boxes()[0].style, (UINT)(MB_OK | MB_ICONINFORMATION));
        ASSERT_TRUE(run.Sync(dialog));
    }
    EXPECT_FALSE(run.Finished());

    ASSERT_TRUE(robot::Click(dialog, IDC_CLOSE));
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_EQ(fakeWork.extractions, 1);
    EXPECT_EQ(fakeWork.launches, 1);
    for (const std::string &name : fakeWork.names)
        EXPECT_FALSE(FileExists(PathOf(name))) << name;

    std::vector<std::string> expected = {state.messageText, lead + "  Extraction: setup.inf",
                                         lead + "  Extraction: readme.txt",
                                         lead + "  Extraction: demo.dll", installingText,
                                         completedText};
    for (const std::string &text : ExpectedDeletions())
        expected.push_back(text);
    EXPECT_EQ(run.TextsSet(IDC_STATUS), expected);
}

// A close request that arrives while the dialog closes itself is not a second Close command:
// every file is deleted once.
TEST_F(MainDialog, WithoutCompletionClosesItselfAfterTheInstallation)
{
    fakeWork.closeRequestAtLaunchEnd = true;
    DialogRun run("DLG_Main", MainDialogProc);
    HWND dialog = WaitForMain();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_EQ(fakeWork.launches, 1);
    EXPECT_EQ(Deletions(run), ExpectedDeletions());
    for (const std::string &name : fakeWork.names)
        EXPECT_FALSE(FileExists(PathOf(name))) << name;
    EXPECT_FALSE(Shown(run, completedText));
}

TEST_F(MainDialog, WithoutMessageAndCompletionInstallsWithoutEverShowing)
{
    SetMessage("");
    state.messageText = defaultMessage;
    Hold(fakeWork.holdExtraction);
    DialogRun run("DLG_Main", MainDialogProc);
    ASSERT_TRUE(Waited(fakeWork.extracting));
    EXPECT_EQ(robot::FindDialog(title, GetCurrentProcessId()), nullptr);
    SetEvent(fakeWork.holdExtraction);
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_FALSE(fakeWork.dialogVisibleDuringWork);
    EXPECT_EQ(fakeWork.launches, 1);
    EXPECT_EQ(Deletions(run), ExpectedDeletions());
}

TEST_F(MainDialog, AutomaticStartShowsTheLicenceFirst)
{
    SetMessage("");
    state.messageText = defaultMessage;
    SetLicence("Licence de d\xE9monstration.");
    DialogRun run("DLG_Main", MainDialogProc);
    HWND licence = WaitForLicence();
    ASSERT_NE(licence, nullptr);
    EXPECT_EQ(robot::FindDialog(title, GetCurrentProcessId()), nullptr)
        << "the main dialog is not shown before the licence";
    ASSERT_TRUE(robot::Click(licence, IDOK));
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_EQ(fakeWork.extractions, 1);
    EXPECT_FALSE(fakeWork.dialogVisibleDuringWork);
}

TEST_F(MainDialog, DecliningTheLicenceReturnsToReadyEveryWay)
{
    // An automatic start whose licence is declined shows the dialog in Ready.
    SetMessage("");
    state.messageText = defaultMessage;
    SetLicence("Licence.");
    DialogRun run("DLG_Main", MainDialogProc);
    for (int way = 0; way < 3; way++) {
        SCOPED_TRACE(way);
        HWND licence = WaitForLicence();
        ASSERT_NE(licence, nullptr);
        if (way == 0)
            ASSERT_TRUE(robot::Click(licence, IDCANCEL));
        else if (way == 1)
            robot::PressEscape(licence);
        else
            robot::RequestClose(licence);
        ASSERT_TRUE(robot::WaitUntilGone(licence));
        HWND dialog = WaitForMain();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(robot::ControlText(dialog, IDC_STATUS), defaultMessage);
        EXPECT_EQ(robot::ControlText(dialog, IDC_INSTALL), "&Installer");
        EXPECT_TRUE(robot::IsControlEnabled(dialog, IDC_INSTALL));
        EXPECT_TRUE(robot::IsControlEnabled(dialog, IDC_CLOSE));
        EXPECT_EQ(state.installStarted, 0);
        EXPECT_EQ(fakeWork.extractions, 0);
        ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    }
    HWND licence = WaitForLicence();
    ASSERT_NE(licence, nullptr);
    ASSERT_TRUE(robot::Click(licence, IDOK));
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_EQ(fakeWork.extractions, 1);
}

TEST_F(MainDialog, RemovedInstallButtonLeavesOkAndEnterCloses)
{
    state.showCompletion = 1;
    state.removeInstallButton = 1;
    Hold(fakeWork.holdExtraction);
    DialogRun run("DLG_Main", MainDialogProc);
    HWND dialog = WaitForMain();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    ASSERT_TRUE(Waited(fakeWork.extracting));
    EXPECT_FALSE(robot::HasControl(dialog, IDC_INSTALL));
    SetEvent(fakeWork.holdExtraction);

    ASSERT_TRUE(WaitForCompletion(dialog));
    EXPECT_EQ(robot::ControlText(dialog, IDC_STATUS), completedText);
    EXPECT_FALSE(robot::HasControl(dialog, IDC_INSTALL));
    robot::PressEnter(dialog);  // without the button, Enter gives its command, now a Close
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_EQ(Deletions(run), ExpectedDeletions());
    EXPECT_TRUE(robot::FindMessageBox(nullptr, GetCurrentProcessId()).window == nullptr)
        << "no Info box";
}

TEST_F(MainDialog, FailedExtractionEndsWithOneAndNoInstallation)
{
    state.showCompletion = 1;
    fakeWork.succeed = false;
    DialogRun run("DLG_Main", MainDialogProc);
    HWND dialog = WaitForMain();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    EXPECT_EQ(run.Result(), IDOK);
    EXPECT_EQ(fakeWork.launches, 0);
    for (const std::string &text : run.TextsSet(IDC_STATUS))
        EXPECT_EQ(text.find("Mise \xE0 jour du syst\xE8me:"), std::string::npos) << text;
    EXPECT_TRUE(Deletions(run).empty());
    EXPECT_TRUE(FileExists(PathOf("demo.dll"))) << "what was extracted is left to the driver";
}

TEST_F(MainDialog, SecondLicenceDialogDoesNotStartTheWorkTwice)
{
    state.showCompletion = 1;
    SetLicence("Licence.");
    DialogRun run("DLG_Main", MainDialogProc);
    HWND dialog = WaitForMain();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    HWND first = WaitForLicence();
    ASSERT_NE(first, nullptr);
    // The licence dialog has no owner: the main dialog still takes a second Install.
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    HWND second = nullptr;
    ASSERT_TRUE(robot::WaitUntil([&] {
        for (HWND found : robot::FindTopWindows("#32770", licenceCaption, GetCurrentProcessId()))
            if (found != first)
                second = found;
        return second != nullptr;
    }));
    ASSERT_TRUE(robot::Click(second, IDOK));
    ASSERT_TRUE(WaitForCompletion(dialog));
    ASSERT_TRUE(robot::Click(first, IDOK));
    ASSERT_TRUE(robot::WaitUntilGone(first));
    ASSERT_TRUE(run.Sync(dialog));
    EXPECT_EQ(fakeWork.extractions, 1);
    EXPECT_EQ(fakeWork.launches, 1);
    ASSERT_TRUE(robot::Click(dialog, IDC_CLOSE));
    EXPECT_EQ(run.Result(), IDCANCEL);
}

TEST_F(MainDialog, ClosingWhileTheLicenceIsOpenStartsNothing)
{
    state.showCompletion = 1;
    SetLicence("Licence.");
    DialogRun run("DLG_Main", MainDialogProc);
    HWND dialog = WaitForMain();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    HWND licence = WaitForLicence();
    ASSERT_NE(licence, nullptr);
    ASSERT_TRUE(robot::Click(dialog, IDC_CLOSE));
    ASSERT_TRUE(robot::WaitUntilGone(dialog));
    ASSERT_TRUE(robot::Click(licence, IDOK));
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_EQ(fakeWork.extractions, 0);
    EXPECT_EQ(state.installStarted, 0);
}

}  // namespace
