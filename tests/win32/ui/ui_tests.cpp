// The installer's windows on real dialogs, driven by the robot, with stand-ins for the
// extraction and the INF launch: the edges of the states that a real installer cannot reach.
#include <gtest/gtest.h>

#include <functional>

#include "cabinet.h"
#include "controls.h"
#include "launcher.h"
#include "robot.h"
#include "test_support.h"
#include "ui.h"

namespace {

char title[] = "Quarvel D\351mo 2.0";
const char *const licenceCaption = "Informations sur la licence...";
const DWORD self = GetCurrentProcessId();
const std::string lead = "\r\n\r\n\r\n\r\n";
const std::string installing =
    "\r\n\r\n\r\nMise \340 jour du syst\350me:\r\n\r\nVeuillez patienter...";

// The stand-ins "extract" the files into a scratch directory and call the test back on the
// dialog's thread as the extraction, or the launch, ends.
struct FakeWork {
    std::string directory;
    std::vector<std::string> names = {"setup.inf", "readme.txt", "demo.dll"};
    bool succeed = true;
    std::function<void(HWND dialog)> extracted, launched;
    int extractions = 0, launches = 0;
} work;

}  // namespace

void ExtractCabinet(HWND dialog, ProgressCallback progress)
{
    work.extractions++;
    for (const std::string &name : work.names) {
        progress(name.c_str());
        WriteFileBytes(work.directory + name, name);
        CopyText(state.extractedFiles[state.extractedFileCount++], extractedPathSize,
                 (work.directory + name).c_str());
    }
    if (work.extracted)
        work.extracted(dialog);
    state.extractionSucceeded = work.succeed;
}

void LaunchInfInstallation(void)
{
    work.launches++;
    if (work.launched)
        work.launched(state.mainWindow);
}

namespace {

std::vector<std::string> statusTexts;  // written by the dialog's thread, read once it has ended

LRESULT CALLBACK LogStatusText(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *sent = (const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && sent->message == WM_SETTEXT && GetDlgCtrlID(sent->hwnd) == IDC_STATUS)
        statusTexts.push_back((const char *)sent->lParam);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

DWORD WINAPI RunMainDialog(void *)
{
    SetWindowsHookExA(WH_CALLWNDPROC, LogStatusText, nullptr, GetCurrentThreadId());
    return (DWORD)RunModalDialog(GetModuleHandleA(nullptr), "DLG_Main", nullptr, MainDialogProc);
}

// The main dialog on a thread of its own, as the installer runs it on its one thread, for the
// test's thread to drive. WM_QUIT ends every modal loop still open on it (a failed test).
struct MainDialogRun {
    HANDLE thread = (statusTexts.clear(), CreateThread(nullptr, 0, RunMainDialog, nullptr, 0, 0));
    ~MainDialogRun()
    {
        PostThreadMessageA(GetThreadId(thread), WM_QUIT, 0, 0);
        WaitForSingleObject(thread, robot::ScaledTimeout(10000));
        CloseHandle(thread);
    }
    // The dialog's result, or STILL_ACTIVE while it is open after the time-out.
    INT_PTR Result()
    {
        DWORD code = STILL_ACTIVE;
        WaitForSingleObject(thread, robot::ScaledTimeout(10000));
        GetExitCodeThread(thread, &code);
        return (int)code;
    }
};

// Centring keeps the size and rounds toward zero: -3 / 2 is -1, where a shift gives -2. The
// progress shows a stored name whole, as long as a cabinet allows, in the status control, and
// handles the thread's oldest message, one only.
TEST(WindowHelpers, CentringAndProgress)
{
    int width = GetSystemMetrics(SM_CXSCREEN) + 3, height = GetSystemMetrics(SM_CYSCREEN) + 5;
    state.mainWindow = CreateWindowExA(0, "STATIC", "", WS_POPUP, 7, 9, width, height, nullptr,
                                       nullptr, nullptr, nullptr);
    HWND status = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 9, 9, state.mainWindow,
                                  (HMENU)IDC_STATUS, nullptr, nullptr);
    CentreWindow(state.mainWindow);
    RECT frame;
    GetWindowRect(state.mainWindow, &frame);
    EXPECT_EQ(frame.left, -1);
    EXPECT_EQ(frame.top, -2);
    EXPECT_EQ(frame.right - frame.left, width);

    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    PostMessageA(status, WM_APP, 0, 0);
    PostMessageA(status, WM_APP + 1, 0, 0);
    std::string name = "docs\\" + std::string(250, 'n');
    ReportExtractionProgress(name.c_str());
    EXPECT_EQ(robot::Text(status), lead + "  Extraction: " + name);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE));
    EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_APP + 1, WM_APP + 1, PM_REMOVE));
    DestroyWindow(state.mainWindow);
}

