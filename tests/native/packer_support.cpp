#include "packer_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "package_builder.h"
#include "stored_cabinet.h"

extern char **environ;

namespace test {

namespace fs = std::filesystem;

ScratchDirectory::ScratchDirectory()
{
    std::string pattern = (fs::temp_directory_path() / "quarvel-test.XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a scratch directory");
    path_ = pattern;
}

ScratchDirectory::~ScratchDirectory()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<std::string> ScratchDirectory::Names() const
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write((const char *)bytes.data(), (std::streamsize)bytes.size());
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string &path, const std::string &text)
{
    WriteFile(path, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string &path)
{
    return fs::exists(path);
}

void SetModified(const std::string &path, int64_t seconds)
{
    struct timespec times[2] = {{(time_t)seconds, 0}, {(time_t)seconds, 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the time of " + path);
}

int64_t ModifiedTime(const std::string &path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        throw std::runtime_error("cannot read the time of " + path);
    return (int64_t)info.st_mtim.tv_sec;
}

static std::string ReadText(const std::string &path)
{
    Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

ToolRun RunTool(const std::vector<std::string> &arguments, const std::vector<std::string> &environment)
{
    ScratchDirectory capture;
    std::string outPath = capture / "out", errPath = capture / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    std::vector<std::string> argumentStore = {QUARVEL_TOOL};
    argumentStore.insert(argumentStore.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &argument : argumentStore)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The inherited environment less SOURCE_DATE_EPOCH and the names given here.
    auto replaced = [&](const std::string &entry) {
        if (entry.rfind("SOURCE_DATE_EPOCH=", 0) == 0)
            return true;
        for (const std::string &given : environment)
            if (entry.rfind(given.substr(0, given.find('=') + 1), 0) == 0)
                return true;
        return false;
    };
    std::vector<std::string> environmentStore;
    for (char **entry = environ; *entry; entry++)
        if (!replaced(*entry))
            environmentStore.push_back(*entry);
    environmentStore.insert(environmentStore.end(), environment.begin(), environment.end());
    std::vector<char *> envp;
    for (std::string &entry : environmentStore)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t child;
    if (posix_spawn(&child, QUARVEL_TOOL, &actions, nullptr, argv.data(), envp.data()) != 0)
        throw std::runtime_error("cannot start " QUARVEL_TOOL);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadText(outPath),
            ReadText(errPath)};
}

Bytes MakeCabinet(const std::vector<CabinetFile> &files, const std::string &nextCabinet)
{
    std::vector<StoredFile> stored;
    for (const CabinetFile &file : files)
        stored.push_back({file.name, std::string(file.data.begin(), file.data.end()), file.date,
                          file.time, file.attributes});
    std::string cabinet = StoredCabinet(stored, nextCabinet);
    return Bytes(cabinet.begin(), cabinet.end());
}

Bytes MakePackage(const Bytes &cabinet, const std::string &infName, bool scrambled)
{
    std::string package =
        PackageAround(std::string(cabinet.begin(), cabinet.end()), infName, scrambled);
    return Bytes(package.begin(), package.end());
}

uint32_t ReadLittleEndian32(const Bytes &bytes, size_t at)
{
    return (uint32_t)ReadLittleEndian16(bytes, at) | (uint32_t)ReadLittleEndian16(bytes, at + 2) << 16;
}

uint16_t ReadLittleEndian16(const Bytes &bytes, size_t at)
{
    return (uint16_t)(bytes.at(at) | bytes.at(at + 1) << 8);
}

std::string SharedTestData(const std::string &relative)
{
    return std::string(QUARVEL_SHARED_DIR) + "/testdata/" + relative;
}

}  // namespace test
