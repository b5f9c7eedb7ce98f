// The INF installer launch: builds the command lines for the package's route, runs them from
// the work directory and waits for each installer to end.
#pragma once

#include <windows.h>

// Runs the installer command line(s) and returns when they have ended (or could not start).
void LaunchInfInstallation(void);
// True when GetVersionExA reports the NT platform (2); versions are never compared.
bool IsWindowsNT(void);
// Starts commandLine as a child process, waits for its end while serving the thread's
// messages, and answers whether it could be started.
bool RunAndWait(char *commandLine);