class MainDialog : public testing::Test {
protected:
    void SetUp() override
    {
        FillBytes(&state, 0, sizeof state);
        state.title = title;
        state.hasTitle = 1;
        state.messageText = "Bienvenue.";
        state.messageLength = 10;
        state.licenceText = "Licence.";  // shown once licenceLength is set
        work = FakeWork();
        work.directory = ScratchDirectory("ui");
    }

    static HWND WaitFor(const char *caption = title) { return robot::WaitForDialog(caption, self); }
    static bool WaitForCompletion(HWND dialog)
    {
        return robot::WaitUntil([&] { return robot::ControlText(dialog, IDC_CLOSE) == "&OK"; });
    }
    // The status texts of an installation: the message, each file extracted, the INF launch,
    // the completion screen when there is one, each file deleted once.
    static std::vector<std::string> InstallationTexts()
    {
        std::vector<std::string> texts = {state.messageText};
        for (const std::string &name : work.names)
            texts.push_back(lead + "  Extraction: " + name);
        texts.push_back(installing);
        if (state.showCompletion)
            texts.push_back(lead + "Installation compl\351t\351" "e avec succ\350s!");
        for (const std::string &name : work.names)
            texts.push_back(lead + "Efface " + work.directory + name);
        return texts;
    }
};

// Install, then Info and OK on the completion screen. Without a title the template's caption
// stays; without a message but with a completion screen, the dialog waits for Install.
TEST_F(MainDialog, TheWorkTakesNoCommandThenInfoShowsBothTexts)
{
    state.hasTitle = 0;
    state.messageLength = 0;
    state.showCompletion = 1;
    CopyText(state.builtinInfoText, sizeof state.builtinInfoText, "Built in.\r\n");
    char info[] = "Quarvel D\351mo, \251 2026.";
    state.infoText = info;
    // While the work runs the buttons are disabled, and no command or close request gets
    // through: posted as the extraction and the launch end, they are handled there.
    bool buttonsEnabled = false;
    std::string statusAtLaunch;
    work.extracted = work.launched = [&](HWND dialog) {
        buttonsEnabled |= robot::IsControlEnabled(dialog, IDC_INSTALL) ||
                          robot::IsControlEnabled(dialog, IDC_CLOSE);
        statusAtLaunch = robot::ControlText(dialog, IDC_STATUS);
        robot::PostCommand(dialog, IDC_CLOSE);
        robot::PostCommand(dialog, IDC_INSTALL);
        robot::RequestClose(dialog);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    };
    MainDialogRun run;
    HWND dialog = WaitFor("Self-extracting Archive");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(work.extractions, 0);
    EXPECT_EQ((HICON)GetClassLongA(dialog, GCL_HICON),
              LoadIconA(GetModuleHandleA(nullptr), "MNICON"));
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    ASSERT_TRUE(WaitForCompletion(dialog));
    ASSERT_TRUE(robot::WaitUntil([&] { return robot::IsControlEnabled(dialog, IDC_INSTALL); }));
    EXPECT_FALSE(buttonsEnabled);
    EXPECT_EQ(statusAtLaunch, installing);
    MessageBoxAnswerer answerer;
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    ASSERT_TRUE(answerer.WaitForBoxes(1));
    EXPECT_EQ(answerer.Boxes()[0].text, "Built in.\r\nQuarvel D\351mo, \251 2026.");
    EXPECT_EQ(answerer.Boxes()[0].style, (UINT)(MB_OK | MB_ICONINFORMATION));

    ASSERT_TRUE(robot::Click(dialog, IDC_CLOSE));
    EXPECT_EQ(run.Result(), IDCANCEL);
}

