// The launcher under Wine with a stand-in installer: the command lines byte for byte, the
// program that really runs, the wait, the messages served during it, the directories, and the
// failures. The real installers run in the end-to-end tests.
#include <gtest/gtest.h>

#include "driver.h"
#include "import_slot.h"
#include "launcher.h"
#include "launcher_test_support.h"
#include "test_support.h"

// The launcher's wait, made to fail on demand; otherwise the system's own.
static bool failWaits;
static DWORD WINAPI WaitOrFail(DWORD count, const HANDLE *handles, BOOL all, DWORD timeout,
                               DWORD wakeMask)
{
    if (failWaits) {
        SetLastError(ERROR_INVALID_PARAMETER);  // as Windows answers a wake mask it does not know
        return WAIT_FAILED;
    }
    static auto systemWait = QUARVEL_SYSTEM_FUNCTION("user32.dll", MsgWaitForMultipleObjects);
    return systemWait(count, handles, all, timeout, wakeMask);
}
QUARVEL_IMPORT_SLOT(MsgWaitForMultipleObjects, 20) = WaitOrFail;

namespace {

const char advpack[] = "rundll32.exe advpack,LaunchINFSection ";
const char hinf[] = ",InstallHinfSection DefaultInstall 132 ";

// ---- Command lines ------------------------------------------------------------------------

TEST(InfCommandLines, AdvpackOnNtNamesTheNtSectionFirstAndTheXSectionAfter)
{
    ASSERT_TRUE(IsWindowsNT());  // Wine reports the NT platform unless told otherwise
    SetLaunchState(true, "C:\\TEMP\\$Quarvel.Tmp\\", "setup.inf", SystemDirectory(), "C:\\");
    EXPECT_EQ(BuiltCommandLine(firstInfCommand),
              "rundll32.exe advpack,LaunchINFSection C:\\TEMP\\$Quarvel.Tmp\\setup.inf,"
              "DefaultInstall2.ntx86");
    EXPECT_EQ(BuiltCommandLine(secondInfCommand),
              "rundll32.exe advpack,LaunchINFSection C:\\TEMP\\$Quarvel.Tmp\\setup.inf,"
              "DefaultInstallX");
}

// Wine's per-program Windows version makes the probe see a Windows 98 platform.
TEST(InfCommandLines, AdvpackOutsideNtNamesThePlainSection)
{
    std::string root = ScratchDirectory("win98");
    std::string probe = root + "win98_probe.exe";
    ASSERT_TRUE(CopyFileA((TestProgramDirectory() + "platform_probe.exe").c_str(),
                          probe.c_str(), FALSE));
    ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, WineProgramKey("win98_probe.exe"), "Version",
                                "win98"));
    std::string report = root + "report.txt";
    DWORD exitCode = RunToExit(probe.c_str(), "win98_probe.exe " + report +
                                                  " C:\\WINDOWS\\TEMP\\$Quarvel.Tmp\\ setup.inf");
    RegDeleteKeyA(HKEY_CURRENT_USER, WineProgramKey("win98_probe.exe").c_str());

    ASSERT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadFileBytes(report),
              "nt=0\n"
              "administrator=1\n"
              "first=rundll32.exe advpack,LaunchINFSection C:\\WINDOWS\\TEMP\\$Quarvel.Tmp\\"
              "setup.inf,DefaultInstall2\n"
              "second=rundll32.exe advpack,LaunchINFSection C:\\WINDOWS\\TEMP\\$Quarvel.Tmp\\"
              "setup.inf,DefaultInstallX\n");
}

TEST(InfCommandLines, InstallHinfSectionRouteFollowsSetupxInTheSystemDirectory)
{
    std::string withSetupx = ScratchDirectory("with-setupx");
    std::string without = ScratchDirectory("without-setupx");
    WriteFileBytes(withSetupx + "setupx.dll", "");  // its presence alone decides
    const char *work = "C:\\TEMP\\$Quarvel.Tmp\\";

    SetLaunchState(false, work, "setup.inf", WithoutBackslash(withSetupx), "C:\\");
    EXPECT_EQ(BuiltCommandLine(firstInfCommand),
              "rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 "
              "C:\\TEMP\\$Quarvel.Tmp\\setup.inf");
    SetLaunchState(false, work, "setup.inf", WithoutBackslash(without), "C:\\");
    EXPECT_EQ(BuiltCommandLine(firstInfCommand),
              "rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 "
              "C:\\TEMP\\$Quarvel.Tmp\\setup.inf");
}

