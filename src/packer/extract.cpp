// quarvel extract: the payload of an installer, without running anything. Every stored name is
// checked before the first byte is written; files are written under temporary names and
// renamed only when all of them are complete.
#include "commands.h"
#include "error.h"
#include "scramble.h"

namespace quarvel {

std::vector<std::string> Extract(const ExtractOptions &options)
{
    VolumeSet source(options.path);
    PackageContents contents = ReadPackage(source);
    const PackageHeader &header = contents.header;
    if (!contents.hasMagic)
        throw Error(options.path + ": not a Quarvel installer (no \"KZQ\" at offset " +
                    std::to_string(headerOffset) + ")");
    if (source.missingVolume())
        throw Error(*source.missingVolume() + ": the volume is missing");
    if (!contents.textsRead)
        throw Error(options.path + ": the package header is damaged");
    if (!header.multiVolume && source.Size() != header.totalSize)
        throw Error(options.path + ": the file is " + std::to_string(source.Size()) +
                    " bytes but its header says " + std::to_string(header.totalSize) +
                    "; an installer would refuse it as corrupt");

    // What the installer's extraction sees: the cabinet runs to the end of the package file.
    uint8_t key = header.cabinetScrambled ? CabinetKey(header.totalSize) : 0;
    CabinetReader reader(source, contents.cabinetOffset, source.Size() - contents.cabinetOffset, key);
    uint64_t total = 0;
    for (const CabinetEntry &entry : reader.entries()) {
        std::string fault = ExtractionNameFault(DisplayName(entry));
        if (!fault.empty())
            throw Error("the stored name " + Quoted(DisplayName(entry)) + " " + fault +
                        "; nothing extracted");
        total += entry.size;
    }

    std::string directory = options.directory;
    bool madeDirectory = MakeDirectory(directory);
    std::vector<PendingFile> files;
    std::vector<std::string> written;
    try {
        Progress progress("extracting", total, !options.quiet);
        for (size_t i = 0; i < reader.entries().size(); i++) {
            const CabinetEntry &entry = reader.entries()[i];
            std::string path = directory + (directory.back() == '/' ? "" : "/") + DisplayName(entry);
            files.emplace_back(path);
            reader.Extract(i, files.back().handle(), progress);
            files.back().handle().SetModified(FromDosTimestamp(entry.timestamp));
            written.push_back(path);
        }
        for (PendingFile &file : files)
            file.Commit();
        progress.Finish();
    } catch (...) {
        files.clear();
        if (madeDirectory)
            RemoveDirectory(directory);
        throw;
    }
    return written;
}

}  // namespace quarvel