// The licence comes first, even for a package that starts at once. Declined any way, it leaves
// the dialog ready for another Install; only "J'accepte" starts the work. Without a completion
// screen the dialog then closes itself: a Close command that arrives meanwhile is no second
// Close, which would delete every file again.
TEST_F(MainDialog, OnlyAnAcceptedLicenceStartsTheWork)
{
    const std::string text = "Clause 1 " + std::string(400, 'x') + "\r\nFin.";
    state.messageLength = 0;
    state.licenceText = text.c_str();
    state.licenceLength = text.size();
    work.launched = [](HWND dialog) { robot::PostCommand(dialog, IDC_CLOSE); };
    MainDialogRun run;
    HWND licence = WaitFor(licenceCaption);
    ASSERT_NE(licence, nullptr);
    EXPECT_EQ(robot::FindDialog(title, self), nullptr);
    // A line per line of the text, however long; typing changes nothing.
    HWND field = GetDlgItem(licence, IDC_LICENCE_TEXT);
    EXPECT_EQ(SendMessageA(field, EM_GETLINECOUNT, 0, 0), 2);
    SendMessageA(field, WM_CHAR, 'Z', 1);
    EXPECT_EQ(robot::Text(field), text);
    // The button, Escape, the close box, and Enter on the default button.
    for (auto decline : {+[](HWND box) { robot::Click(box, IDCANCEL); }, &robot::PressEscape,
                         &robot::RequestClose, &robot::PressEnter}) {
        decline(licence);
        ASSERT_TRUE(robot::WaitUntilGone(licence));
        HWND dialog = WaitFor();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
        ASSERT_NE(licence = WaitFor(licenceCaption), nullptr);
    }
    // The other controls' commands (the field's notifications) do not end it.
    robot::PostCommand(licence, IDC_LICENCE_TEXT);
    robot::PostCommand(licence, IDC_LICENCE_PROMPT);
    ASSERT_TRUE(robot::Click(licence, IDOK));
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_EQ(statusTexts, InstallationTexts());
}

// A failed extraction ends the dialog with 1 and installs nothing; what was extracted is left
// to the driver. The work runs before the dialog shows: a pump that waited would hang it.
TEST_F(MainDialog, AFailedExtractionEndsWithOne)
{
    state.messageLength = 0;
    work.succeed = false;
    MainDialogRun run;
    EXPECT_EQ(run.Result(), IDOK);
    EXPECT_EQ(work.launches, 0);
    EXPECT_TRUE(FileExists(work.directory + "demo.dll"));
}

// Without the Install button, Enter still gives its command, which then closes, deleting the
// files and showing each one.
TEST_F(MainDialog, EnterClosesWithoutTheInstallButton)
{
    state.showCompletion = 1;
    state.removeInstallButton = 1;
    MainDialogRun run;
    HWND dialog = WaitFor();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
    ASSERT_TRUE(WaitForCompletion(dialog));
    EXPECT_FALSE(robot::HasControl(dialog, IDC_INSTALL));
    robot::PressEnter(dialog);
    EXPECT_EQ(run.Result(), IDCANCEL);
    EXPECT_EQ(statusTexts, InstallationTexts());
    for (const std::string &name : work.names)
        EXPECT_FALSE(FileExists(work.directory + name)) << name;
}

// The licence dialog has no owner: the main dialog takes commands while it is open. A licence
// accepted after a Close, or after a second licence has done the work, starts nothing.
TEST_F(MainDialog, ALicenceAcceptedTooLateStartsNothing)
{
    for (bool closed : {true, false}) {
        SCOPED_TRACE(closed ? "closed" : "a second licence");
        SetUp();
        state.showCompletion = 1;
        state.licenceLength = 8;
        MainDialogRun run;
        HWND dialog = WaitFor();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
        ASSERT_NE(WaitFor(licenceCaption), nullptr);
        ASSERT_TRUE(robot::Click(dialog, closed ? IDC_CLOSE : IDC_INSTALL));
        std::vector<HWND> licences;
        ASSERT_TRUE(robot::WaitUntil([&] {
            licences = robot::FindTopWindows("#32770", licenceCaption, self);
            return licences.size() == (closed ? 1u : 2u);
        }));
        // Clicks are handled in the order posted: the Close first; or the work of one licence
        // before the other returns to its Install command.
        for (HWND licence : licences)
            ASSERT_TRUE(robot::Click(licence, IDOK));
        if (!closed) {
            ASSERT_TRUE(WaitForCompletion(dialog));
            robot::PostCommand(dialog, IDC_CLOSE);
        }
        EXPECT_EQ(run.Result(), IDCANCEL);
        EXPECT_EQ(work.extractions, closed ? 0 : 1);
    }
}

}  // namespace
