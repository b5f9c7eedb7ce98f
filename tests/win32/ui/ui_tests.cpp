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

static char title[] = "Quarvel D\351mo 2.0";
static const char *const licenceCaption = "Informations sur la licence...";
static const DWORD self = GetCurrentProcessId();
static const std::string licenceText = "Clause 1 " + std::string(400, 'x') + "\r\nFin.";

// The stand-ins "extract" the files into a scratch directory and call the test back on the
// dialog's thread as the extraction ends, and as the launch runs.
static struct FakeWork {
    std::string directory;
    std::vector<std::string> names = {"setup.inf", "readme.txt", "demo.dll"};
    bool succeed = true;
    std::function<void(HWND dialog)> during = [](HWND) {};
    int extractions = 0, launches = 0;
} work;

void ExtractCabinet(HWND dialog, ProgressCallback progress)
{
    work.extractions++;
    for (const std::string &name : work.names) {
        progress(name.c_str());
        WriteFileBytes(work.directory + name, name);
        CopyText(state.extractedFiles[state.extractedFileCount++], extractedPathSize,
                 (work.directory + name).c_str());
    }
    work.during(dialog);
    state.extractionSucceeded = work.succeed;
}

void LaunchInfInstallation(void)
{
    work.launches++;
    work.during(state.mainWindow);
}

static int pathsShown;  // status texts with a work directory path: the deletions, not the progress

