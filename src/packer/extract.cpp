// quarvel extract: the payload of an installer, without running anything. Every stored name is
// checked before the first byte is written; files are written under temporary names and
// renamed only when all of them are complete.
#include "codepage.h"
#include "commands.h"
#include "error.h"
#include "scramble.h"

namespace quarvel {
namespace {

// Why a path of an application's tree, '/'-separated, would not land inside the directory.
std::string TreePathFault(const std::string &path)
{
    for (size_t start = 0; start <= path.size();) {
        size_t end = std::min(path.find('/', start), path.size());
        if (path.compare(start, end - start, "..") == 0)
            return "leads out of the directory";
        std::string fault = ExtractionNameFault(path.substr(start, end - start));
        if (!fault.empty())
            return fault;
        start = end + 1;
    }
    return "";
}

// Restores an application's tree under its real names; on failure removes what it made.
std::vector<std::string> ExtractApp(PackedApp &app, const ExtractOptions &options)
{
    uint64_t total = 0;
    for (size_t i = 0; i < app.listing.files.size(); i++) {
        const std::string &path = app.listing.files[i].path;
        std::string fault = TreePathFault(path);
        if (!fault.empty())
            throw Error("the application's file " + Quoted(path) + " " + fault + "; nothing extracted");
        total += app.ReaderOf(i).entries()[app.entryOf[i]].size;
    }
    std::string directory = options.directory;
    if (directory.back() != '/')
        directory += '/';
    std::vector<std::string> madeDirectories;
    std::vector<PendingFile> files;
    std::vector<std::string> written;
    try {
        if (MakeDirectory(directory))
            madeDirectories.push_back(directory);
        Progress progress("extracting", total, !options.quiet);
        for (size_t i = 0; i < app.listing.files.size(); i++) {
            const std::string &path = app.listing.files[i].path;
            for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
                if (MakeDirectory(directory + path.substr(0, slash)))
                    madeDirectories.push_back(directory + path.substr(0, slash));
            const CabinetEntry &entry = app.ReaderOf(i).entries()[app.entryOf[i]];
            files.emplace_back(directory + path);
            app.ReaderOf(i).Extract(app.entryOf[i], files.back().handle(), progress);
            files.back().handle().SetModified(FromDosTimestamp(entry.timestamp));
            written.push_back(directory + path);
        }
        for (PendingFile &file : files)
            file.Commit();
        progress.Finish();
    } catch (...) {
        files.clear();
        for (auto made = madeDirectories.rbegin(); made != madeDirectories.rend(); ++made)
            RemoveDirectory(*made);
        throw;
    }
    return written;
}

}  // namespace

std::vector<std::string> Extract(const ExtractOptions &options)
{
    VolumeSet source(options.path);
    PackageContents contents = ReadPackage(source);
    const PackageHeader &header = contents.header;
    if (!contents.hasMagic)
        throw Error(options.path + ": not a Quarvel installer (no \"" + packageMagic + "\" at offset " +
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
    std::optional<PackedApp> app = OpenPackedApp(reader, Windows1252ToUtf8(contents.texts.infName));
    if (app)
        return ExtractApp(*app, options);

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