TEST(InfCommandLines, SpacesGoInUnquoted)
{
    std::string system = ScratchDirectory("spaced-system");
    const char *work = "C:\\Program Files\\Work Dir\\";
    SetLaunchState(true, work, "my setup.inf", WithoutBackslash(system), "C:\\");
    EXPECT_EQ(BuiltCommandLine(firstInfCommand),
              std::string(advpack) + work + "my setup.inf,DefaultInstall2.ntx86");
    EXPECT_EQ(BuiltCommandLine(secondInfCommand),
              std::string(advpack) + work + "my setup.inf,DefaultInstallX");
    SetLaunchState(false, work, "my setup.inf", WithoutBackslash(system), "C:\\");
    EXPECT_EQ(BuiltCommandLine(firstInfCommand),
              std::string("rundll32.exe setupapi") + hinf + work + "my setup.inf");
}

TEST(InfCommandLines, TheLongestLinesFitWhole)
{
    std::string work = "C:\\" + std::string(256, 'w') + "\\";  // 260 characters
    std::string inf = std::string(256, 'i') + ".inf";
    std::string system = ScratchDirectory("longest");
    SetLaunchState(true, work, inf, WithoutBackslash(system), "C:\\");
    std::string first = BuiltCommandLine(firstInfCommand);
    EXPECT_EQ(first, advpack + work + inf + ",DefaultInstall2.ntx86");
    EXPECT_EQ(first.size() + 1, infCommandLineSize);
    SetLaunchState(false, work, inf, WithoutBackslash(system), "C:\\");
    EXPECT_EQ(BuiltCommandLine(firstInfCommand), "rundll32.exe setupapi" + (hinf + work) + inf);
}

// A system directory of the array's full 128 characters has no NUL: what follows it in the
// state record is not part of it.
TEST(InfCommandLines, AFullLengthSystemDirectoryEndsWithTheArray)
{
    std::string root = ScratchDirectory("full-system");
    ASSERT_LT(root.size(), systemDirectorySize);
    std::string system = root + std::string(systemDirectorySize - root.size(), 's');
    ASSERT_TRUE(CreateDirectoryA(system.c_str(), nullptr));
    WriteFileBytes(system + "\\setupx.dll", "");
    WriteFileBytes(system + "\\rundll.exe", "");

    SetLaunchState(false, "C:\\TEMP\\$Quarvel.Tmp\\", "setup.inf", "", "X:\\elsewhere");
    for (DWORD i = 0; i < systemDirectorySize; i++)
        state.systemDirectory[i] = system[i];
    EXPECT_EQ(BuiltCommandLine(firstInfCommand),
              std::string("rundll.exe setupx.dll") + hinf + "C:\\TEMP\\$Quarvel.Tmp\\setup.inf");
    char program[installerPathSize];
    InstallerProgramPath("rundll.exe setupx.dll,InstallHinfSection", program);
    EXPECT_EQ(std::string(program), system + "\\rundll.exe");
}

TEST(InstallerProgram, IsTheSystemsOwnCopyNamedByTheFirstWord)
{
    std::string system = SystemDirectory(), windows = WindowsDirectory();
    ASSERT_TRUE(FileExists(system + "\\rundll32.exe"));
    ASSERT_FALSE(FileExists(system + "\\rundll.exe"));
    ASSERT_TRUE(FileExists(windows + "\\rundll.exe"));
    SetLaunchState(true, "C:\\TEMP\\$Quarvel.Tmp\\", "setup.inf", system, "C:\\");

    char program[installerPathSize];
    InstallerProgramPath(BuiltCommandLine(firstInfCommand).c_str(), program);
    EXPECT_EQ(std::string(program), system + "\\rundll32.exe");
    InstallerProgramPath("rundll.exe setupx.dll,InstallHinfSection DefaultInstall", program);
    EXPECT_EQ(std::string(program), windows + "\\rundll.exe");
}

// ---- Running and waiting ------------------------------------------------------------------

class ChildTest : public testing::Test {
protected:
    void SetUp() override
    {
        root = ScratchDirectory(testing::UnitTest::GetInstance()->current_test_info()->name());
        log = root + "child.log";
        startDirectory = CurrentDirectory();
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(startDirectory.c_str());
        ClearChildBehaviour();
    }
    bool Run(const std::string &program, std::string commandLine)
    {
        return RunAndWait(program.c_str(), &commandLine[0]);
    }

    std::string root, log, startDirectory;
};

