// quarvel pack: everything is read and checked first, then the installer is written under a
// temporary name, cut into volumes if asked, and renamed into place.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "app.h"
#include "codepage.h"
#include "commands.h"
#include "error.h"
#include "scramble.h"

namespace quarvel {
namespace {

// The cabinet's files, or a ready cabinet.
struct Payload {
    std::vector<CabinetMember> members;
    uint64_t uncompressedSize = 0;
    std::unique_ptr<FileSource> readyCabinet;
    std::vector<std::string> storedNames;
};

// A folder of a cabinet holds at most this much uncompressed data.
constexpr uint64_t largestFolderSize = 0x7FFF8000;

bool HasMzSignature(const std::vector<uint8_t> &image)
{
    return image.size() >= 2 && image[0] == 'M' && image[1] == 'Z';
}

std::vector<uint8_t> StubImage(const PackOptions &options)
{
    std::vector<uint8_t> image = options.stubImage;
    std::string origin = "the built-in stub";
    if (options.stubPath) {
        origin = *options.stubPath;
        image = ReadWholeFile(origin, packageOffset);
    }
    if (!HasMzSignature(image))
        throw Error(origin + ": not a Windows program image");
    return image;
}

std::vector<uint8_t> CabinetLibraryImage(const PackOptions &options)
{
    if (!options.cabinetLibraryPath)
        return {};
    const std::string &path = *options.cabinetLibraryPath;
    std::vector<uint8_t> image = ReadWholeFile(path, cabinetLibrarySlotSize);
    if (!HasMzSignature(image))
        throw Error(path + ": not a DLL image");
    return image;
}

std::string TextFile(const std::optional<std::string> &path)
{
    if (!path)
        return "";
    std::vector<uint8_t> bytes = ReadWholeFile(*path, largestPackageValue);
    std::string utf8(bytes.begin(), bytes.end());
    return WithCrLf(Utf8ToWindows1252(utf8, *path));
}

std::string OneLine(const std::optional<std::string> &text, const char *option)
{
    if (!text)
        return "";
    std::string converted = Utf8ToWindows1252(*text, option);
    for (unsigned char c : converted)
        if (c < 0x20)
            throw Error(std::string(option) + ": a control character; the text is one line");
    return converted;
}

// The members named on the command line, a directory standing for the files in it.
std::vector<CabinetMember> CollectMembers(const std::vector<std::string> &inputs,
                                          std::optional<int64_t> sourceDateEpoch,
                                          uint64_t *totalSize)
{
    std::vector<CabinetMember> members;
    auto add = [&](const std::string &path, const FileStatus &status) {
        if (status.size > largestFolderSize - *totalSize)
            throw Error(path + ": the files add up to more than the " +
                        std::to_string(largestFolderSize) + " bytes a cabinet folder holds");
        *totalSize += status.size;
        members.push_back({BaseName(path), path, sourceDateEpoch.value_or(status.modified)});
    };
    for (const std::string &input : inputs) {
        FileStatus status = StatPath(input);
        if (!status.exists)
            throw Error(input + ": no such file");
        if (status.regular) {
            add(input, status);
        } else if (status.directory) {
            for (const std::string &name : ListDirectory(input)) {
                std::string path = input + (input.back() == '/' ? "" : "/") + name;
                FileStatus inner = StatPath(path);
                if (inner.directory)
                    throw Error(path + ": a subdirectory; the installer extracts every file into "
                                       "one directory, so a payload has none");
                if (!inner.regular)
                    throw Error(path + ": not a regular file");
                add(path, inner);
            }
        } else {
            throw Error(input + ": not a regular file");
        }
    }
    return members;
}

Payload ReadyCabinet(const std::string &path, bool quiet)
{
    Payload payload;
    payload.readyCabinet = std::make_unique<FileSource>(path);
    const FileSource &source = *payload.readyCabinet;
    if (source.Size() > largestPackageValue)
        throw Error(path + ": larger than a package may be");
    try {
        CabinetReader reader(source, 0, source.Size(), 0);
        if (reader.partOfSet())
            throw Error("is part of a cabinet set; the installer extracts a single cabinet");
        if (reader.declaredLength() != source.Size())
            throw Error("is " + std::to_string(source.Size()) + " bytes, but its header says " +
                        std::to_string(reader.declaredLength()));
        for (const CabinetEntry &entry : reader.entries())
            payload.storedNames.push_back(entry.name);
        std::string fault = PayloadFault(payload.storedNames);
        if (!fault.empty())
            throw Error(fault);
        uint64_t total = 0;
        for (const CabinetEntry &entry : reader.entries())
            total += entry.size;
        Progress progress("checking", total, !quiet);
        reader.Verify(progress);
        progress.Finish();
    } catch (const Error &failure) {
        throw Error(path + ": " + failure.what());
    }
    return payload;
}

// advpack splits its command line at commas: an INF name with one installs nothing, silently.
static std::string UsableInfName(const std::string &name)
{
    if (name.find(',') != std::string::npos)
        throw Error("the INF file " + Quoted(name) + " has a comma in its name, which advpack "
                    "reads as the end of the name; rename it");
    return name;
}

std::string ChooseInfName(const std::vector<std::string> &names, const std::optional<std::string> &wanted)
{
    if (wanted) {
        for (const std::string &name : names)
            if (FoldedName(name) == FoldedName(*wanted))
                return UsableInfName(name);
        throw Error("--inf " + Quoted(*wanted) + " is not among the files");
    }
    std::vector<std::string> infs;
    for (const std::string &name : names)
        if (name.size() > 4 && FoldedName(name.substr(name.size() - 4)) == ".inf")
            infs.push_back(name);
    if (infs.empty())
        throw Error("no .inf file among the files; the installer needs one (name it with --inf)");
    if (infs.size() > 1)
        throw Error(std::to_string(infs.size()) + " .inf files among the files (" + infs[0] + ", " +
                    infs[1] + (infs.size() > 2 ? ", ..." : "") + "); choose one with --inf");
    return UsableInfName(infs[0]);
}

std::optional<int64_t> SourceDateEpoch();

// The outer cabinet of an application: its INF and the inner cabinets of its tree, all written
// now into scratch files beside the output, which go with the payload.
struct AppPayload {
    std::string infName;
    std::vector<CabinetMember> members;
    std::vector<std::unique_ptr<PendingFile>> scratch;
};

AppPayload AppCabinets(const PackOptions &options)
{
    App app = ReadApp(*options.app, SourceDateEpoch());
    AppPayload payload;
    std::string stem = AppFileStem(app.name);
    payload.infName = stem + ".inf";
    std::vector<std::vector<CabinetMember>> cabinets(app.cabinets);
    uint64_t total = 0;
    int64_t newest = 0;
    for (const AppFile &file : app.files) {
        cabinets[file.cabinet - 1].push_back({file.storedName, file.sourcePath, file.modified});
        total += file.size;
        newest = std::max(newest, file.modified);
    }
    std::vector<uint8_t> inf = AppInf(app);
    payload.scratch.push_back(std::make_unique<PendingFile>(options.output + ".inf"));
    payload.scratch.back()->handle().WriteAt(0, inf.data(), inf.size());
    payload.members.push_back({payload.infName, payload.scratch.back()->temporaryPath(), newest});
    Progress progress("packing", total, !options.quiet);
    for (size_t i = 0; i < cabinets.size(); i++) {
        payload.scratch.push_back(std::make_unique<PendingFile>(options.output + ".cab"));
        WriteCabinet(cabinets[i], options.compression.value_or(Compression::mszip),
                     payload.scratch.back()->handle(), 0, progress);
        payload.members.push_back({AppCabinetName(stem, (unsigned)i + 1),
                                   payload.scratch.back()->temporaryPath(), newest});
    }
    progress.Finish();
    return payload;
}

std::optional<int64_t> SourceDateEpoch()
{
    std::optional<std::string> text = Environment("SOURCE_DATE_EPOCH");
    if (!text)
        return std::nullopt;
    if (text->empty() || text->size() > 18 ||
        !std::all_of(text->begin(), text->end(), [](unsigned char c) { return std::isdigit(c); }))
        throw Error("SOURCE_DATE_EPOCH is " + Quoted(*text) + ", not a count of seconds");
    return std::stoll(*text);
}

void ScrambleInPlace(FileHandle &file, uint64_t offset, uint64_t length, uint8_t key)
{
    std::vector<uint8_t> chunk(1 << 20);
    while (length > 0) {
        size_t count = (size_t)std::min<uint64_t>(length, chunk.size());
        file.ReadExactlyAt(offset, chunk.data(), count);
        for (size_t i = 0; i < count; i++)
            chunk[i] ^= key;
        file.WriteAt(offset, chunk.data(), count);
        offset += count;
        length -= count;
    }
}

// Signs the finished installer file in place through osslsigncode, which appends the signature
// that the installer recognises; an Error leaves the file unsigned and uncommitted.
void SignInstaller(PendingFile &installer, const SigningOptions &signing,
                   const std::optional<std::string> &title)
{
    std::string signedPath = installer.temporaryPath() + ".signed";
    struct RemoveAtEnd {
        const std::string &path;
        ~RemoveAtEnd() { remove(path.c_str()); }
    } removeSigned{signedPath};
    std::vector<std::string> arguments = {"osslsigncode", "sign", "-certs", signing.certificate,
                                          "-key", signing.key};
    if (title)
        arguments.insert(arguments.end(), {"-n", *title});
    if (signing.timestampServer)
        arguments.insert(arguments.end(), {"-ts", *signing.timestampServer});
    arguments.insert(arguments.end(), {"-in", installer.temporaryPath(), "-out", signedPath});
    ProgramRun run = RunProgram(arguments);
    if (!run.found)
        throw Error("signing needs osslsigncode (Debian package osslsigncode), which is not "
                    "installed; nothing written");
    if (run.exitStatus != 0) {
        std::string reason = run.output.substr(0, run.output.find('\n'));
        throw Error("osslsigncode could not sign the installer" +
                    (reason.empty() ? std::string() : ": " + reason) + "; nothing written");
    }
    FileHandle signedFile = FileHandle::OpenForReading(signedPath);
    installer.handle().CopyFrom(signedFile, 0, signedFile.Size(), 0);
}

}  // namespace

std::vector<WrittenFile> Pack(const PackOptions &options)
{
    if (options.output.empty())
        throw UsageError("pack needs an output file: -o FILE");
    if (options.app && (options.cabinet || !options.inputs.empty() || options.infName))
        throw UsageError("--app takes the place of FILEs, --cabinet and --inf: its INF is made for it");
    if (options.cabinet && !options.inputs.empty())
        throw UsageError("--cabinet takes the place of FILEs: give one or the other");
    if (!options.app && !options.cabinet && options.inputs.empty())
        throw UsageError("pack needs the files to install, or --cabinet CAB");
    if (options.cabinet && options.compression)
        throw UsageError("--compression applies to FILEs, not to a ready --cabinet");
    if (options.volumeSize > 0)
        VolumeName(options.output, 1);

    std::vector<uint8_t> stub = StubImage(options);
    std::vector<uint8_t> cabinetLibrary = CabinetLibraryImage(options);
    PackageTexts texts;
    texts.title = OneLine(options.title, "--title");
    texts.infoText = TextFile(options.infoPath);
    texts.message = TextFile(options.messagePath);
    texts.licence = TextFile(options.licencePath);

    Payload payload;
    AppPayload app;
    if (options.app) {
        app = AppCabinets(options);
        payload.members = app.members;
        for (const CabinetMember &member : payload.members) {
            payload.storedNames.push_back(member.storedName);
            payload.uncompressedSize += StatPath(member.path).size;
        }
    } else if (options.cabinet) {
        payload = ReadyCabinet(*options.cabinet, options.quiet);
    } else {
        payload.members = CollectMembers(options.inputs, SourceDateEpoch(), &payload.uncompressedSize);
        for (const CabinetMember &member : payload.members)
            payload.storedNames.push_back(member.storedName);
        std::string fault = PayloadFault(payload.storedNames);
        if (!fault.empty())
            throw Error(fault);
    }
    texts.infName = options.app ? app.infName : ChooseInfName(payload.storedNames, options.infName);
    uint64_t textsEnd = (uint64_t)textOffset + texts.title.size() + texts.infName.size() +
                        texts.infoText.size() + texts.message.size() + texts.licence.size();
    if (textsEnd > largestPackageValue)
        throw Error("the texts are larger than a package may be");
    PackageFlags flags = options.flags;
    PackageHeader header = MakePackageHeader(texts, flags, 0);  // checks the lengths early
    uint32_t cabinetOffset = CabinetOffset(&header);

    PendingFile installer(options.output);
    uint64_t cabinetSize;
    if (payload.readyCabinet) {
        cabinetSize = payload.readyCabinet->Size();
        installer.handle().CopyFrom(payload.readyCabinet->file(), 0, cabinetSize, cabinetOffset);
    } else {
        // An application's inner cabinet is compressed already: stored as it is.
        Compression compression = options.app ? Compression::none
                                              : options.compression.value_or(Compression::mszip);
        Progress progress(options.app ? "storing" : "packing", payload.uncompressedSize, !options.quiet);
        cabinetSize = WriteCabinet(payload.members, compression, installer.handle(), cabinetOffset, progress);
        progress.Finish();
    }
    uint64_t totalSize = cabinetOffset + cabinetSize;
    if (totalSize > largestPackageValue)
        throw Error("the package would be " + std::to_string(totalSize) +
                    " bytes; a package is smaller than 2 GiB");

    VolumePlan plan{totalSize, {}};
    if (options.volumeSize > 0)
        plan = PlanVolumes(totalSize, cabinetOffset, options.volumeSize);
    flags.multiVolume = !plan.continuationSizes.empty();
    header = MakePackageHeader(texts, flags, (uint32_t)totalSize);
    std::vector<uint8_t> prefix = PackagePrefix(stub, cabinetLibrary, header, texts);
    installer.handle().WriteAt(0, prefix.data(), prefix.size());
    uint8_t key = CabinetKey(header.totalSize);
    if (flags.scrambleCabinet && key != 0)
        ScrambleInPlace(installer.handle(), cabinetOffset, cabinetSize, key);

    std::vector<PendingFile> volumes;
    std::vector<WrittenFile> written{{options.output, plan.installerSize}};
    uint64_t at = plan.installerSize;
    for (size_t i = 0; i < plan.continuationSizes.size(); i++) {
        uint64_t size = plan.continuationSizes[i];
        volumes.emplace_back(VolumeName(options.output, (unsigned)(i + 1)));
        volumes.back().handle().CopyFrom(installer.handle(), at, size, 0);
        written.push_back({volumes.back().target(), size});
        at += size;
    }
    installer.handle().Truncate(plan.installerSize);
    if (options.signing) {
        SignInstaller(installer, *options.signing, options.title);
        written.front().size = installer.handle().Size();
    }
    // The installer last: a set is complete once its first file is there.
    for (PendingFile &volume : volumes)
        volume.Commit();
    installer.Commit();
    return written;
}

}  // namespace quarvel
