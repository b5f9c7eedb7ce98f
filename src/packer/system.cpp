#include "system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "error.h"

namespace quarvel {

extern "C" char **environ;

static Error SystemError(const std::string &path, const char *what)
{
    return Error(path + ": " + what + ": " + strerror(errno));
}

FileStatus StatPath(const std::string &path)
{
    FileStatus status;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return status;
        throw SystemError(path, "cannot read its status");
    }
    status.exists = true;
    status.regular = S_ISREG(info.st_mode);
    status.directory = S_ISDIR(info.st_mode);
    status.size = (uint64_t)info.st_size;
    status.modified = (int64_t)info.st_mtim.tv_sec;
    return status;
}

std::vector<uint8_t> ReadWholeFile(const std::string &path, uint64_t limit)
{
    FileHandle file = FileHandle::OpenForReading(path);
    uint64_t size = file.Size();
    if (size > limit)
        throw Error(path + ": " + std::to_string(size) + " bytes, more than the " +
                    std::to_string(limit) + " it may have");
    std::vector<uint8_t> bytes(size);
    file.ReadExactlyAt(0, bytes.data(), bytes.size());
    return bytes;
}

std::vector<std::string> ListDirectory(const std::string &path)
{
    DIR *directory = opendir(path.c_str());
    if (!directory)
        throw SystemError(path, "cannot read the directory");
    std::vector<std::string> names;
    while (struct dirent *entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

std::string BaseName(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> Environment(const char *name)
{
    const char *value = getenv(name);
    if (!value)
        return std::nullopt;
    return std::string(value);
}

bool StderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

double MonotonicSeconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

FileHandle::FileHandle(FileHandle &&other) noexcept : fd_(other.fd_), path_(std::move(other.path_))
{
    other.fd_ = -1;
}

FileHandle &FileHandle::operator=(FileHandle &&other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

FileHandle::~FileHandle()
{
    if (fd_ >= 0)
        close(fd_);
}

FileHandle FileHandle::OpenForReading(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw SystemError(path, "cannot open");
    FileHandle handle(fd, path);
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode))
        throw Error(path + ": is a directory");
    return handle;
}

uint64_t FileHandle::Size() const
{
    struct stat info;
    if (fstat(fd_, &info) != 0)
        throw SystemError(path_, "cannot read its size");
    return (uint64_t)info.st_size;
}

size_t FileHandle::ReadAt(uint64_t offset, void *buffer, size_t count) const
{
    size_t done = 0;
    while (done < count) {
        ssize_t got = pread(fd_, (char *)buffer + done, count - done, (off_t)(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw SystemError(path_, "cannot read");
        if (got == 0)
            break;
        done += (size_t)got;
    }
    return done;
}

void FileHandle::ReadExactlyAt(uint64_t offset, void *buffer, size_t count) const
{
    if (ReadAt(offset, buffer, count) != count)
        throw Error(path_ + ": ends unexpectedly at offset " + std::to_string(offset));
}

void FileHandle::WriteAt(uint64_t offset, const void *buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        ssize_t put = pwrite(fd_, (const char *)buffer + done, count - done, (off_t)(offset + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            throw SystemError(path_, "cannot write");
        done += (size_t)put;
    }
}

void FileHandle::Truncate(uint64_t size)
{
    if (ftruncate(fd_, (off_t)size) != 0)
        throw SystemError(path_, "cannot set the size");
}

void FileHandle::CopyFrom(const FileHandle &source, uint64_t offset, uint64_t length,
                          uint64_t targetOffset)
{
    loff_t from = (loff_t)offset, to = (loff_t)targetOffset;
    while (length > 0) {
        ssize_t copied = copy_file_range(source.fd_, &from, fd_, &to, length, 0);
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL)) {
            // Not supported between these files: copy through memory.
            std::vector<uint8_t> chunk(1 << 20);
            while (length > 0) {
                size_t count = (size_t)std::min<uint64_t>(length, chunk.size());
                source.ReadExactlyAt((uint64_t)from, chunk.data(), count);
                WriteAt((uint64_t)to, chunk.data(), count);
                from += (loff_t)count;
                to += (loff_t)count;
                length -= count;
            }
            return;
        }
        if (copied < 0)
            throw SystemError(path_, "cannot copy into");
        if (copied == 0)
            throw Error(source.path_ + ": ends unexpectedly at offset " + std::to_string(from));
        length -= (uint64_t)copied;
    }
}

void FileHandle::SetModified(int64_t seconds)
{
    struct timespec times[2] = {{(time_t)seconds, 0}, {(time_t)seconds, 0}};
    if (futimens(fd_, times) != 0)
        throw SystemError(path_, "cannot set the time");
}

void FileHandle::Close()
{
    if (fd_ >= 0 && close(fd_) != 0) {
        fd_ = -1;
        throw SystemError(path_, "cannot close");
    }
    fd_ = -1;
}

PendingFile::PendingFile(std::string target) : target_(std::move(target))
{
    size_t slash = target_.find_last_of('/');
    std::string directory = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string pattern = directory + "." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0)
        throw SystemError(target_, "cannot create");
    temporary_ = buffer.data();
    handle_ = FileHandle(fd, target_);
}

PendingFile::PendingFile(PendingFile &&other) noexcept
    : target_(std::move(other.target_)), temporary_(std::move(other.temporary_)),
      handle_(std::move(other.handle_)), committed_(other.committed_)
{
    other.committed_ = true;
}

PendingFile::~PendingFile()
{
    if (!committed_)
        unlink(temporary_.c_str());
}

void PendingFile::Commit()
{
    mode_t mask = umask(0);
    umask(mask);
    handle_.Close();
    if (chmod(temporary_.c_str(), 0666 & ~mask) != 0)
        throw SystemError(target_, "cannot set the permissions of");
    if (rename(temporary_.c_str(), target_.c_str()) != 0)
        throw SystemError(target_, "cannot create");
    committed_ = true;
}

ProgramRun RunProgram(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    int errors[2];
    if (pipe2(errors, O_CLOEXEC) != 0)
        throw SystemError(arguments[0], "cannot run");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errors[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
    pid_t child;
    int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(errors[1]);

    ProgramRun run;
    if (spawned != 0) {
        close(errors[0]);
        if (spawned == ENOENT)
            return run;
        errno = spawned;
        throw SystemError(arguments[0], "cannot run");
    }
    run.found = true;
    char buffer[4096];
    for (ssize_t got; (got = read(errors[0], buffer, sizeof buffer)) != 0;) {
        if (got > 0)
            run.output.append(buffer, (size_t)got);
        else if (errno != EINTR)
            break;
    }
    close(errors[0]);
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited == child && WIFEXITED(status))
        run.exitStatus = WEXITSTATUS(status);
    return run;
}

bool MakeDirectory(const std::string &path)
{
    if (mkdir(path.c_str(), 0777) == 0)
        return true;
    if (errno == EEXIST && StatPath(path).directory)
        return false;
    throw SystemError(path, "cannot create the directory");
}

void RemoveDirectory(const std::string &path)
{
    rmdir(path.c_str());
}

}  // namespace quarvel
