// A whole unattended installation, timed from outside: starts an installer, waits for it and
// prints its wall time and the peak working set of its process. Given the joined size of a
// volume set, it also times the joining: from the work directory's appearance to the joined
// package file's reaching that size (polled every millisecond). Run it through bench/run.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

long long FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: install_bench INSTALLER TEMP_DIRECTORY [JOINED_SIZE]\n");
        return 2;
    }
    std::string temp = argv[2];
    if (temp.back() != '\\')
        temp += '\\';
    long long joinedSize = argc > 3 ? atoll(argv[3]) : -1;
    std::string work = temp + "$Quarvel.Tmp";
    std::string joined = work + "\\Quarvel.pkg";

    std::string environment;
    char *strings = GetEnvironmentStringsA();
    for (char *entry = strings; *entry; entry += strlen(entry) + 1)
        if (_strnicmp(entry, "TMP=", 4) != 0 && _strnicmp(entry, "TEMP=", 5) != 0)
            environment += std::string(entry) + '\0';
    FreeEnvironmentStringsA(strings);
    environment += "TMP=" + temp + '\0' + "TEMP=" + temp + '\0' + '\0';

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = std::string("\"") + argv[1] + "\"";
    LARGE_INTEGER started = Now();
    if (!CreateProcessA(argv[1], &commandLine[0], nullptr, nullptr, FALSE, 0, &environment[0],
                        nullptr, &startup, &process)) {
        fprintf(stderr, "install_bench: cannot start %s (%lu)\n", argv[1], GetLastError());
        return 2;
    }
    LARGE_INTEGER workSeen{}, joinDone{};
    SIZE_T peak = 0;
    while (WaitForSingleObject(process.hProcess, joinedSize >= 0 && !joinDone.QuadPart ? 1 : 10) ==
           WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters) &&
            counters.PeakWorkingSetSize > peak)
            peak = counters.PeakWorkingSetSize;
        if (joinedSize < 0)
            continue;
        if (!workSeen.QuadPart && GetFileAttributesA(work.c_str()) != INVALID_FILE_ATTRIBUTES)
            workSeen = Now();
        if (workSeen.QuadPart && !joinDone.QuadPart && FileSize(joined) >= joinedSize)
            joinDone = Now();
    }
    LARGE_INTEGER ended = Now();
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters) &&
        counters.PeakWorkingSetSize > peak)
        peak = counters.PeakWorkingSetSize;
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    printf("wall %.3f s\npeak-working-set %.1f MB\nexit-code %lu\n", Seconds(started, ended),
           (double)peak / (1024.0 * 1024.0), code);
    if (joinedSize >= 0) {
        if (joinDone.QuadPart)
            printf("join %.3f s\n", Seconds(workSeen, joinDone));
        else
            printf("join unmeasured (the joined file never reached %lld bytes)\n", joinedSize);
    }
    return code == 0 ? 0 : 1;
}
