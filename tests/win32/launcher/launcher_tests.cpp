// The launcher under Wine with a stand-in installer (launcher_child.exe): the command lines of
// each route and platform, the program that runs, the wait and the messages served during it,
// and the directory changes. The real installers run in the end-to-end tests.
#include <gtest/gtest.h>

#include "driver.h"
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
    if (!failWaits)
        return systemWait(count, handles, all, timeout, wakeMask);
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
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

namespace {

const std::string advpack = "rundll32.exe advpack,LaunchINFSection ";
const std::string hinf = ",InstallHinfSection DefaultInstall 132 ";

std::string WithoutBackslash(std::string directory)
{
    directory.pop_back();
    return directory;
}

// The state the launcher reads; the system directory is given with its final backslash.
void SetLaunchState(bool useAdvpack, const std::string &work, const std::string &inf,
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

TEST(InfCommandLines, EachRouteOnEachPlatformWhole)
{
    std::string withSetupx = ScratchDirectory("setupx"), without = ScratchDirectory("no-setupx");
    WriteFileBytes(withSetupx + "setupx.dll", "");  // its presence alone decides
    std::string longWork = "C:\\" + std::string(256, 'w') + "\\";  // as long as the state holds
    std::string longInf = std::string(256, 'i') + ".inf", path = "C:\\Work Dir\\my setup.inf";
    struct Row {
        const char *fault;
        bool advpack, setupx, longest;
        DWORD platform;
        int which;
        std::string expected;
    } rows[] = {
        {"no NT section on NT", true, false, false, VER_PLATFORM_WIN32_NT, firstInfCommand,
         advpack + path + ",DefaultInstall2.ntx86"},
        {"the NT section outside NT", true, false, false, VER_PLATFORM_WIN32_WINDOWS,
         firstInfCommand, advpack + path + ",DefaultInstall2"},
        {"the second section", true, false, false, VER_PLATFORM_WIN32_NT, secondInfCommand,
         advpack + path + ",DefaultInstallX"},
        {"setupx.dll not seen", false, true, false, VER_PLATFORM_WIN32_NT, firstInfCommand,
         "rundll.exe setupx.dll" + hinf + path},
        {"setupx.dll taken for granted", false, false, false, VER_PLATFORM_WIN32_NT,
         firstInfCommand, "rundll32.exe setupapi" + hinf + path},
        {"the longest advpack line cut", true, false, true, VER_PLATFORM_WIN32_NT,
         firstInfCommand, advpack + longWork + longInf + ",DefaultInstall2.ntx86"},
        {"the longest setupapi line cut", false, false, true, VER_PLATFORM_WIN32_NT,
         firstInfCommand, "rundll32.exe setupapi" + hinf + longWork + longInf},
    };
    for (const Row &row : rows) {
        SetLaunchState(row.advpack, row.longest ? longWork : "C:\\Work Dir\\",
                       row.longest ? longInf : "my setup.inf", row.setupx ? withSetupx : without,
                       "");
        reportedPlatform = row.platform;
        char line[infCommandLineSize];
        BuildInfCommandLine(row.which, line);
        EXPECT_EQ(line, row.expected) << row.fault;
    }
    reportedPlatform = VER_PLATFORM_WIN32_NT;
}

// ---- Running, waiting, launching ----------------------------------------------------------

std::vector<std::string> LogLines(const std::string &log)
{
    std::vector<std::string> lines;
    std::string text = ReadFileBytes(log);
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

std::string exitMarker;
void ExitActionRan(char action)
{
    WriteFileBytes(exitMarker, ReadFileBytes(exitMarker) + action);
}
void FirstExitAction() { ExitActionRan('1'); }
void SecondExitAction() { ExitActionRan('2'); }

class Launch : public testing::Test {
protected:
    void SetUp() override
    {
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        root = ScratchDirectory(name);
        log = root + "child.log";
        work = ScratchDirectory("work dir-" + name);
        start = ScratchDirectory("start-" + name);
        startDirectory = CurrentDirectory();
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // a queue for the child to post to
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(startDirectory.c_str());
        SetEnvironmentVariableA("QUARVEL_CHILD", nullptr);
    }
    // Tells the stand-ins started from now on how long to run, how to end and what to post.
    void SetChild(DWORD sleepMs, DWORD exitCode, HWND window = nullptr, UINT message = 0,
                  WPARAM wParam = 0)
    {
        char told[1024];
        snprintf(told, sizeof told, "%lu %lu %lu %lu %u %u %s", sleepMs, exitCode,
                 (DWORD)(UINT_PTR)window, GetCurrentThreadId(), message, wParam, log.c_str());
        SetEnvironmentVariableA("QUARVEL_CHILD", told);
    }
    void PlantChild(const std::string &path)
    {
        ASSERT_TRUE(CopyFileA(child.c_str(), path.c_str(), FALSE)) << path;
    }
    bool RunChild()
    {
        std::string commandLine = "child";
        return RunAndWait(child.c_str(), &commandLine[0]);
    }
    // The program ends with the message's wParam, through its exit actions newest first; the
    // child goes on. One death test a test: the death test's process runs the test again.
    void ExpectMessageEndsTheProgram(UINT message, int exitCode)
    {
        testing::FLAGS_gtest_death_test_style = "threadsafe";
        exitMarker = root + "exit-actions";
        SetChild(1500, 0, nullptr, message, exitCode);
        EXPECT_EXIT(
            {
                RegisterExitAction(FirstExitAction);
                RegisterExitAction(SecondExitAction);
                RunChild();
            },
            testing::ExitedWithCode(exitCode), "");
        EXPECT_EQ(ReadFileBytes(exitMarker), "21");
        EXPECT_TRUE(robot::WaitUntil([&] { return LogLines(log).size() == 2; }))
            << "the child was stopped";
    }

    std::string root, log, work, start, startDirectory;
    std::string child = TestProgramDirectory() + "launcher_child.exe";
};

// Only the child's end ends the wait: not its exit code (259 is STILL_ACTIVE, which an exit-code
// poll takes for a running child), nor a wait that fails (the next installer would overlap this
// one, and the Close command would delete the files under it).
TEST_F(Launch, TheWaitEndsWithTheChildAndOnlyThen)
{
    for (bool failing : {false, true}) {
        DeleteFileA(log.c_str());
        SetChild(1000, 259);
        failWaits = failing;
        EXPECT_TRUE(RunChild());
        failWaits = false;
        EXPECT_EQ(LogLines(log).size(), 2u) << "returned before the child ended; failing wait "
                                            << failing;
    }
}

// The characters that TranslateMessage made of key presses while the child ran.
std::string childLog, typedWhileChildRan;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHAR && LogLines(childLog).size() == 1)
        typedWhileChildRan += (char)wParam;
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Launch, MessagesAreTranslatedAndDispatchedWhileTheChildRuns)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RecordingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuarvelLauncherTestWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(windowClass.lpszClassName, "", 0, 0, 0, 10, 10, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    childLog = log;
    SetChild(1500, 0, window, WM_KEYDOWN, 'Q');
    EXPECT_TRUE(RunChild());
    DestroyWindow(window);
    EXPECT_EQ(typedWhileChildRan, "q");
}

TEST_F(Launch, QuitDuringTheWaitEndsTheProgram)
{
    ExpectMessageEndsTheProgram(WM_QUIT, 37);
}

TEST_F(Launch, EndOfSessionQueryDuringTheWaitEndsTheProgram)
{
    ExpectMessageEndsTheProgram(WM_QUERYENDSESSION, 41);
}

// Each route's lines run in turn from the work directory, through the system directory's own
// program and never one of that name beside the INF file; one that cannot start is reported
// once. The start directory is current again after each.
TEST_F(Launch, EachRouteRunsItsLinesInTurnFromTheWorkDirectory)
{
    PlantChild(work + "rundll32.exe");
    PlantChild(work + "rundll.exe");
    ASSERT_FALSE(FileExists(WindowsDirectory() + "\\rundll32.exe"));
    std::string path = work + "my setup.inf";
    struct Row {
        bool advpack, setupx;
        std::string program;  // planted in the system directory
        std::vector<std::string> lines;
    } rows[] = {
        {true, false, "rundll32.exe",
         {advpack + path + ",DefaultInstall2.ntx86", advpack + path + ",DefaultInstallX"}},
        {false, true, "rundll.exe", {"rundll.exe setupx.dll" + hinf + path}},
        {false, false, "rundll32.exe", {"rundll32.exe setupapi" + hinf + path}},
        {true, false, "", {}},
    };
    MessageBoxAnswerer answerer;
    for (const Row &row : rows) {
        std::string system = ScratchDirectory("system");
        if (!row.program.empty())
            PlantChild(system + row.program);
        if (row.setupx)
            WriteFileBytes(system + "setupx.dll", "");
        DeleteFileA(log.c_str());
        SetChild(300, 0);
        SetLaunchState(row.advpack, work, "my setup.inf", system, WithoutBackslash(start));
        LaunchInfInstallation();
        std::vector<std::string> expected;
        for (const std::string &line : row.lines)
            expected.insert(expected.end(), {"start\t" + system + row.program + "\t" +
                                                 WithoutBackslash(work) + "\t" + line,
                                             "end"});
        EXPECT_EQ(LogLines(log), expected);
        EXPECT_EQ(CurrentDirectory(), WithoutBackslash(start));
    }
    std::vector<ShownBox> boxes = answerer.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption + ": " + boxes[0].text,
              "Erreur: N'a pu initialiser l'installation.");
    EXPECT_EQ(boxes[0].style, (UINT)MB_ICONHAND);
}

// A directory change that fails ends the program with the platform's reason: no installer runs
// outside the work directory, and the way back comes after both have run.
TEST_F(Launch, ADirectoryThatCannotBeEnteredIsAFatalStop)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    std::string system = ScratchDirectory("system-fatal"), missing = root + "missing\\";
    PlantChild(system + "rundll32.exe");
    SetChild(0, 0);
    SetLastError(0);
    ASSERT_FALSE(SetCurrentDirectoryA(missing.c_str()));
    int reason = (int)GetLastError();
    for (bool workMissing : {true, false}) {
        SetLaunchState(true, workMissing ? missing : work, "setup.inf", system,
                       workMissing ? WithoutBackslash(start) : missing);
        EXPECT_EXIT(
            {
                MessageBoxAnswerer answerer;  // the fatal report waits for its OK
                LaunchInfInstallation();
            },
            testing::ExitedWithCode(reason), "");
        EXPECT_EQ(LogLines(log).size(), workMissing ? 0u : 4u) << "work missing " << workMissing;
    }
}

}  // namespace