DWORD ExitCodeOfChild(DWORD exitCode)
{
    SetChildBehaviour("", 0, exitCode);
    return RunToExit(ChildProgram().c_str(), "child");
}

struct BoundedRun {
    std::string program, commandLine;
    bool started;
};

DWORD WINAPI RunOnThread(void *parameter)
{
    BoundedRun *run = (BoundedRun *)parameter;
    run->started = RunAndWait(run->program.c_str(), &run->commandLine[0]);
    return 0;
}

// RunAndWait on a thread of its own, so that a wait that never ends fails the test instead of
// hanging it; the thread and its record are then left behind.
bool ReturnsWithin(DWORD timeoutMs, const std::string &program, bool *started)
{
    BoundedRun *run = new BoundedRun{program, "child", false};
    HANDLE thread = CreateThread(nullptr, 0, RunOnThread, run, 0, nullptr);
    bool returned = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    if (returned) {
        *started = run->started;
        delete run;
    }
    return returned;
}

TEST_F(ChildTest, TheWaitEndsWithTheChildWhateverItsExitCode)
{
    // 259 is STILL_ACTIVE: an exit-code poll takes it for a child that still runs.
    for (DWORD exitCode : {0u, 1u, 259u, 0xC0000005u}) {
        ASSERT_EQ(ExitCodeOfChild(exitCode), exitCode);  // the stand-in ends as told
        DeleteFileA(log.c_str());
        SetChildBehaviour(log, 300, exitCode);
        bool started = false;
        ASSERT_TRUE(ReturnsWithin(30000, ChildProgram(), &started))
            << "still waiting, exit code " << exitCode;
        EXPECT_TRUE(started);
        std::vector<ChildEvent> events = ReadChildLog(log);
        ASSERT_EQ(events.size(), 2u) << "exit code " << exitCode;
        EXPECT_TRUE(events[0].start);
        EXPECT_FALSE(events[1].start) << "returned before the child ended";
    }
}

// A wait that fails is not the installer's end: the next installer would overlap this one, and
// the Close command would delete the files under it.
TEST_F(ChildTest, AFailingWaitStillReturnsOnlyWhenTheChildHasEnded)
{
    SetChildBehaviour(log, 1500, 0);
    failWaits = true;
    bool started = false;
    bool returned = ReturnsWithin(30000, ChildProgram(), &started);
    failWaits = false;
    ASSERT_TRUE(returned) << "still waiting";
    EXPECT_TRUE(started);
    std::vector<ChildEvent> events = ReadChildLog(log);
    ASSERT_EQ(events.size(), 2u) << "returned before the child ended";
    EXPECT_FALSE(events[1].start);
}

TEST_F(ChildTest, TheChildRunsTheGivenProgramAndLineInTheCallersDirectory)
{
    std::string work = ScratchDirectory("child work dir");
    ASSERT_TRUE(SetCurrentDirectoryA(work.c_str()));
    SetChildBehaviour(log, 0, 0);
    EXPECT_TRUE(Run(ChildProgram(), "rundll32.exe advpack,LaunchINFSection a b.inf,Section"));
    std::vector<ChildEvent> events = ReadChildLog(log);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].module, ChildProgram());
    EXPECT_EQ(events[0].directory, WithoutBackslash(work));
    EXPECT_EQ(events[0].commandLine, "rundll32.exe advpack,LaunchINFSection a b.inf,Section");
}

TEST_F(ChildTest, AProgramThatCannotStartAnswersFalseAndShowsNothing)
{
    MessageBoxAnswerer answerer;
    EXPECT_FALSE(Run(root + "missing.exe", "missing.exe"));
    Sleep(200);
    EXPECT_TRUE(answerer.Boxes().empty());
}

