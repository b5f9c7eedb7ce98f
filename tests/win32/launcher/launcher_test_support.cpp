#include "launcher_test_support.h"

#include <cstdlib>

#include "driver.h"
#include "launcher.h"
#include "robot.h"
#include "test_support.h"

std::string ChildProgram()
{
    return TestProgramDirectory() + "launcher_child.exe";
}

void PlantChild(const std::string &path)
{
    if (!CopyFileA(ChildProgram().c_str(), path.c_str(), FALSE))
        abort();
}

void SetChildBehaviour(const std::string &log, DWORD sleepMs, DWORD exitCode)
{
    SetEnvironmentVariableA("QUARVEL_CHILD_LOG", log.c_str());
    SetEnvironmentVariableA("QUARVEL_CHILD_SLEEP_MS", std::to_string(sleepMs).c_str());
    SetEnvironmentVariableA("QUARVEL_CHILD_EXIT", std::to_string(exitCode).c_str());
}

void ClearChildBehaviour()
{
    SetEnvironmentVariableA("QUARVEL_CHILD_LOG", nullptr);
    SetEnvironmentVariableA("QUARVEL_CHILD_SLEEP_MS", nullptr);
    SetEnvironmentVariableA("QUARVEL_CHILD_EXIT", nullptr);
}

std::vector<ChildEvent> ReadChildLog(const std::string &log)
{
    std::vector<ChildEvent> events;
    std::string text = ReadFileBytes(log);
    size_t at = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = text.substr(at, end - at);
        std::vector<std::string> fields;
        for (size_t from = 0;;) {
            size_t tab = line.find('\t', from);
            fields.push_back(line.substr(from, tab - from));
            if (tab == std::string::npos)
                break;
            from = tab + 1;
        }
        if (fields[0] == "start" && fields.size() == 4)
            events.push_back({true, fields[1], fields[2], fields[3]});
        else
            events.push_back({false, "", "", ""});
    }
    return events;
}

bool WaitForChildEvents(const std::string &log, size_t count, DWORD timeoutMs)
{
    return robot::WaitUntil([&] { return ReadChildLog(log).size() >= count; }, timeoutMs);
}

static void CopyField(char *field, DWORD size, const std::string &text)
{
    if (text.size() + 1 > size)
        abort();
    FillBytes(field, 0, size);
    CopyText(field, size, text.c_str());
}

void SetLaunchState(bool useAdvpack, const std::string &workDirectory,
                    const std::string &infName, const std::string &systemDirectory,
                    const std::string &currentDirectory)
{
    if (!state.workDirectory)
        AllocateBuffers();
    state.useAdvpack = useAdvpack ? 1 : 0;
    CopyField(state.workDirectory, pathBufferSize, workDirectory);
    CopyField(state.infName, pathBufferSize, infName);
    CopyField(state.systemDirectory, systemDirectorySize, systemDirectory);
    CopyField(state.currentDirectory, currentDirectorySize, currentDirectory);
}

std::string WithoutBackslash(std::string directory)
{
    if (!directory.empty() && directory.back() == '\\')
        directory.pop_back();
    return directory;
}

std::string BuiltCommandLine(int which)
{
    char line[infCommandLineSize];
    BuildInfCommandLine(which, line);
    return line;
}
