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

#include "scramble.h"

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

static void Put16(Bytes &bytes, uint16_t value)
{
    bytes.push_back((uint8_t)value);
    bytes.push_back((uint8_t)(value >> 8));
}

static void Put32(Bytes &bytes, uint32_t value)
{
    Put16(bytes, (uint16_t)value);
    Put16(bytes, (uint16_t)(value >> 16));
}

static void PutString(Bytes &bytes, const std::string &text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
}

Bytes MakeCabinet(const std::vector<CabinetFile> &files, const std::string &nextCabinet)
{
    constexpr size_t blockSize = 32768;
    Bytes data;
    for (const CabinetFile &file : files)
        data.insert(data.end(), file.data.begin(), file.data.end());
    size_t blocks = (data.size() + blockSize - 1) / blockSize;

    Bytes strings;  // the next cabinet's name and disk, behind the fixed header
    if (!nextCabinet.empty()) {
        PutString(strings, nextCabinet);
        PutString(strings, "disk 2");
    }
    size_t filesOffset = 36 + strings.size() + 8;
    size_t dataOffset = filesOffset;
    for (const CabinetFile &file : files)
        dataOffset += 16 + file.name.size() + 1;
    size_t total = dataOffset + blocks * 8 + data.size();

    Bytes cab = {'M', 'S', 'C', 'F'};
    cab.reserve(total);
    Put32(cab, 0);
    Put32(cab, (uint32_t)total);  // cbCabinet
    Put32(cab, 0);
    Put32(cab, (uint32_t)filesOffset);  // coffFiles
    Put32(cab, 0);
    cab.push_back(3);  // version 1.3
    cab.push_back(1);
    Put16(cab, 1);  // cFolders
    Put16(cab, (uint16_t)files.size());
    Put16(cab, nextCabinet.empty() ? 0 : 0x0002);  // flags: cfhdrNEXT_CABINET
    Put16(cab, 0x1234);  // setID
    Put16(cab, 0);       // iCabinet
    cab.insert(cab.end(), strings.begin(), strings.end());
    Put32(cab, (uint32_t)dataOffset);  // CFFOLDER: coffCabStart
    Put16(cab, (uint16_t)blocks);
    Put16(cab, 0);  // tcompTYPE_NONE
    uint32_t folderOffset = 0;
    for (const CabinetFile &file : files) {
        Put32(cab, (uint32_t)file.data.size());
        Put32(cab, folderOffset);
        Put16(cab, 0);  // iFolder
        Put16(cab, file.date);
        Put16(cab, file.time);
        Put16(cab, file.attributes);
        PutString(cab, file.name);
        folderOffset += (uint32_t)file.data.size();
    }
    for (size_t at = 0; at < data.size(); at += blockSize) {
        size_t count = std::min(blockSize, data.size() - at);
        Put32(cab, 0);  // no checksum
        Put16(cab, (uint16_t)count);
        Put16(cab, (uint16_t)count);
        cab.insert(cab.end(), data.begin() + (ptrdiff_t)at, data.begin() + (ptrdiff_t)(at + count));
    }
    return cab;
}

Bytes MakePackage(const Bytes &cabinet, const std::string &infName, bool scrambled)
{
    Bytes package(textOffset + infName.size() + cabinet.size(), 0);
    package[0] = 'M';
    package[1] = 'Z';
    std::copy(infName.begin(), infName.end(), package.begin() + textOffset);
    PackageHeader header{};
    header.infNameLength = (uint8_t)infName.size();
    header.cabinetScrambled = scrambled;
    header.totalSize = (uint32_t)package.size();
    SerialisePackageHeader(&header, package.data() + headerOffset);
    uint8_t key = scrambled ? (uint8_t)((int32_t)header.totalSize % 73) : 0;
    size_t at = textOffset + infName.size();
    for (uint8_t byte : cabinet)
        package[at++] = byte ^ key;
    return package;
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
