// The launcher under Wine with a stand-in installer (launcher_child.exe): the command lines of
// each route and platform, the program that runs, the wait and the messages served during it,
// and the directory changes. The real installers run in the end-to-end tests.
#include <gtest/gtest.h>

#include "import_slot.h"
#include "launcher.h"
#include "robot.h"
#include "test_support.h"

// The system's wait, or one that fails as Windows fails a wake mask it does not know.
static bool failWaits;
static DWORD WINAPI WaitOrFail(DWORD count, const HANDLE *handles, BOOL all, DWORD timeout,
                               DWORD wakeMask)
{
    static auto systemWait = QUARVEL_SYSTEM_FUNCTION("user32.dll", MsgWaitForMultipleObjects);
    return failWaits ? WAIT_FAILED : systemWait(count, handles, all, timeout, wakeMask);
}
QUARVEL_IMPORT_SLOT(MsgWaitForMultipleObjects, 20) = WaitOrFail;

// The platform the launcher is told it runs on: NT, as under Wine, unless a test says otherwise.
static DWORD reportedPlatform = VER_PLATFORM_WIN32_NT;
static BOOL WINAPI ReportPlatform(OSVERSIONINFOA *version)
{
    version->dwPlatformId = reportedPlatform;
    return TRUE;
}
QUARVEL_IMPORT_SLOT(GetVersionExA, 4) = ReportPlatform;

static const std::string advpack = "rundll32.exe advpack,LaunchINFSection ";
static const std::string hinf = ",InstallHinfSection DefaultInstall 132 ";

static std::string WithoutBackslash(const std::string &path)
{
    return path.substr(0, path.size() - 1);
}

// The state the launcher reads; the system directory is given with its final backslash.
static void SetLaunchState(bool useAdvpack, const std::string &work, const std::string &inf,
                           const std::string &system, const std::string &start)
{
    if (!state.workDirectory)
        AllocateBuffers();
    state.useAdvpack = useAdvpack;
    CopyText(state.workDirectory, pathBufferSize, work.c_str());
    CopyText(state.infName, pathBufferSize, inf.c_str());
    CopyText(state.systemDirectory, systemDirectorySize, WithoutBackslash(system).c_str());
    CopyText(state.currentDirectory, currentDirectorySize, start.c_str());
}

// The longest work directory and INF name that the state holds: neither route's line is cut.
TEST(InfCommandLines, TheLongestAreWhole)
{
    std::string work = "C:\\" + std::string(256, 'w') + "\\", inf = std::string(256, 'i') + ".inf";
    for (bool useAdvpack : {true, false}) {
        SetLaunchState(useAdvpack, work, inf, ScratchDirectory("launcher-no-setupx"), "");
        char line[infCommandLineSize];
        BuildInfCommandLine(firstInfCommand, line);
        EXPECT_EQ(line, useAdvpack ? advpack + work + inf + ",DefaultInstall2.ntx86"
                                   : "rundll32.exe setupapi" + hinf + work + inf);
    }
}

// The file where the window's handler marks the characters typed and the exit actions their
// runs, and the message that a typed character posts to end the program.
static std::string marks;
static UINT endingMessage;
static void Mark(char mark) { WriteFileBytes(marks, ReadFileBytes(marks) + mark); }

static LRESULT CALLBACK EndOnCharacter(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHAR) {
        Mark((char)wParam);
        PostThreadMessageA(GetCurrentThreadId(), endingMessage, 30 + endingMessage, 0);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class Launch : public testing::Test {
protected:
    void SetUp() override
    {
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        start = ScratchDirectory(name);
        log = start + "child.log";
        work = ScratchDirectory("work dir-" + name);
        PlantChild(work + "rundll32.exe");
        PlantChild(work + "rundll.exe");
        SetChild(300);
    }
    // Tells the stand-ins started from now on how long to run and which window to send a key.
    void SetChild(DWORD sleepMs, HWND window = nullptr)
    {
        std::string told = std::to_string(sleepMs) + " " + std::to_string((UINT_PTR)window);
        SetEnvironmentVariableA("QUARVEL_CHILD", (told + " " + log).c_str());
    }
    void PlantChild(const std::string &path)
    {
        ASSERT_TRUE(CopyFileA(child.c_str(), path.c_str(), FALSE)) << path;
    }
    // The child's key press during the wait becomes a character, whose handler asks the program
    // to end: it ends with the request's wParam, through its exit actions newest first, and
    // leaves the child running. A death test's process runs the test again: one a test.
    void ExpectEndedBy(UINT message)
    {
        marks = log;
        endingMessage = message;
        EXPECT_EXIT(
            {
                HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                            nullptr, nullptr);
                SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)EndOnCharacter);
                SetChild(1500, window);
                RegisterExitAction([] { Mark('1'); });
                RegisterExitAction([] { Mark('2'); });
                char commandLine[] = "child";
                RunAndWait(child.c_str(), commandLine);
            },
            testing::ExitedWithCode(30 + message), "");
        auto ended = [&] { return ReadFileBytes(log).find("\tchild\nq21end\n") != log.npos; };
        EXPECT_TRUE(robot::WaitUntil(ended)) << ReadFileBytes(log);
    }

    std::string start, log, work;
    std::string child = TestProgramDirectory() + "launcher_child.exe";
};

