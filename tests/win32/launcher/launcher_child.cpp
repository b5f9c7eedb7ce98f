// A stand-in for an INF installer. Told by its environment (inherited from the test) what to
// do: appends "start", its own path, its current directory and its command line to the log
// QUARVEL_CHILD_LOG, sleeps QUARVEL_CHILD_SLEEP_MS, appends "end" and exits with
// QUARVEL_CHILD_EXIT. Fields are separated by tabs, one record a line.
#include <windows.h>

#include <cstdlib>
#include <string>

static std::string Variable(const char *name)
{
    char value[1024];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

static void AppendToLog(const std::string &log, const std::string &line)
{
    HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line.data(), (DWORD)line.size(), &written, nullptr);
    CloseHandle(file);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::string log = Variable("QUARVEL_CHILD_LOG");
    char module[MAX_PATH] = "", directory[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, module, sizeof module);
    GetCurrentDirectoryA(sizeof directory, directory);
    if (!log.empty())
        AppendToLog(log, std::string("start\t") + module + "\t" + directory + "\t" +
                             GetCommandLineA() + "\n");
    Sleep((DWORD)strtoul(Variable("QUARVEL_CHILD_SLEEP_MS").c_str(), nullptr, 10));
    if (!log.empty())
        AppendToLog(log, "end\n");
    return (int)strtoul(Variable("QUARVEL_CHILD_EXIT").c_str(), nullptr, 10);
}
