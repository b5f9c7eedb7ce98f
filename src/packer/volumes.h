// Volume sets: an installer file followed by continuation volumes, and the joined package
// they make, read in place without joining them on disk.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "signature.h"
#include "system.h"

namespace quarvel {

// Bytes read by offset: the joined package, or any one file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Up to count bytes at offset; fewer only at the end.
    virtual size_t ReadAt(uint64_t offset, void *buffer, size_t count) const = 0;
};

// Continuation volume `number` (1 to 255) of an installer: its path with the last three
// characters replaced by the number in three digits, as the installer looks for it.
std::string VolumeName(const std::string &installerPath, unsigned number);

// How a package of totalSize bytes is cut: the installer file takes volumeSize bytes, or
// everything up to the cabinet when that is more, rounded to the certificate table's boundary;
// each continuation takes volumeSize at most.
struct VolumePlan {
    uint64_t installerSize = 0;
    std::vector<uint64_t> continuationSizes;
};
VolumePlan PlanVolumes(uint64_t totalSize, uint64_t cabinetOffset, uint64_t volumeSize);

// An installer file and, when its header says it spans volumes, the continuation volumes
// beside it, as many as it takes to reach the header's totalSize. Of a signed installer file
// only the bytes in front of its certificate table count, as the installer counts them.
class VolumeSet : public ByteSource {
public:
    explicit VolumeSet(const std::string &installerPath);

    struct Volume {
        std::string path;
        uint64_t size;
    };
    std::vector<Volume> Volumes() const;
    // The first continuation volume that was needed and not found.
    const std::optional<std::string> &missingVolume() const { return missingVolume_; }
    // Where the installer file's signature lies; size 0 when it has none.
    const CertificateTable &signature() const { return signature_; }

    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void *buffer, size_t count) const override;

private:
    struct OpenVolume {
        FileHandle file;
        uint64_t start;
        uint64_t size;
    };
    std::vector<OpenVolume> volumes_;
    uint64_t size_ = 0;
    std::optional<std::string> missingVolume_;
    CertificateTable signature_{0, 0};
};

// One whole file as a ByteSource.
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string &path) : file_(FileHandle::OpenForReading(path)),
                                                   size_(file_.Size()) {}
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void *buffer, size_t count) const override
    {
        return file_.ReadAt(offset, buffer, count);
    }
    const FileHandle &file() const { return file_; }

private:
    FileHandle file_;
    uint64_t size_;
};

}  // namespace quarvel