// Posts to the waiting thread once the child has logged its start.
struct PostWhenStarted {
    std::string log;
    DWORD thread;
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

DWORD WINAPI PostWhenChildStarted(void *parameter)
{
    std::vector<PostWhenStarted> *posts = (std::vector<PostWhenStarted> *)parameter;
    if (!WaitForChildEvents(posts->front().log, 1))
        return 1;
    for (const PostWhenStarted &post : *posts) {
        if (post.window)
            PostMessageA(post.window, post.message, post.wParam, post.lParam);
        else
            PostThreadMessageA(post.thread, post.message, post.wParam, post.lParam);
    }
    return 0;
}

HANDLE StartPosting(std::vector<PostWhenStarted> *posts)
{
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread needs its queue first
    return CreateThread(nullptr, 0, PostWhenChildStarted, posts, 0, nullptr);
}

struct Served {
    std::string log;
    int appMessages;
    int appMessagesWhileChildRan;
    std::string characters;
} served;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP) {
        served.appMessages++;
        std::vector<ChildEvent> events = ReadChildLog(served.log);
        if (events.size() == 1)
            served.appMessagesWhileChildRan++;
        return 0;
    }
    if (message == WM_CHAR) {
        served.characters += (char)wParam;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(ChildTest, MessagesAreTranslatedAndDispatchedWhileTheChildRuns)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RecordingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuarvelLauncherTestWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(windowClass.lpszClassName, "", 0, 0, 0, 10, 10, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    served = {log, 0, 0, ""};

    SetChildBehaviour(log, 1500, 0);
    std::vector<PostWhenStarted> posts = {
        {log, 0, window, WM_APP, 0, 0},
        // A key press becomes a character only through TranslateMessage.
        {log, 0, window, WM_KEYDOWN, 'Q', 0x00100001},
    };
    HANDLE poster = StartPosting(&posts);
    EXPECT_TRUE(Run(ChildProgram(), "child"));
    WaitForSingleObject(poster, INFINITE);
    CloseHandle(poster);
    DestroyWindow(window);

    EXPECT_EQ(served.appMessages, 1);
    EXPECT_EQ(served.appMessagesWhileChildRan, 1);
    EXPECT_EQ(served.characters, "q");
}

std::string exitMarker;
void MarkExit()
{
    WriteFileBytes(exitMarker, "ran");
}

void WaitWhileMessageIsPosted(const std::string &log, UINT message, WPARAM wParam)
{
    RegisterExitAction(MarkExit);
    SetChildBehaviour(log, 1500, 0);
    std::vector<PostWhenStarted> posts = {
        {log, GetCurrentThreadId(), nullptr, message, wParam, 0}};
    StartPosting(&posts);
    std::string commandLine = "child";
    RunAndWait(ChildProgram().c_str(), &commandLine[0]);
}

// The program ends with the message's wParam, through its exit actions; the child goes on.
// One death test a test: the death test's process runs the test again from its start.
void ExpectMessageEndsTheWait(const std::string &root, UINT message, WPARAM wParam)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    exitMarker = root + "exit-actions-ran";
    std::string log = root + "child.log";
    EXPECT_EXIT(WaitWhileMessageIsPosted(log, message, wParam),
                testing::ExitedWithCode((int)wParam), "");
    EXPECT_EQ(ReadFileBytes(exitMarker), "ran");
    ASSERT_TRUE(WaitForChildEvents(log, 2)) << "the child was stopped";
    EXPECT_FALSE(ReadChildLog(log)[1].start);
}

TEST_F(ChildTest, QuitDuringTheWaitEndsTheProgram)
{
    ExpectMessageEndsTheWait(root, WM_QUIT, 37);
}

TEST_F(ChildTest, EndOfSessionQueryDuringTheWaitEndsTheProgram)
{
    ExpectMessageEndsTheWait(root, WM_QUERYENDSESSION, 41);
}

// ---- The launch ---------------------------------------------------------------------------

