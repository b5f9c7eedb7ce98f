// The tool's only contact with the operating system: files, directories, terminals, the clock.
// Every failure throws an Error that names the path and the system's reason.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

namespace quarvel {

struct FileStatus {
    bool exists = false;
    bool regular = false;
    bool directory = false;
    uint64_t size = 0;
    int64_t modified = 0;  // seconds since 1970, UTC
};

// Follows symbolic links; a path that does not exist gives exists == false.
FileStatus StatPath(const std::string &path);

// The whole file; an Error when it is larger than limit bytes.
std::vector<uint8_t> ReadWholeFile(const std::string &path, uint64_t limit);

// The names in a directory, without "." and "..", in byte order.
std::vector<std::string> ListDirectory(const std::string &path);

// The part of a path behind its last '/'.
std::string BaseName(const std::string &path);

// The value of an environment variable, if it is set.
std::optional<std::string> Environment(const char *name);

bool StderrIsTerminal();

// A program run to its end, found on PATH, with no input.
struct ProgramRun {
    bool found = false;    // false: no such program on PATH
    int exitStatus = -1;   // -1 when it did not exit by itself
    std::string output;    // what it wrote on stdout and stderr
};
ProgramRun RunProgram(const std::vector<std::string> &arguments);

// Seconds of a monotonic clock, for progress and benchmarks.
double MonotonicSeconds();

// An open file descriptor, closed with the object.
class FileHandle {
public:
    FileHandle() = default;
    FileHandle(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    FileHandle(FileHandle &&other) noexcept;
    FileHandle &operator=(FileHandle &&other) noexcept;
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    ~FileHandle();

    static FileHandle OpenForReading(const std::string &path);

    const std::string &path() const { return path_; }
    bool isOpen() const { return fd_ >= 0; }

    uint64_t Size() const;
    // Reads up to count bytes at offset; fewer only at the end of the file.
    size_t ReadAt(uint64_t offset, void *buffer, size_t count) const;
    void ReadExactlyAt(uint64_t offset, void *buffer, size_t count) const;
    void WriteAt(uint64_t offset, const void *buffer, size_t count);
    void Truncate(uint64_t size);
    // Copies length bytes from offset of source to targetOffset of this file.
    void CopyFrom(const FileHandle &source, uint64_t offset, uint64_t length, uint64_t targetOffset);
    // Sets the last-modification and access times.
    void SetModified(int64_t seconds);
    void Close();

private:
    int fd_ = -1;
    std::string path_;
};

// A file that appears under its name only when it is complete: written under a temporary name
// in the same directory, renamed by Commit, removed when the object goes without a Commit.
class PendingFile {
public:
    explicit PendingFile(std::string target);
    PendingFile(PendingFile &&other) noexcept;
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;
    ~PendingFile();

    FileHandle &handle() { return handle_; }
    const std::string &target() const { return target_; }
    // Where the file is until Commit: a scratch file that is never committed is read there.
    const std::string &temporaryPath() const { return temporary_; }
    // Gives the file the permissions of a new file under the umask, flushes it and renames it.
    void Commit();

private:
    std::string target_;
    std::string temporary_;
    FileHandle handle_;
    bool committed_ = false;
};

// Makes a directory unless it exists; true when this call created it.
bool MakeDirectory(const std::string &path);
void RemoveDirectory(const std::string &path);

}  // namespace quarvel
