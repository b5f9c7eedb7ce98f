#include "test_support.h"

#include <cstdlib>

std::string WindowsPathFromEnvironment(const char *variable)
{
    const char *value = getenv(variable);
    std::string path = value ? value : "";
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string SharedDirectory()
{
    return WindowsPathFromEnvironment("QUARVEL_SHARED");
}

void RemoveTree(const std::string &path)
{
    std::string directory = path;
    if (!directory.empty() && directory.back() == '\\')
        directory.pop_back();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = directory + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetFileAttributesA(directory.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(directory.c_str());
    DeleteFileA(directory.c_str());  // a file standing in a directory's place
}

std::string ScratchDirectory(const std::string &name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string root = std::string(temp) + "quarvel-tests\\";
    CreateDirectoryA(root.c_str(), nullptr);
    std::string directory = root + name;
    RemoveTree(directory);
    CreateDirectoryA(directory.c_str(), nullptr);
    return directory + "\\";
}

void WriteFileBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        abort();
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    if (written != bytes.size())
        abort();
}

std::string ReadFileBytes(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty())
        ReadFile(file, &bytes[0], (DWORD)bytes.size(), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

bool FileExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

MessageBoxAnswerer::MessageBoxAnswerer(int button) : button_(button)
{
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(stop_);
    DeleteCriticalSection(&lock_);
}

void MessageBoxAnswerer::SetButton(int button)
{
    EnterCriticalSection(&lock_);
    button_ = button;
    LeaveCriticalSection(&lock_);
}

void MessageBoxAnswerer::SetBeforeAnswer(std::function<void(const ShownBox &)> beforeAnswer)
{
    EnterCriticalSection(&lock_);
    beforeAnswer_ = std::move(beforeAnswer);
    LeaveCriticalSection(&lock_);
}

std::vector<ShownBox> MessageBoxAnswerer::Boxes()
{
    EnterCriticalSection(&lock_);
    std::vector<ShownBox> boxes = boxes_;
    LeaveCriticalSection(&lock_);
    return boxes;
}

bool MessageBoxAnswerer::WaitForBoxes(size_t count, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 20) {
        if (Boxes().size() >= count)
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(20);
    }
}

DWORD WINAPI MessageBoxAnswerer::Run(void *self)
{
    MessageBoxAnswerer *answerer = (MessageBoxAnswerer *)self;
    while (WaitForSingleObject(answerer->stop_, 25) == WAIT_TIMEOUT)
        EnumWindows(VisitWindow, (LPARAM)answerer);
    return 0;
}

static BOOL CALLBACK FindIconControl(HWND child, LPARAM found)
{
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *(HWND *)found = child;
        return FALSE;
    }
    return TRUE;
}

// The box's style as far as it shows: which standard icon, and whether it has a Cancel button.
static UINT StyleOfBox(HWND box)
{
    HWND iconControl = nullptr;
    EnumChildWindows(box, FindIconControl, (LPARAM)&iconControl);
    HICON icon = iconControl ? (HICON)SendMessageA(iconControl, STM_GETICON, 0, 0) : nullptr;
    UINT style = 0;
    if (icon && icon == LoadIconA(nullptr, IDI_HAND))
        style |= MB_ICONHAND;
    else if (icon && icon == LoadIconA(nullptr, IDI_ASTERISK))
        style |= MB_ICONINFORMATION;
    else if (icon && icon == LoadIconA(nullptr, IDI_EXCLAMATION))
        style |= MB_ICONEXCLAMATION;
    else if (icon && icon == LoadIconA(nullptr, IDI_QUESTION))
        style |= MB_ICONQUESTION;
    HWND cancel = GetDlgItem(box, IDCANCEL);
    HWND ok = GetDlgItem(box, IDOK);
    if (ok && cancel && IsWindowVisible(cancel))
        style |= MB_OKCANCEL;
    return style;
}

BOOL CALLBACK MessageBoxAnswerer::VisitWindow(HWND window, LPARAM self)
{
    MessageBoxAnswerer *answerer = (MessageBoxAnswerer *)self;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (process != GetCurrentProcessId() || strcmp(className, "#32770") != 0 ||
        !IsWindowVisible(window) || !GetDlgItem(window, 65535))
        return TRUE;
    EnterCriticalSection(&answerer->lock_);
    bool seen = false;
    for (HWND answered : answerer->answered_)
        seen = seen || answered == window;
    int button = answerer->button_;
    std::function<void(const ShownBox &)> beforeAnswer = answerer->beforeAnswer_;
    ShownBox box;
    if (!seen) {
        char caption[512] = "", text[4096] = "";
        GetWindowTextA(window, caption, sizeof caption);
        GetDlgItemTextA(window, 65535, text, sizeof text);
        box = {caption, text, StyleOfBox(window)};
        answerer->answered_.push_back(window);
    }
    LeaveCriticalSection(&answerer->lock_);
    if (seen)
        return TRUE;
    if (beforeAnswer)
        beforeAnswer(box);
    EnterCriticalSection(&answerer->lock_);
    answerer->boxes_.push_back(box);
    LeaveCriticalSection(&answerer->lock_);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    return TRUE;
}
