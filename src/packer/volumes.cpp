#include "volumes.h"

#include <algorithm>

#include "error.h"
#include "layout.h"
#include "volume_names.h"

namespace quarvel {

std::string VolumeName(const std::string &installerPath, unsigned number)
{
    if (BaseName(installerPath).size() <= volumeNumberLength)
        throw Error(installerPath + ": the name of an installer with volumes needs more than "
                                    "three characters, whose last three the volume number replaces");
    std::string name = installerPath;
    NameVolume(&name[0], name.size(), number);
    return name;
}

VolumePlan PlanVolumes(uint64_t totalSize, uint64_t cabinetOffset, uint64_t volumeSize)
{
    VolumePlan plan;
    // Cut on the certificate table's boundary, so that a signing tool puts no padding between
    // the installer file's share and its signature: the installer joins what precedes the table.
    uint64_t boundary = certificateTableAlignment;
    plan.installerSize = std::min(totalSize, std::max(volumeSize / boundary * boundary,
                                                      (cabinetOffset + boundary - 1) / boundary * boundary));
    uint64_t rest = totalSize - plan.installerSize;
    uint64_t count = (rest + volumeSize - 1) / volumeSize;
    if (count > maxContinuationVolumes)
        throw Error("a volume size of " + std::to_string(volumeSize) + " bytes needs " +
                    std::to_string(count) + " continuation volumes; the installer joins at most " +
                    std::to_string(maxContinuationVolumes));
    for (; rest > 0; rest -= std::min(rest, volumeSize))
        plan.continuationSizes.push_back(std::min(rest, volumeSize));
    return plan;
}

VolumeSet::VolumeSet(const std::string &installerPath)
{
    FileHandle installer = FileHandle::OpenForReading(installerPath);
    uint64_t installerSize = installer.Size();
    uint8_t bytes[headerSize] = {};
    installer.ReadAt(headerOffset, bytes, sizeof bytes);
    PackageHeader header{};
    ParsePackageHeader(bytes, &header);
    bool multiVolume = HasPackageMagic(bytes) && header.multiVolume;
    if (HasPackageMagic(bytes) && installerSize <= UINT32_MAX) {
        uint8_t start[peHeadersReadSize] = {}, atTotalSize[certificateTableAlignment] = {};
        size_t startLength = installer.ReadAt(0, start, sizeof start);
        installer.ReadAt(header.totalSize, atTotalSize, sizeof atTotalSize);
        installerSize = UnsignedPackageBytes(&header, (uint32_t)installerSize, start,
                                             (uint32_t)startLength, atTotalSize, &signature_);
    }
    volumes_.push_back({std::move(installer), 0, installerSize});
    size_ = installerSize;

    for (unsigned number = 1; multiVolume && size_ < header.totalSize; number++) {
        if (number > maxContinuationVolumes)
            break;
        std::string path = VolumeName(installerPath, number);
        if (!StatPath(path).regular) {
            missingVolume_ = path;
            break;
        }
        FileHandle volume = FileHandle::OpenForReading(path);
        uint64_t volumeSize = volume.Size();
        volumes_.push_back({std::move(volume), size_, volumeSize});
        size_ += volumeSize;
    }
}

std::vector<VolumeSet::Volume> VolumeSet::Volumes() const
{
    std::vector<Volume> list;
    for (const OpenVolume &volume : volumes_)
        list.push_back({volume.file.path(), volume.size});
    return list;
}

size_t VolumeSet::ReadAt(uint64_t offset, void *buffer, size_t count) const
{
    size_t done = 0;
    for (const OpenVolume &volume : volumes_) {
        if (done == count)
            break;
        uint64_t at = offset + done;
        if (at >= volume.start + volume.size)
            continue;
        size_t want = (size_t)std::min<uint64_t>(count - done, volume.start + volume.size - at);
        size_t got = volume.file.ReadAt(at - volume.start, (char *)buffer + done, want);
        done += got;
        if (got < want)
            break;  // the volume shrank since it was opened
    }
    return done;
}

}  // namespace quarvel
