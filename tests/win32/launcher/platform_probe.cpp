// Reports what the launcher and the guard make of the platform this program runs on, so that a
// test can run it under another Windows version than its own (Wine's per-program version
// setting): "nt", "administrator", and the advpack route's two command lines for the work
// directory argv[2] and the INF name argv[3], one "name=value" a line, into the file argv[1].
#include <windows.h>

#include <string>

#include "driver.h"
#include "guards.h"
#include "launcher.h"

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    AllocateBuffers();
    state.useAdvpack = 1;
    CopyText(state.workDirectory, pathBufferSize, argv[2]);
    CopyText(state.infName, pathBufferSize, argv[3]);
    char first[infCommandLineSize], second[infCommandLineSize];
    BuildInfCommandLine(firstInfCommand, first);
    BuildInfCommandLine(secondInfCommand, second);

    std::string report = std::string("nt=") + (IsWindowsNT() ? "1" : "0") + "\n" +
                         "administrator=" + (IsAdministrator() ? "1" : "0") + "\n" +
                         "first=" + first + "\n" + "second=" + second + "\n";
    HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    WriteFile(file, report.data(), (DWORD)report.size(), &written, nullptr);
    CloseHandle(file);
    return written == report.size() ? 0 : 3;
}
