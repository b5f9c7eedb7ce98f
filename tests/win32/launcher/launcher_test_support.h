// What the launcher's tests share: the installer state for a run, the stand-in installer
// (launcher_child.exe) and what it logged.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One line of the stand-in's log: a start with how it was started, or an end.
struct ChildEvent {
    bool start;
    std::string module, directory, commandLine;
};

std::string ChildProgram();
// Copies the stand-in installer to path (an "installer program" of a stand-in directory).
void PlantChild(const std::string &path);

// Points the stand-in's environment at log and tells it how long to run and how to end.
void SetChildBehaviour(const std::string &log, DWORD sleepMs, DWORD exitCode);
void ClearChildBehaviour();
std::vector<ChildEvent> ReadChildLog(const std::string &log);
// Waits up to timeoutMs for the log to hold count events.
bool WaitForChildEvents(const std::string &log, size_t count, DWORD timeoutMs = 10000);

// Fills the state the launcher reads; text fields are copied with their NUL.
void SetLaunchState(bool useAdvpack, const std::string &workDirectory,
                    const std::string &infName, const std::string &systemDirectory,
                    const std::string &currentDirectory);
// The directory without its final backslash, as GetCurrentDirectoryA reports it.
std::string WithoutBackslash(std::string directory);

std::string BuiltCommandLine(int which);
