// The Win32 test programs' support: files, processes, the registry and Wine's settings, and an
// answerer for the message boxes that the code under test shows (found as the robot finds them).
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

// A Windows path for a Unix path taken from the environment variable (Wine's Z: drive).
std::string WindowsPathFromEnvironment(const char *variable);

// A new, empty directory for one test under the temporary directory, ending in a backslash.
std::string ScratchDirectory(const std::string &name);
// Removes a directory with all it holds, read-only files included, or a file.
void RemoveTree(const std::string &path);

void WriteFileBytes(const std::string &path, const std::string &bytes);
std::string ReadFileBytes(const std::string &path);
// INVALID_FILE_ATTRIBUTES has the directory bit set.
inline bool FileExists(const std::string &path)
{
    return !(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}
inline bool DirectoryExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
// The names in a directory, "." and ".." aside.
std::set<std::string> NamesIn(const std::string &directory);

// Without a final backslash, as the system reports them.
std::string SystemDirectory();
std::string WindowsDirectory();
std::string CurrentDirectory();
std::string TempDirectory();  // with its final backslash
// The directory of the running test program, where the helper programs are, with a backslash.
std::string TestProgramDirectory();

// Starts a program (null: the command line's first word) with these "NAME=value" settings in
// place of the inherited ones, in the directory (null: this one's). False when it cannot start.
bool StartProgram(const char *program, std::string commandLine, PROCESS_INFORMATION &process,
                  const std::vector<std::string> &settings = {}, const char *directory = nullptr);
// The exit code, or STILL_ACTIVE after ending a process late to end; closes the handles.
DWORD WaitForExit(PROCESS_INFORMATION &process, DWORD timeoutMs = INFINITE);
// Both: the exit code, STILL_ACTIVE when it did not end in time, (DWORD)-1 when it cannot start.
DWORD RunToExit(const char *program, const std::string &commandLine, DWORD timeoutMs = INFINITE);

// A string value, "" when the key or value is missing.
std::string RegistryText(HKEY root, const std::string &key, const char *value);
bool RegistryKeyExists(HKEY root, const std::string &key);
// Creates the key as needed.
bool SetRegistryText(HKEY root, const std::string &key, const char *value, const std::string &text);
// A setting Wine reads for one program (by its file name), under its AppDefaults key.
inline std::string WineProgramKey(const std::string &program)
{
    return "Software\\Wine\\AppDefaults\\" + program;
}

struct ShownBox {
    std::string caption, text;
    UINT style;  // the icon (MB_ICONHAND, MB_ICONINFORMATION...) and MB_OKCANCEL, as shown
};

// Watches this process's message boxes from a thread of its own, records each one, runs
// beforeAnswer on it and presses the chosen button. Boxes shown before or after its lifetime
// are not answered.
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(int button = IDOK,
                                std::function<void(const ShownBox &)> beforeAnswer = nullptr);
    ~MessageBoxAnswerer();
    // The boxes answered so far, oldest first.
    std::vector<ShownBox> Boxes();

private:
    static DWORD WINAPI Run(void *self);
    const int button_;
    const std::function<void(const ShownBox &)> beforeAnswer_;
    CRITICAL_SECTION lock_;  // over boxes_
    std::vector<ShownBox> boxes_;
    HANDLE stop_;
    HANDLE thread_;
};
