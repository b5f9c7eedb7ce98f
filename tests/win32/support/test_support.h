// The one support library of the Win32 test programs: files and directories, processes and
// their environment, the registry and Wine's settings, waits, and an answerer for the message
// boxes that the code under test shows (found as the robot finds them).
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

// A Windows path for a Unix path taken from the environment variable (Wine's Z: drive).
std::string WindowsPathFromEnvironment(const char *variable);
// ../shared, as the build found it.
std::string SharedDirectory();

// A new, empty directory for one test under the temporary directory, ending in a backslash.
std::string ScratchDirectory(const std::string &name);
void RemoveTree(const std::string &path);

void WriteFileBytes(const std::string &path, const std::string &bytes);
std::string ReadFileBytes(const std::string &path);
bool FileExists(const std::string &path);
bool DirectoryExists(const std::string &path);
// The names in a directory, "." and ".." aside.
std::set<std::string> NamesIn(const std::string &directory);

// Without a final backslash, as the system reports them.
std::string SystemDirectory();
std::string WindowsDirectory();
std::string CurrentDirectory();
std::string TempDirectory();  // with its final backslash
// The directory of the running test program, where the helper programs are, with a backslash.
std::string TestProgramDirectory();

// The environment block with these "NAME=value" settings in place of the inherited ones.
std::string EnvironmentWith(const std::vector<std::string> &settings);
// Starts a program (null: the command line's first word) with the environment, in the
// directory (null: this one's). False when it cannot start.
bool StartProgram(const char *program, std::string commandLine, PROCESS_INFORMATION &process,
                  const std::vector<std::string> &settings = {}, const char *directory = nullptr);
// The exit code, or STILL_ACTIVE after ending a process that did not end in time. The
// handles are closed.
DWORD WaitForExit(PROCESS_INFORMATION &process, DWORD timeoutMs = INFINITE);
// Both at once: the exit code, STILL_ACTIVE when it did not end in time, or cannotStart.
constexpr DWORD cannotStart = 0xFFFFFFFF;
DWORD RunToExit(const char *program, const std::string &commandLine, DWORD timeoutMs = INFINITE);

// A string value, "" when the key or value is missing.
std::string RegistryText(HKEY root, const std::string &key, const char *value);
bool RegistryKeyExists(HKEY root, const std::string &key);
// Creates the key as needed.
bool SetRegistryText(HKEY root, const std::string &key, const char *value, const std::string &text);
// A setting Wine reads for one program (by its file name), under its AppDefaults key.
std::string WineProgramKey(const std::string &program);

struct ShownBox {
    std::string caption;
    std::string text;
    UINT style;  // the icon (MB_ICONHAND, MB_ICONINFORMATION...) and MB_OKCANCEL, as shown
};

// Watches this process's message boxes from a thread of its own, records each one and presses
// the chosen button. Boxes shown before or after its lifetime are not answered.
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(int button = IDOK);
    ~MessageBoxAnswerer();
    // Runs on the answering thread for each new box, before its button is pressed.
    void SetBeforeAnswer(std::function<void(const ShownBox &)> beforeAnswer);
    // The boxes answered so far, oldest first.
    std::vector<ShownBox> Boxes();
    // Waits up to timeoutMs for at least count boxes; returns whether they came.
    bool WaitForBoxes(size_t count, DWORD timeoutMs = 10000);

private:
    static DWORD WINAPI Run(void *self);
    void Answer(HWND window, const std::string &caption, const std::string &text);
    HANDLE thread_;
    HANDLE stop_;
    CRITICAL_SECTION lock_;
    std::vector<ShownBox> boxes_;
    std::vector<HWND> answered_;
    int button_;
    std::function<void(const ShownBox &)> beforeAnswer_;
};
