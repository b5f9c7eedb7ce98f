#include "launcher.h"

static const char advpackCommand[] = "rundll32.exe advpack,LaunchINFSection ";
static const char advpackFirstSection[] = ",DefaultInstall2";
static const char ntSectionEnding[] = ".ntx86";
static const char advpackSecondSection[] = ",DefaultInstallX";
static const char setupxCommand[] = "rundll.exe setupx.dll";
static const char setupapiCommand[] = "rundll32.exe setupapi";
static const char hinfSection[] = ",InstallHinfSection DefaultInstall 132 ";

static_assert(sizeof advpackCommand - 1 + sizeof advpackFirstSection - 1 +
                  sizeof ntSectionEnding - 1 <= infCommandFixedLength, "advpack line");
static_assert(sizeof setupapiCommand - 1 + sizeof hinfSection - 1 <= infCommandFixedLength &&
                  sizeof setupxCommand - 1 + sizeof hinfSection - 1 <= infCommandFixedLength,
              "InstallHinfSection line");
// Every kind of message that the oldest Windows knows. Spelled out: the headers' QS_ALLINPUT
// carries raw input (XP and later) and, for newer targets, touch and pointer input (8 and
// later), and Windows refuses a wake mask with a bit it does not know.
constexpr DWORD wakeOnAnyMessage = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE |
                                   QS_TIMER | QS_PAINT | QS_SENDMESSAGE | QS_HOTKEY;
static_assert(wakeOnAnyMessage == 0xFF, "the wake bits of Windows 95 and NT 4.0");
constexpr DWORD failedWaitSlice = 50;  // milliseconds

static_assert(sizeof(OSVERSIONINFOA) == 148 && sizeof(STARTUPINFOA) == 68, "Win32 records");

// Appends at most limit characters of field: the state's fixed arrays need not end with a NUL.
static void AppendField(char *buffer, DWORD capacity, const char *field, DWORD limit)
{
    DWORD end = TextLength(buffer);
    for (DWORD i = 0; i < limit && field[i] && end + 1 < capacity; i++)
        buffer[end++] = field[i];
    buffer[end] = 0;
}

static void AppendInfPath(char *commandLine)
{
    AppendField(commandLine, infCommandLineSize, state.workDirectory, pathBufferSize - 1);
    AppendField(commandLine, infCommandLineSize, state.infName, pathBufferSize - 1);
}

bool IsWindowsNT(void)
{
    OSVERSIONINFOA version;
    FillBytes(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void BuildInfCommandLine(int which, char *commandLine)
{
    commandLine[0] = 0;
    if (state.useAdvpack) {
        AppendText(commandLine, infCommandLineSize, advpackCommand);
        AppendInfPath(commandLine);
        if (which == secondInfCommand) {
            AppendText(commandLine, infCommandLineSize, advpackSecondSection);
        } else {
            AppendText(commandLine, infCommandLineSize, advpackFirstSection);
            if (IsWindowsNT())
                AppendText(commandLine, infCommandLineSize, ntSectionEnding);
        }
        return;
    }
    char setupx[systemDirectorySize + sizeof "\\SetupX.dll"];
    setupx[0] = 0;
    AppendField(setupx, sizeof setupx, state.systemDirectory, systemDirectorySize);
    AppendText(setupx, sizeof setupx, "\\SetupX.dll");
    AppendText(commandLine, infCommandLineSize,
               PathExists(setupx) ? setupxCommand : setupapiCommand);
    AppendText(commandLine, infCommandLineSize, hinfSection);
    AppendInfPath(commandLine);
}

static void AppendPathName(char *path, const char *name)
{
    DWORD length = TextLength(path);
    if (length == 0 || path[length - 1] != '\\')
        AppendText(path, installerPathSize, "\\");
    AppendText(path, installerPathSize, name);
}

void InstallerProgramPath(const char *commandLine, char *path)
{
    char name[16];
    DWORD length = 0;
    while (commandLine[length] && commandLine[length] != ' ' && length + 1 < sizeof name) {
        name[length] = commandLine[length];
        length++;
    }
    name[length] = 0;

    path[0] = 0;
    AppendField(path, installerPathSize, state.systemDirectory, systemDirectorySize);
    AppendPathName(path, name);
    if (PathExists(path))
        return;
    DWORD windows = GetWindowsDirectoryA(path, MAX_PATH);
    if (windows == 0 || windows >= MAX_PATH)
        path[0] = 0;
    AppendPathName(path, name);
}

// Empties the queue. Only a quit or end-of-session request ends the program here: the main
// dialog's window and every other window of the thread keep being served.
static void ServeMessages(void)
{
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT || message.message == WM_QUERYENDSESSION)
            EndProgram((UINT)message.wParam);
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool RunAndWait(const char *program, char *commandLine)
{
    STARTUPINFOA startup;
    FillBytes(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, commandLine, 0, 0, FALSE,
                        CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, 0, 0, &startup, &process))
        return false;
    // Asleep until a message arrives or the installer's process ends. The exit code plays no
    // part, so an installer that ends with STILL_ACTIVE (259) ends the wait like any other.
    // MsgWaitForMultipleObjects wakes only for messages that arrived since the queue was last
    // looked at, so the queue is emptied before each wait. A wait that fails is never taken for
    // the installer's end: the process is then waited for in short slices, the queue still
    // served between them.
    for (;;) {
        ServeMessages();
        DWORD woke = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE,
                                               wakeOnAnyMessage);
        if (woke == WAIT_OBJECT_0)
            break;
        if (woke != WAIT_OBJECT_0 + 1 &&
            WaitForSingleObject(process.hProcess, failedWaitSlice) == WAIT_OBJECT_0)
            break;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// The run cannot go on in a directory other than the one it needs: a fatal stop.
static void ChangeDirectory(const char *directory, DWORD limit)
{
    char path[pathBufferSize];
    path[0] = 0;
    AppendField(path, sizeof path, directory, limit);
    if (!SetCurrentDirectoryA(path))
        FatalStop("Impossible d'acc\xE9" "der au r\xE9pertoire", path, GetLastError());
}

static bool RunInstaller(char *commandLine)
{
    char program[installerPathSize];
    InstallerProgramPath(commandLine, program);
    return RunAndWait(program, commandLine);
}

void LaunchInfInstallation(void)
{
    char commandLine[infCommandLineSize];
    BuildInfCommandLine(firstInfCommand, commandLine);
    ChangeDirectory(state.workDirectory, pathBufferSize - 1);
    if (!RunInstaller(commandLine))
        MessageBoxA(0, messages.preparation.cannotStartInstall, messages.preparation.error,
                    MB_ICONHAND);
    if (state.useAdvpack) {
        BuildInfCommandLine(secondInfCommand, commandLine);
        RunInstaller(commandLine);
    }
    ChangeDirectory(state.currentDirectory, currentDirectorySize);
}