TEST_F(Launch, QuitDuringTheWaitEndsTheProgram) { ExpectEndedBy(WM_QUIT); }
TEST_F(Launch, EndOfSessionDuringTheWaitEndsTheProgram) { ExpectEndedBy(WM_QUERYENDSESSION); }

// Each route's lines run in turn from the work directory, each to its installer's end (whatever
// its exit code), through the system directory's own program, never one beside the INF file; one
// that cannot start is reported once. The start directory is current again after each run.
TEST_F(Launch, EachRouteRunsItsLinesInTurnFromTheWorkDirectory)
{
    std::string path = work + "my setup.inf", first = advpack + path + ",DefaultInstall2",
                second = advpack + path + ",DefaultInstallX", expected;
    struct Row {
        const char *fault;
        bool advpack, setupx, failingWaits, nt;
        std::string program;  // the one in the system directory
        std::vector<std::string> lines;
    } rows[] = {
        {"no NT section on NT, or no second section", true, false, false, true, "rundll32.exe",
         {first + ".ntx86", second}},
        {"the NT section outside NT; a failed wait taken for the installer's end", true, false,
         true, false, "rundll32.exe", {first, second}},
        {"setupx.dll not seen", false, true, false, true, "rundll.exe",
         {"rundll.exe setupx.dll" + hinf + path}},
        {"a failed start unreported: no rundll32.exe", true, false, false, true, "rundll.exe", {}},
    };
    MessageBoxAnswerer answerer;
    for (const Row &row : rows) {
        std::string system = ScratchDirectory("launcher-system");
        PlantChild(system + row.program);
        if (row.setupx)
            WriteFileBytes(system + "setupx.dll", "");
        SetLaunchState(row.advpack, work, "my setup.inf", system, WithoutBackslash(start));
        reportedPlatform = row.nt ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS;
        failWaits = row.failingWaits;
        LaunchInfInstallation();
        for (const std::string &line : row.lines)
            expected += "start\t" + system + row.program + "\t" + WithoutBackslash(work) + "\t" +
                        line + "\nend\n";
        EXPECT_EQ(ReadFileBytes(log), expected) << row.fault;
        EXPECT_EQ(CurrentDirectory(), WithoutBackslash(start)) << row.fault;
    }
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_EQ(answerer.Boxes()[0].caption, messages.preparation.error);
    EXPECT_EQ(answerer.Boxes()[0].text, messages.preparation.cannotStartInstall);
    EXPECT_EQ(answerer.Boxes()[0].style, (UINT)MB_ICONHAND);
}

// A directory change that fails ends the program with the platform's reason: no installer runs
// outside the work directory, and the way back comes after the installers have run.
TEST_F(Launch, ADirectoryThatCannotBeEnteredIsAFatalStop)
{
    std::string missing = start + "missing\\";
    ASSERT_FALSE(SetCurrentDirectoryA(missing.c_str()));
    int reason = (int)GetLastError();
    for (bool workMissing : {true, false}) {
        SetLaunchState(true, workMissing ? missing : work, "setup.inf", work,
                       workMissing ? WithoutBackslash(start) : missing);
        EXPECT_EXIT(
            {
                MessageBoxAnswerer answerer;  // the fatal report waits for its OK
                LaunchInfInstallation();
            },
            testing::ExitedWithCode(reason), "");
        EXPECT_EQ(FileExists(log), !workMissing) << "work missing " << workMissing;
    }
}
