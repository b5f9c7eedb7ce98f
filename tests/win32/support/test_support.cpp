#include "test_support.h"

#include <cstdlib>
#include <cstring>

#include "robot.h"

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

std::set<std::string> NamesIn(const std::string &directory)
{
    std::set<std::string> names;
    std::string pattern = directory;
    if (pattern.empty() || pattern.back() != '\\')
        pattern += '\\';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((pattern + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            names.insert(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string SystemDirectory()
{
    char directory[MAX_PATH];
    return std::string(directory, GetSystemDirectoryA(directory, sizeof directory));
}

std::string WindowsDirectory()
{
    char directory[MAX_PATH];
    return std::string(directory, GetWindowsDirectoryA(directory, sizeof directory));
}

std::string CurrentDirectory()
{
    char directory[MAX_PATH];
    return std::string(directory, GetCurrentDirectoryA(sizeof directory, directory));
}

std::string TempDirectory()
{
    char directory[MAX_PATH];
    return std::string(directory, GetTempPathA(sizeof directory, directory));
}

std::string TestProgramDirectory()
{
    char module[MAX_PATH];
    std::string path(module, GetModuleFileNameA(nullptr, module, sizeof module));
    return path.substr(0, path.rfind('\\') + 1);
}

std::string EnvironmentWith(const std::vector<std::string> &settings)
{
    auto isSet = [&](const char *entry) {
        for (const std::string &setting : settings)
            if (_strnicmp(entry, setting.c_str(), setting.find('=') + 1) == 0)
                return true;
        return false;
    };
    std::string block;
    char *strings = GetEnvironmentStringsA();
    for (char *entry = strings; *entry; entry += strlen(entry) + 1)
        if (!isSet(entry))
            block += std::string(entry) + '\0';
    FreeEnvironmentStringsA(strings);
    for (const std::string &setting : settings)
        block += setting + '\0';
    return block + '\0';
}

bool StartProgram(const char *program, std::string commandLine, PROCESS_INFORMATION &process,
                  const std::vector<std::string> &settings, const char *directory)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string environment = EnvironmentWith(settings);
    process = {};
    return CreateProcessA(program, &commandLine[0], nullptr, nullptr, FALSE, 0,
                          settings.empty() ? nullptr : &environment[0], directory, &startup,
                          &process) != 0;
}

DWORD WaitForExit(PROCESS_INFORMATION &process, DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, robot::ScaledTimeout(timeoutMs)) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    process = {};
    return code;
}

DWORD RunToExit(const char *program, const std::string &commandLine, DWORD timeoutMs)
{
    PROCESS_INFORMATION process;
    if (!StartProgram(program, commandLine, process))
        return cannotStart;
    return WaitForExit(process, timeoutMs);
}

static bool ReadRegistryValue(HKEY root, const std::string &key, const char *value, void *data,
                              DWORD size)
{
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    LONG result = RegQueryValueExA(opened, value, nullptr, nullptr, (BYTE *)data, &size);
    RegCloseKey(opened);
    return result == ERROR_SUCCESS;
}

std::string RegistryText(HKEY root, const std::string &key, const char *value)
{
    char data[1024] = "";
    ReadRegistryValue(root, key, value, data, sizeof data - 1);
    return data;
}

bool RegistryKeyExists(HKEY root, const std::string &key)
{
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

static bool WriteRegistryValue(HKEY root, const std::string &key, const char *value, DWORD type,
                               const void *data, DWORD size)
{
    HKEY opened;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExA(opened, value, 0, type, (const BYTE *)data, size);
    RegCloseKey(opened);
    return result == ERROR_SUCCESS;
}

bool SetRegistryText(HKEY root, const std::string &key, const char *value, const std::string &text)
{
    return WriteRegistryValue(root, key, value, REG_SZ, text.c_str(), (DWORD)text.size() + 1);
}

std::string WineProgramKey(const std::string &program)
{
    return "Software\\Wine\\AppDefaults\\" + program;
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
    return robot::WaitUntil([&] { return Boxes().size() >= count; }, timeoutMs);
}

DWORD WINAPI MessageBoxAnswerer::Run(void *self)
{
    MessageBoxAnswerer *answerer = (MessageBoxAnswerer *)self;
    while (WaitForSingleObject(answerer->stop_, 25) == WAIT_TIMEOUT)
        for (const robot::Box &box : robot::FindMessageBoxes(nullptr, GetCurrentProcessId()))
            answerer->Answer(box.window, box.caption, box.text);
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

void MessageBoxAnswerer::Answer(HWND window, const std::string &caption, const std::string &text)
{
    EnterCriticalSection(&lock_);
    bool seen = false;
    for (HWND answered : answered_)
        seen = seen || answered == window;
    if (!seen)
        answered_.push_back(window);
    int button = button_;
    std::function<void(const ShownBox &)> beforeAnswer = beforeAnswer_;
    LeaveCriticalSection(&lock_);
    if (seen)
        return;
    ShownBox box = {caption, text, StyleOfBox(window)};
    if (beforeAnswer)
        beforeAnswer(box);
    EnterCriticalSection(&lock_);
    boxes_.push_back(box);
    LeaveCriticalSection(&lock_);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}
