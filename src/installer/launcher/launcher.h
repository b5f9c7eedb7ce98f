// The INF installer launch: builds the command lines for the package's route, runs them from
// the work directory and waits for each installer to end.
#pragma once

#include <windows.h>

#include "driver.h"

// The installer command lines of one route. The advpack route runs both, one after the other;
// the InstallHinfSection route has only the first.
enum InfCommand { firstInfCommand, secondInfCommand };

// Longest fixed text of a command line: a route's opening words and its section ending.
constexpr DWORD infCommandFixedLength = 60;
// Room for the longest command line: the fixed texts, a full work directory and a full INF name.
constexpr DWORD infCommandLineSize = infCommandFixedLength + 2 * (pathBufferSize - 1) + 1;
// The system directory or the Windows directory, a backslash and the installer program's name.
constexpr DWORD installerPathSize = MAX_PATH + 16;

// Runs the installer command line(s) and returns when they have ended (or could not start).
void LaunchInfInstallation(void);
// True when GetVersionExA reports the NT platform (2); versions are never compared.
bool IsWindowsNT(void);
// Writes command `which` of the package's route into commandLine (infCommandLineSize bytes):
// the pieces joined as they are, nothing quoted. The InstallHinfSection route looks for
// SetupX.dll in the system directory to choose between rundll.exe and rundll32.exe.
void BuildInfCommandLine(int which, char *commandLine);
// Full path (installerPathSize bytes) of the system's copy of the program that commandLine
// names in its first word: from the system directory when it is there, else from the Windows
// directory (where Windows 9x keeps rundll32.exe, and every Windows keeps rundll.exe). Never
// searched for, so a program of that name beside the installer is not the one that runs.
void InstallerProgramPath(const char *commandLine, char *path);
// Starts program with commandLine as a child process in the current directory, waits for its
// end while serving the thread's messages, and answers whether it could be started. A WM_QUIT
// or WM_QUERYENDSESSION taken from the queue ends the program with its wParam; the child is
// left running.
bool RunAndWait(const char *program, char *commandLine);
