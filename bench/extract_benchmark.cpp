// Times ExtractCabinet on a cabinet embedded in a package against Wine's extrac32 on the same
// cabinet, each as a process of its own, and prints both times and their ratio.
//
//   extract_benchmark --make-data DIR          writes the files to put in the cabinet
//   extract_benchmark CABINET DIR [--scramble-cabinet] [--runs N]
//   extract_benchmark --extract PACKAGE OFFSET SCRAMBLED WORKDIR   (the measured child)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cabinet.h"
#include "driver.h"
#include "layout.h"
#include "scramble.h"

namespace {

bool WriteWhole(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        CloseHandle(file);
    }
    return written == bytes.size();
}

std::string ReadWhole(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, &bytes[0], (DWORD)bytes.size(), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

// An installer's payload in miniature: media that does not compress, program-like bytes that
// compress about 2:1, and text. 160 MB, about 100 MB as MSZIP.
int MakeData(const std::string &directory)
{
    uint32_t generator = 20240601;
    auto next = [&generator]() {
        generator = generator * 1664525u + 1013904223u;
        return generator >> 8;
    };
    for (int i = 0; i < 16; i++) {
        std::string bytes(10 << 20, '\0');
        const char *kind;
        if (i < 5) {
            kind = "media";
            for (char &c : bytes)
                c = (char)next();
        } else if (i < 14) {
            kind = "program";
            for (size_t at = 0; at < bytes.size(); at++)
                bytes[at] = (char)(next() % 13 * 19);
        } else {
            kind = "text";
            for (size_t at = 0; at < bytes.size();) {
                char buffer[96];
                int length = snprintf(buffer, sizeof buffer, "%08u entry %u of record %u: ok\r\n",
                                      (unsigned)at, next() % 1000, next() % 97);
                bytes.replace(at, std::min((size_t)length, bytes.size() - at), buffer,
                              std::min((size_t)length, bytes.size() - at));
                at += length;
            }
        }
        char name[64];
        snprintf(name, sizeof name, "%s-%02d.bin", kind, i);
        if (!WriteWhole(directory + "\\" + name, bytes))
            return 1;
    }
    return 0;
}

// The measured child: one extraction, as the installer runs it, into WORKDIR (no backslash at
// the end).
int ExtractPackage(const char *package, const char *offset, const char *scrambled,
                   const char *work)
{
    AllocateBuffers();
    GetSystemDirectoryA(state.systemDirectory, sizeof state.systemDirectory);
    BindCabinetLibrary();
    if (!state.cabinetLibraryLoaded)
        return 2;
    CopyText(state.packagePath, sizeof state.packagePath, package);
    CopyText(state.workDirectory, pathBufferSize, work);
    AppendText(state.workDirectory, pathBufferSize, "\\");
    state.cabinetOffset = (DWORD)strtoul(offset, nullptr, 10);
    state.cabinetScrambled = (BYTE)atoi(scrambled);
    HANDLE file = CreateFileA(package, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    state.totalSize = GetFileSize(file, nullptr);
    CloseHandle(file);
    ExtractCabinet(nullptr, nullptr);
    return state.extractionSucceeded ? 0 : 1;
}

void RemoveFiles(const std::string &directory)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA((directory + found.cFileName).c_str());
    while (FindNextFileA(search, &found));
    FindClose(search);
}

// Wall time of one process, in seconds; negative when it failed.
double TimeProcess(std::string command)
{
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    DWORD code = 1;
    // A failed extraction waits on its message box: give up on it.
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    QueryPerformanceCounter(&end);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0 ? double(end.QuadPart - start.QuadPart) / frequency.QuadPart : -1;
}

double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "--make-data") == 0)
        return MakeData(argv[2]);
    if (argc == 6 && strcmp(argv[1], "--extract") == 0)
        return ExtractPackage(argv[2], argv[3], argv[4], argv[5]);
    if (argc < 3) {
        fprintf(stderr, "usage: extract_benchmark CABINET DIR [--scramble-cabinet] [--runs N]\n");
        return 2;
    }
    std::string cabinetPath = argv[1], directory = argv[2];
    if (directory.back() != '\\')
        directory += '\\';
    bool scrambled = false;
    int runs = 3;
    for (int i = 3; i < argc; i++) {
        if (strcmp(argv[i], "--scramble-cabinet") == 0)
            scrambled = true;
        else if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, atoi(argv[++i]));
    }

    // The package: a program image, library slot, header and texts' worth of bytes in front.
    std::string cabinet = ReadWhole(cabinetPath);
    if (cabinet.empty()) {
        fprintf(stderr, "cannot read %s\n", cabinetPath.c_str());
        return 1;
    }
    uint32_t offset = textOffset + 300;
    while (scrambled && CabinetKey((uint32_t)(offset + cabinet.size())) == 0)
        offset++;
    uint8_t key = scrambled ? CabinetKey((uint32_t)(offset + cabinet.size())) : 0;
    std::string package(offset, 'P');
    package.reserve(offset + cabinet.size());
    for (char c : cabinet)
        package += (char)(c ^ key);
    std::string packagePath = directory + "setup.exe";
    std::string ours = directory + "installer\\", theirs = directory + "extrac32\\";
    CreateDirectoryA(ours.c_str(), nullptr);
    CreateDirectoryA(theirs.c_str(), nullptr);
    if (!WriteWhole(packagePath, package)) {
        fprintf(stderr, "cannot write %s\n", packagePath.c_str());
        return 1;
    }
    std::string().swap(package);
    std::string().swap(cabinet);

    char self[MAX_PATH], system[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    GetSystemDirectoryA(system, sizeof system);
    char arguments[64];
    snprintf(arguments, sizeof arguments, "%u %d", offset, scrambled ? 1 : 0);
    // No backslash before a closing quote: the command line would read it as a quote.
    std::string ourCommand = "\"" + std::string(self) + "\" --extract \"" + packagePath + "\" " +
                             arguments + " \"" + ours.substr(0, ours.size() - 1) + "\"";
    std::string theirCommand = "\"" + std::string(system) + "\\extrac32.exe\" /E /L \"" +
                               theirs.substr(0, theirs.size() - 1) + "\" \"" + cabinetPath + "\"";

    // A first pass of each fills the page cache; the runs alternate after it.
    std::vector<double> ourTimes, theirTimes;
    for (int run = -1; run < runs; run++) {
        RemoveFiles(ours);
        double ourTime = TimeProcess(ourCommand);
        RemoveFiles(theirs);
        double theirTime = TimeProcess(theirCommand);
        if (ourTime < 0 || theirTime < 0) {
            fprintf(stderr, "%s failed\n", ourTime < 0 ? "ExtractCabinet" : "extrac32");
            return 1;
        }
        if (run >= 0) {
            ourTimes.push_back(ourTime);
            theirTimes.push_back(theirTime);
        }
    }
    RemoveFiles(ours);
    RemoveFiles(theirs);
    DeleteFileA(packagePath.c_str());

    double ourMedian = Median(ourTimes), theirMedian = Median(theirTimes);
    printf("%s cabinet, median of %d runs, each a process of its own\n",
           scrambled ? "scrambled" : "plain", runs);
    printf("  ExtractCabinet  %.3f s  (best %.3f s)\n", ourMedian,
           *std::min_element(ourTimes.begin(), ourTimes.end()));
    printf("  extrac32 /E /L  %.3f s  (best %.3f s)\n", theirMedian,
           *std::min_element(theirTimes.begin(), theirTimes.end()));
    printf("  ratio           %.3f  (target at most 1.05)\n", ourMedian / theirMedian);
    return 0;
}
