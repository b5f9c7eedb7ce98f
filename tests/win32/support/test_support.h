// Helpers for the Win32 test programs: scratch directories, files, shared test data, and an
// answerer for the message boxes that the code under test shows.
#pragma once

#include <windows.h>

#include <functional>
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
    void SetButton(int button);
    // Runs on the answering thread for each new box, before its button is pressed.
    void SetBeforeAnswer(std::function<void(const ShownBox &)> beforeAnswer);
    // The boxes answered so far, oldest first.
    std::vector<ShownBox> Boxes();
    // Waits up to timeoutMs for at least count boxes; returns whether they came.
    bool WaitForBoxes(size_t count, DWORD timeoutMs = 10000);

private:
    static DWORD WINAPI Run(void *self);
    static BOOL CALLBACK VisitWindow(HWND window, LPARAM self);
    HANDLE thread_;
    HANDLE stop_;
    CRITICAL_SECTION lock_;
    std::vector<ShownBox> boxes_;
    std::vector<HWND> answered_;
    int button_;
    std::function<void(const ShownBox &)> beforeAnswer_;
};
