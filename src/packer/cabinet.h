// The cabinet inside a package: what the installer can extract, how dates are stored, and the
// writer (libgcab) and reader (libmspack) behind the tool.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "cabinet_file.h"
#include "progress.h"
#include "system.h"
#include "volumes.h"

namespace quarvel {

enum class Compression { none, mszip };

// A file's DOS date and time. The tool stores UTC, so that a package does not depend on the
// time zone of the machine that built it.
struct DosTimestamp {
    uint16_t date;
    uint16_t time;
};
// Clamped to the years a DOS date holds, 1980 to 2107; odd seconds round down.
DosTimestamp ToDosTimestamp(int64_t secondsSince1970);
int64_t FromDosTimestamp(DosTimestamp timestamp);

// Why the installer could not extract a file of this stored name flat into its work
// directory, or could not find it there under that name; empty when the name is good.
std::string StoredNameFault(const std::string &name);

// Why Windows could not create a file or folder of this name (one path component, UTF-8):
// an empty name, a character it forbids, a trailing dot or space, a device name. Empty if it can.
std::string WindowsNameFault(const std::string &name);

// Why the installer could not extract these files and delete each one afterwards: a bad name,
// two names that Windows takes for one, or more files than it records. Empty when it can.
std::string PayloadFault(const std::vector<std::string> &storedNames);

// The name with ASCII letters in lower case, as Windows compares file names.
std::string FoldedName(std::string name);

// Why extracting a file of this stored name (as UTF-8) into a directory would write outside it, or is
// refused for a name with a directory part; empty when the name is a plain file name.
std::string ExtractionNameFault(const std::string &name);

// ---- Writing (libgcab)

struct CabinetMember {
    std::string storedName;
    std::string path;
    int64_t modified;  // what the cabinet records, seconds since 1970
};

// Writes a single-folder cabinet of the members, in their order, into out from offset on, and
// returns its size. Progress advances by the bytes of the members as they are compressed.
uint64_t WriteCabinet(const std::vector<CabinetMember> &members, Compression compression,
                      FileHandle &out, uint64_t offset, Progress &progress);

// ---- Reading (libmspack)

struct CabinetEntry {
    std::string name;  // as stored: code page 1252, or UTF-8 when the attributes say so
    uint32_t size;
    DosTimestamp timestamp;
    uint16_t attributes;
    std::string compression;  // "none", "MSZIP", "Quantum", "LZX"
};

// A cabinet that lies at offset in a source, length bytes long, every byte stored XORed with
// key. Opening checks its headers; the decompressor is libmspack's, made for untrusted input.
class CabinetReader {
public:
    CabinetReader(const ByteSource &source, uint64_t offset, uint64_t length, uint8_t key);
    ~CabinetReader();
    CabinetReader(const CabinetReader &) = delete;
    CabinetReader &operator=(const CabinetReader &) = delete;

    const std::vector<CabinetEntry> &entries() const { return entries_; }
    // The cabinet's own idea of its size, from its header.
    uint32_t declaredLength() const { return declaredLength_; }
    // The cabinet continues a previous one or is continued in a next one.
    bool partOfSet() const { return partOfSet_; }

    // Decompresses entry `index` into out, from its start; progress advances by its bytes.
    void Extract(size_t index, FileHandle &out, Progress &progress);
    // Decompresses every entry and keeps nothing: the checksums and the data are sound.
    void Verify(Progress &progress);

    struct Internals;

private:
    void Decompress(size_t index, FileHandle *out, Progress &progress);

    Internals *internals_;
    std::vector<CabinetEntry> entries_;
    uint32_t declaredLength_ = 0;
    bool partOfSet_ = false;
};

// The name as UTF-8, for messages and for the names extraction gives files.
std::string DisplayName(const CabinetEntry &entry);

}  // namespace quarvel