static LRESULT CALLBACK CountPathsShown(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *sent = (const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && sent->message == WM_SETTEXT && GetDlgCtrlID(sent->hwnd) == IDC_STATUS)
        pathsShown += std::string((LPCSTR)sent->lParam).find(work.directory) != std::string::npos;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

static DWORD WINAPI RunMainDialog(void *)
{
    SetWindowsHookExA(WH_CALLWNDPROC, CountPathsShown, nullptr, GetCurrentThreadId());
    return (DWORD)RunModalDialog(GetModuleHandleA(nullptr), "DLG_Main", nullptr, MainDialogProc);
}

// The main dialog on a thread of its own, as the installer runs it on its one thread, for the
// test's thread to drive. WM_QUIT ends every modal loop still open on it (a failed test).
struct MainDialogRun {
    HANDLE thread = (pathsShown = 0, CreateThread(nullptr, 0, RunMainDialog, nullptr, 0, 0));
    ~MainDialogRun()
    {
        PostThreadMessageA(GetThreadId(thread), WM_QUIT, 0, 0);
        Result();
        CloseHandle(thread);
    }
    INT_PTR Result()  // the dialog's result, or STILL_ACTIVE while it is open after the time-out
    {
        DWORD code;
        WaitForSingleObject(thread, robot::ScaledTimeout(10000));
        return GetExitCodeThread(thread, &code) ? (int)code : STILL_ACTIVE;
    }
};

// Each run starts from a package with no message, licence or completion screen, and new files.
static void NewPackage()
{
    FillBytes(&state, 0, sizeof state);
    state.title = title;  // shown once hasTitle is set
    state.messageText = "";
    state.licenceText = licenceText.c_str();  // shown once licenceLength is set
    work = FakeWork();
    work.directory = ScratchDirectory("ui");
}

static HWND WaitFor(const char *caption) { return robot::WaitForDialog(caption, self); }

// Without a message but with a completion screen the dialog waits for Install; without a title it
// keeps the template's caption. The licence's text is read-only and never wraps; declined, it
// leaves the dialog ready for another Install; other commands do not end it. It has no owner: a
// second one may open, or the dialog close, before either is accepted; the work then runs once,
// or not at all, with the buttons disabled and the commands that reach the dialog dropped. At
// the completion screen Install shows both Info texts; without it, Enter gives its command,
// which closes. A second Close while the first deletes the files is dropped.
TEST(MainDialog, FromInstallToClose)
{
    enum Ending { showInfo, enterWithoutInstall, closeBeforeAccepting };
    for (Ending ending : {showInfo, enterWithoutInstall, closeBeforeAccepting}) {
        SCOPED_TRACE(ending);
        NewPackage();
        state.hasTitle = ending != showInfo;
        state.showCompletion = 1;
        state.licenceLength = licenceText.size();
        state.removeInstallButton = ending == enterWithoutInstall;
        CopyText(state.builtinInfoText, sizeof state.builtinInfoText, "Built in.\r\n");
        char infoText[] = "Quarvel D\351mo, \251 2026.";
        state.infoText = infoText;
        bool buttonsEnabled = false;
        std::string statusAtLaunch;
        work.during = [&](HWND dialog) {
            buttonsEnabled |= robot::IsControlEnabled(dialog, IDC_INSTALL) ||
                              robot::IsControlEnabled(dialog, IDC_CLOSE);
            statusAtLaunch = robot::ControlText(dialog, IDC_STATUS);
            SendMessageA(dialog, WM_COMMAND, IDC_CLOSE, 0);
            SendMessageA(dialog, WM_COMMAND, IDC_INSTALL, 0);
        };
        MessageBoxAnswerer answerer;
        MainDialogRun run;
        HWND dialog = WaitFor(state.hasTitle ? title : "Self-extracting Archive"), licence = 0;
        ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL) && (licence = WaitFor(licenceCaption)));
        EXPECT_EQ(SendDlgItemMessageA(licence, IDC_LICENCE_TEXT, EM_GETLINECOUNT, 0, 0), 2);
        SendDlgItemMessageA(licence, IDC_LICENCE_TEXT, WM_CHAR, 'Z', 1);
        EXPECT_EQ(robot::ControlText(licence, IDC_LICENCE_TEXT), licenceText);
        // Its button, and Enter on the default button.
        for (auto decline : {+[](HWND box) { robot::Click(box, IDCANCEL); }, &robot::PressEnter}) {
            decline(licence);
            ASSERT_TRUE(robot::WaitUntilGone(licence) && robot::Click(dialog, IDC_INSTALL));
            ASSERT_NE(licence = WaitFor(licenceCaption), nullptr);
        }
        robot::PostCommand(licence, IDC_LICENCE_TEXT);  // the field's notifications
        robot::PostCommand(licence, IDC_LICENCE_PROMPT);
        ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL));
        std::vector<HWND> licences;
        ASSERT_TRUE(robot::WaitUntil([&] {
            return (licences = robot::FindTopWindows("#32770", licenceCaption, self)).size() == 2;
        }));
        if (ending == closeBeforeAccepting)
            ASSERT_TRUE(robot::Click(dialog, IDC_CLOSE) && robot::WaitUntilGone(dialog));
        for (HWND each : licences)
            ASSERT_TRUE(robot::Click(each, IDOK));
        int works = ending != closeBeforeAccepting;
        ASSERT_TRUE(!works || robot::WaitUntil([&] {  // the last button it disabled enabled again
            return work.launches &&
                   robot::IsControlEnabled(dialog, ending == showInfo ? IDC_INSTALL : IDC_CLOSE);
        }));
        EXPECT_FALSE(buttonsEnabled);
        EXPECT_EQ(statusAtLaunch.find(work.names.back()), std::string::npos);  // progress replaced
        if (ending == showInfo) {
            ASSERT_TRUE(robot::Click(dialog, IDC_INSTALL) &&
                        robot::WaitUntil([&] { return !answerer.Boxes().empty(); }));
            EXPECT_EQ(answerer.Boxes()[0].text, "Built in.\r\nQuarvel D\351mo, \251 2026.");
            robot::PostCommand(dialog, IDC_CLOSE);
            robot::PostCommand(dialog, IDC_CLOSE);
        } else if (ending == enterWithoutInstall) {
            EXPECT_FALSE(GetDlgItem(dialog, IDC_INSTALL));
            robot::PressEnter(dialog);
        }
        EXPECT_EQ(run.Result(), IDCANCEL);
        EXPECT_EQ(work.extractions, works);
        EXPECT_TRUE(NamesIn(work.directory).empty());
        EXPECT_EQ(pathsShown, works * (int)work.names.size());  // each deletion once
    }
}

// Without a message or a completion screen the work runs before the dialog shows, where a pump
// that waited for a message would hang it, and then closes it; a failed extraction ends it with
// 1 instead, launching nothing and leaving what was extracted to the driver.
TEST(MainDialog, AtOnceWithoutAScreen)
{
    for (bool succeed : {true, false}) {
        NewPackage();
        work.succeed = succeed;
        MainDialogRun run;
        EXPECT_EQ(run.Result(), succeed ? IDCANCEL : IDOK);
        EXPECT_EQ(work.launches, (int)succeed);
        EXPECT_EQ(FileExists(work.directory + "demo.dll"), !succeed);
    }
}
