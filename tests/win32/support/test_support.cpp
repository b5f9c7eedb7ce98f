#include "test_support.h"

#include <algorithm>
#include <utility>
#include <cstdlib>
#include <cstring>

#include "robot.h"

std::string WindowsPathFromEnvironment(const char *variable)
{
    const char *value = getenv(variable);
    std::string path = !value ? "" : value[0] == '/' ? std::string("Z:") + value : value;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

void RemoveTree(const std::string &path)
{
    std::string target = path.substr(0, path.find_last_not_of('\\') + 1);
    for (const std::string &name : NamesIn(target))
        RemoveTree(target + "\\" + name);
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!RemoveDirectoryA(target.c_str()))
        DeleteFileA(target.c_str());
}

std::string ScratchDirectory(const std::string &name)
{
    std::string root = TempDirectory() + "quarvel-tests\\", directory = root + name;
    CreateDirectoryA(root.c_str(), nullptr);
    RemoveTree(directory);
    CreateDirectoryA(directory.c_str(), nullptr);
    return directory + "\\";
}

void WriteFileBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        CloseHandle(file);
    }
    if (file == INVALID_HANDLE_VALUE || written != bytes.size())
        abort();
}

std::string ReadFileBytes(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, &bytes[0], (DWORD)bytes.size(), &read, nullptr);
    CloseHandle(file);
    return bytes.substr(0, read);
}

std::set<std::string> NamesIn(const std::string &directory)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    std::string separator = directory.empty() || directory.back() != '\\' ? "\\" : "";
    HANDLE search = FindFirstFileA((directory + separator + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            names.insert(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// What a call that fills a MAX_PATH buffer and answers the length gave.
template <typename Call> static std::string Filled(Call call)
{
    char path[MAX_PATH];
    return std::string(path, call(path));
}

std::string SystemDirectory() { return Filled([](char *p) { return GetSystemDirectoryA(p, MAX_PATH); }); }
std::string WindowsDirectory() { return Filled([](char *p) { return GetWindowsDirectoryA(p, MAX_PATH); }); }
std::string CurrentDirectory() { return Filled([](char *p) { return GetCurrentDirectoryA(MAX_PATH, p); }); }
std::string TempDirectory() { return Filled([](char *p) { return GetTempPathA(MAX_PATH, p); }); }

std::string TestProgramDirectory()
{
    std::string program = Filled([](char *p) { return GetModuleFileNameA(nullptr, p, MAX_PATH); });
    return program.substr(0, program.rfind('\\') + 1);
}

bool StartProgram(const char *program, std::string commandLine, PROCESS_INFORMATION &process,
                  const std::vector<std::string> &settings, const char *directory)
{
    std::string environment;  // the inherited block less the variables that settings set
    char *inherited = GetEnvironmentStringsA();
    for (char *entry = inherited; *entry; entry += strlen(entry) + 1)
        if (std::none_of(settings.begin(), settings.end(), [&](const std::string &setting) {
                return _strnicmp(entry, setting.c_str(), setting.find('=') + 1) == 0;
            }))
            environment += std::string(entry) + '\0';
    FreeEnvironmentStringsA(inherited);
    for (const std::string &setting : settings)
        environment += setting + '\0';
    environment += '\0';
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
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
    return StartProgram(program, commandLine, process) ? WaitForExit(process, timeoutMs)
                                                       : (DWORD)-1;
}

std::string RegistryText(HKEY root, const std::string &key, const char *value)
{
    char data[1024] = "";
    DWORD size = sizeof data - 1;  // a final NUL even for a value stored without one
    if (RegGetValueA(root, key.c_str(), value, RRF_RT_ANY, nullptr, data, &size) != ERROR_SUCCESS)
        return "";
    return data;
}

bool RegistryKeyExists(HKEY root, const std::string &key)
{
    HKEY opened;
    bool exists = RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS;
    return exists && RegCloseKey(opened) == ERROR_SUCCESS;
}

bool SetRegistryText(HKEY root, const std::string &key, const char *value, const std::string &text)
{
    return RegSetKeyValueA(root, key.c_str(), value, REG_SZ, text.c_str(),
                           (DWORD)text.size() + 1) == ERROR_SUCCESS;
}

// The box's style as far as it shows: which standard icon, and whether it has a Cancel button.
static UINT StyleOfBox(HWND box)
{
    static const std::pair<LPCSTR, UINT> icons[] = {
        {IDI_HAND, MB_ICONHAND}, {IDI_ASTERISK, MB_ICONINFORMATION},
        {IDI_EXCLAMATION, MB_ICONEXCLAMATION}, {IDI_QUESTION, MB_ICONQUESTION}};
    HICON icon = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child && !icon;
         child = GetWindow(child, GW_HWNDNEXT))
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            icon = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
    UINT style = 0;
    for (const auto &known : icons)
        if (icon && icon == LoadIconA(nullptr, known.first))
            style = known.second;
    HWND cancel = GetDlgItem(box, IDCANCEL);
    if (GetDlgItem(box, IDOK) && cancel && IsWindowVisible(cancel))
        style |= MB_OKCANCEL;
    return style;
}

MessageBoxAnswerer::MessageBoxAnswerer(int button,
                                       std::function<void(const ShownBox &)> beforeAnswer)
    : button_(button), beforeAnswer_(std::move(beforeAnswer))
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

std::vector<ShownBox> MessageBoxAnswerer::Boxes()
{
    EnterCriticalSection(&lock_);
    std::vector<ShownBox> boxes = boxes_;
    LeaveCriticalSection(&lock_);
    return boxes;
}

DWORD WINAPI MessageBoxAnswerer::Run(void *self)
{
    MessageBoxAnswerer *answerer = (MessageBoxAnswerer *)self;
    std::set<HWND> answered;  // a box stays visible a while after its button is pressed
    while (WaitForSingleObject(answerer->stop_, 25) == WAIT_TIMEOUT)
        for (const robot::Box &found : robot::FindMessageBoxes(nullptr, GetCurrentProcessId())) {
            if (!answered.insert(found.window).second)
                continue;
            ShownBox box = {found.caption, found.text, StyleOfBox(found.window)};
            if (answerer->beforeAnswer_)
                answerer->beforeAnswer_(box);
            EnterCriticalSection(&answerer->lock_);
            answerer->boxes_.push_back(box);
            LeaveCriticalSection(&answerer->lock_);
            robot::PostCommand(found.window, answerer->button_);
        }
    return 0;
}