// The stand-in installer as the system directory's programs, so that the launcher's own command
// lines run against it.
class LaunchTest : public ChildTest {
protected:
    void SetUp() override
    {
        ChildTest::SetUp();
        system = ScratchDirectory(std::string("system-") + Name());
        work = ScratchDirectory(std::string("work dir-") + Name());
        start = ScratchDirectory(std::string("start-") + Name());
    }
    static const char *Name()
    {
        return testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    std::string system, work, start;
};

TEST_F(LaunchTest, AdvpackRunsItsTwoLinesInTurnFromTheWorkDirectory)
{
    PlantChild(system + "rundll32.exe");
    PlantChild(work + "rundll32.exe");  // beside the INF file: must not be the one that runs
    SetChildBehaviour(log, 300, 0);
    SetLaunchState(true, work, "my setup.inf", WithoutBackslash(system), WithoutBackslash(start));
    MessageBoxAnswerer answerer;

    LaunchInfInstallation();

    std::vector<ChildEvent> events = ReadChildLog(log);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_TRUE(events[0].start && !events[1].start && events[2].start && !events[3].start)
        << "the second line started before the first had ended";
    for (int i : {0, 2}) {
        EXPECT_EQ(events[i].module, system + "rundll32.exe");
        EXPECT_EQ(events[i].directory, WithoutBackslash(work));
    }
    EXPECT_EQ(events[0].commandLine, advpack + work + "my setup.inf,DefaultInstall2.ntx86");
    EXPECT_EQ(events[2].commandLine, advpack + work + "my setup.inf,DefaultInstallX");
    EXPECT_EQ(CurrentDirectory(), WithoutBackslash(start));
    EXPECT_TRUE(answerer.Boxes().empty());
}

TEST_F(LaunchTest, InstallHinfSectionRunsOneLine)
{
    struct Case {
        const char *program;
        bool setupx;
        const char *opening;
    };
    for (Case c : {Case{"rundll.exe", true, "rundll.exe setupx.dll"},
                   Case{"rundll32.exe", false, "rundll32.exe setupapi"}}) {
        DeleteFileA(log.c_str());
        DeleteFileA((system + "setupx.dll").c_str());
        if (c.setupx)
            WriteFileBytes(system + "setupx.dll", "");
        PlantChild(system + c.program);
        SetChildBehaviour(log, 0, 0);
        SetLaunchState(false, work, "setup.inf", WithoutBackslash(system),
                       WithoutBackslash(start));

        LaunchInfInstallation();

        std::vector<ChildEvent> events = ReadChildLog(log);
        ASSERT_EQ(events.size(), 2u) << c.opening;
        EXPECT_EQ(events[0].module, system + c.program);
        EXPECT_EQ(events[0].directory, WithoutBackslash(work));
        EXPECT_EQ(events[0].commandLine, c.opening + (hinf + work) + "setup.inf");
        EXPECT_EQ(CurrentDirectory(), WithoutBackslash(start));
    }
}

TEST_F(LaunchTest, AnInstallerThatCannotStartIsReportedOnceAndTheRunGoesOn)
{
    // No installer programs in the stand-in system directory, nor in the Windows directory.
    ASSERT_FALSE(FileExists(WindowsDirectory() + "\\rundll32.exe"));
    for (bool useAdvpack : {true, false}) {
        SetLaunchState(useAdvpack, work, "setup.inf", WithoutBackslash(system),
                       WithoutBackslash(start));
        MessageBoxAnswerer answerer;
        LaunchInfInstallation();
        std::vector<ShownBox> boxes = answerer.Boxes();
        ASSERT_EQ(boxes.size(), 1u) << "advpack " << useAdvpack;
        EXPECT_EQ(boxes[0].caption, "Erreur");
        EXPECT_EQ(boxes[0].text, "N'a pu initialiser l'installation.");
        EXPECT_EQ(boxes[0].style, (UINT)MB_ICONHAND);
        EXPECT_EQ(CurrentDirectory(), WithoutBackslash(start));
    }
}

DWORD ErrorEntering(const std::string &directory)
{
    std::string here = CurrentDirectory();
    SetLastError(0);
    if (SetCurrentDirectoryA(directory.c_str())) {
        SetCurrentDirectoryA(here.c_str());
        return 0;
    }
    return GetLastError();
}

void LaunchAnsweringTheReport(const std::string &log, const std::string &work,
                              const std::string &system, const std::string &start)
{
    SetChildBehaviour(log, 0, 0);
    SetLaunchState(true, work, "setup.inf", WithoutBackslash(system), start);
    MessageBoxAnswerer answerer;  // the fatal report waits for its OK
    LaunchInfInstallation();
}

// The program ends with the error code of the failed change, and no further.
TEST_F(LaunchTest, AWorkDirectoryThatCannotBeEnteredIsAFatalStop)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    PlantChild(system + "rundll32.exe");
    std::string missing = root + "missing\\";
    DWORD expected = ErrorEntering(missing);
    ASSERT_NE(expected, 0u);
    EXPECT_EXIT(LaunchAnsweringTheReport(log, missing, system, start),
                testing::ExitedWithCode((int)expected), "");
    EXPECT_TRUE(ReadChildLog(log).empty()) << "an installer ran outside the work directory";
}

TEST_F(LaunchTest, AStartDirectoryThatCannotBeReenteredIsAFatalStop)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    PlantChild(system + "rundll32.exe");
    std::string missing = root + "missing";
    DWORD expected = ErrorEntering(missing);
    ASSERT_NE(expected, 0u);
    EXPECT_EXIT(LaunchAnsweringTheReport(log, work, system, missing),
                testing::ExitedWithCode((int)expected), "");
    EXPECT_EQ(ReadChildLog(log).size(), 4u) << "both installers run before the way back";
}

}  // namespace
