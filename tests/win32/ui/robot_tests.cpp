// The robot on windows of another process, as the end-to-end tests use it.
#include <gtest/gtest.h>

#include "controls.h"
#include "robot.h"
#include "test_support.h"

namespace {

class Target {
public:
    explicit Target(const char *what)
    {
        std::string command = "\"" + WindowsPathFromEnvironment("QUARVEL_TEST_BIN") +
                              "\\robot-target.exe\" " + what;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &process_) != 0;
    }
    ~Target()
    {
        if (!started_)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 1);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    bool Started() const { return started_; }
    DWORD Id() const { return process_.dwProcessId; }
    // The exit code, or STILL_ACTIVE when it has not ended within the time-out.
    DWORD ExitCode(DWORD timeout = 10000)
    {
        WaitForSingleObject(process_.hProcess, timeout);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

private:
    bool started_;
    PROCESS_INFORMATION process_ = {};
};

TEST(Robot, ReadsAndAnswersAnotherProcesssMessageBox)
{
    Target target("box");
    ASSERT_TRUE(target.Started());
    robot::Box box = robot::WaitForMessageBox("Robot target", target.Id());
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "Robot target");
    EXPECT_EQ(box.text, "Voil\xE0 une bo\xEEte.");
    EXPECT_EQ(robot::FindMessageBox("Robot target", GetCurrentProcessId()).window, nullptr)
        << "another process's box is not this process's";
    EXPECT_TRUE(robot::AnswerMessageBox(box.window, IDCANCEL));
    EXPECT_EQ(target.ExitCode(), (DWORD)IDCANCEL);
}

TEST(Robot, DrivesAnotherProcesssDialog)
{
    for (int way = 0; way < 3; way++) {
        SCOPED_TRACE(way);
        Target target("dialog");
        ASSERT_TRUE(target.Started());
        HWND dialog = robot::WaitForDialog("Robot target dialog", target.Id());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(robot::FindDialog("Robot target dialog", GetCurrentProcessId()), nullptr);
        EXPECT_EQ(robot::ControlText(dialog, IDC_LICENCE_TEXT),
                  "Texte accentu\xE9 d'un autre processus");
        EXPECT_EQ(robot::ControlText(dialog, IDOK), "I agree");
        EXPECT_TRUE(robot::HasControl(dialog, IDC_LICENCE_PROMPT));
        EXPECT_FALSE(robot::IsControlEnabled(dialog, IDC_LICENCE_PROMPT));
        EXPECT_TRUE(robot::IsControlEnabled(dialog, IDOK));
        EXPECT_FALSE(robot::HasControl(dialog, 4242));
        EXPECT_FALSE(robot::Click(dialog, IDC_LICENCE_PROMPT)) << "disabled";
        if (way == 0) {
            ASSERT_TRUE(robot::Click(dialog, IDOK));
            EXPECT_EQ(target.ExitCode(), (DWORD)IDOK);
        } else if (way == 1) {
            robot::PressEscape(dialog);
            EXPECT_EQ(target.ExitCode(), (DWORD)IDCANCEL);
        } else {
            robot::RequestClose(dialog);
            EXPECT_EQ(target.ExitCode(), (DWORD)IDCANCEL);
        }
        EXPECT_TRUE(robot::WaitUntilGone(dialog));
    }
}

TEST(Robot, WaitsNoLongerThanItsTimeOut)
{
    DWORD start = GetTickCount();
    EXPECT_EQ(robot::WaitForDialog("No such dialog anywhere", 0, 200), nullptr);
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 200u);
    EXPECT_LT(waited, 5000u);
}

}  // namespace
