// Helpers for the packaging tool's tests: scratch directories, files, runs of the real
// `quarvel` program, and cabinets and packages made by hand, independently of the tool.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "layout.h"

namespace test {

using Bytes = std::vector<uint8_t>;

// A fresh directory under the system's temporary directory, removed with its contents.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }
    // The names in the directory, sorted.
    std::vector<std::string> Names() const;

private:
    std::string path_;
};

void WriteFile(const std::string &path, const Bytes &bytes);
void WriteFile(const std::string &path, const std::string &text);
Bytes ReadFile(const std::string &path);
bool FileExists(const std::string &path);
void SetModified(const std::string &path, int64_t seconds);
int64_t ModifiedTime(const std::string &path);

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

// Runs the built `quarvel` with these arguments and environment entries ("NAME=value") that
// replace the inherited ones of their names.
ToolRun RunTool(const std::vector<std::string> &arguments,
                const std::vector<std::string> &environment = {});

struct CabinetFile {
    std::string name;
    Bytes data;
    uint16_t date = 0x5821;  // 2024-01-01
    uint16_t time = 0x6000;  // 12:00:00
    uint16_t attributes = 0x20;
};

// StoredCabinet and PackageAround (tests/common) for byte vectors.
Bytes MakeCabinet(const std::vector<CabinetFile> &files, const std::string &nextCabinet = "");

Bytes MakePackage(const Bytes &cabinet, const std::string &infName, bool scrambled);

uint32_t ReadLittleEndian32(const Bytes &bytes, size_t at);
uint16_t ReadLittleEndian16(const Bytes &bytes, size_t at);

// The shared test data directory, and the cabinets in it.
std::string SharedTestData(const std::string &relative);

}  // namespace test
