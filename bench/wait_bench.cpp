// Processor time that the installer's process spends waiting for an INF installer: RunAndWait
// against the exit-code polling loop it replaced, each waiting for a child that runs the given
// number of seconds (default 5). Under Wine every message peek and exit-code query is a request
// to the wineserver, so given the wineserver's Linux process id the bench also reports the
// time the server spent meanwhile (read from its /proc entry through the Z: drive). Run it
// through bench/wait-cpu.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher.h"

namespace {

const double targetShare = 0.02;

double ProcessorSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (double)(k.QuadPart + u.QuadPart) / 1e7;
}

std::string serverStat;  // "Z:\proc\PID\stat" of the wineserver, or empty

// User and system time of the wineserver, from fields 14 and 15 of its stat line (after the
// parenthesised name), in USER_HZ ticks of 1/100 s; negative when unknown.
double ServerSeconds()
{
    if (serverStat.empty())
        return -1;
    HANDLE file = CreateFileA(serverStat.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    char line[1024];
    DWORD read = 0;
    ReadFile(file, line, sizeof line - 1, &read, nullptr);
    CloseHandle(file);
    line[read] = 0;
    const char *field = strrchr(line, ')');
    unsigned long long user = 0, system = 0;
    if (!field || sscanf(field + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                         &user, &system) != 2)
        return -1;
    return (double)(user + system) / 100;
}

double Share(double seconds, double wall)
{
    return seconds > 0 ? seconds / wall : 0;
}

double WallSeconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart / (double)frequency.QuadPart;
}

// The loop that RunAndWait replaced: empty the queue, ask for the exit code, again.
bool PollUntilEnded(const char *program, char *commandLine)
{
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        if (exitCode != STILL_ACTIVE)
            break;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool Measure(const char *what, bool (*wait)(const char *, char *), const std::string &program,
             unsigned seconds, bool withTarget)
{
    std::string commandLine = "wait_bench --child " + std::to_string(seconds);
    double server = ServerSeconds();
    double processor = ProcessorSeconds(), wall = WallSeconds();
    if (!wait(program.c_str(), &commandLine[0])) {
        printf("%s: the child could not be started\n", what);
        return false;
    }
    processor = ProcessorSeconds() - processor;
    wall = WallSeconds() - wall;
    if (server >= 0)
        server = ServerSeconds() - server;
    if (processor < 0)
        processor = 0;  // Wine's figures can step back by a tick
    double share = Share(processor, wall);
    printf("%-24s wall %5.2f s  installer %6.3f s = %5.1f%%", what, wall, processor,
           100 * share);
    if (server >= 0)
        printf("  wineserver %5.2f s = %5.1f%%", server, 100 * Share(server, wall));
    if (withTarget)
        printf("  (target below %.0f%%: %s)", 100 * targetShare,
               share < targetShare ? "met" : "MISSED");
    printf("\n");
    return !withTarget || share < targetShare;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "--child") {
        Sleep(1000 * (DWORD)atoi(argv[2]));
        return 0;
    }
    unsigned seconds = argc > 1 ? (unsigned)atoi(argv[1]) : 5;
    if (argc > 2)
        serverStat = std::string("Z:\\proc\\") + argv[2] + "\\stat";
    char module[MAX_PATH];
    GetModuleFileNameA(nullptr, module, sizeof module);
    printf("Waiting for a child that runs %u s:\n", seconds);
    bool met = Measure("RunAndWait", RunAndWait, module, seconds, true);
    Measure("exit-code poll (before)", PollUntilEnded, module, seconds, false);
    return met ? 0 : 1;
}
