// An application packed with `pack --app`, read back from an installer for inspect and extract.
#include "app.h"
#include "cabinet.h"
#include "error.h"

namespace quarvel {

PackedApp::PackedApp() = default;
PackedApp::~PackedApp() = default;
PackedApp::PackedApp(PackedApp &&) = default;

namespace {

// The largest INF read back: a tree of some ten thousand files.
constexpr uint64_t largestInf = 16 << 20;

std::string TemporaryDirectory()
{
    std::string directory = Environment("TMPDIR").value_or("/tmp");
    return directory.empty() ? "/tmp" : directory;
}

std::optional<size_t> EntryNamed(const CabinetReader &reader, const std::string &name)
{
    for (size_t i = 0; i < reader.entries().size(); i++)
        if (FoldedName(DisplayName(reader.entries()[i])) == FoldedName(name))
            return i;
    return std::nullopt;
}

}  // namespace

std::optional<PackedApp> OpenPackedApp(CabinetReader &outer, const std::string &infName)
{
    std::optional<size_t> infEntry = EntryNamed(outer, infName);
    if (!infEntry || outer.entries()[*infEntry].size > largestInf)
        return std::nullopt;
    Progress quiet;
    PendingFile infFile(TemporaryDirectory() + "/quarvel-app.inf");
    outer.Extract(*infEntry, infFile.handle(), quiet);
    std::vector<uint8_t> inf(outer.entries()[*infEntry].size);
    infFile.handle().ReadExactlyAt(0, inf.data(), inf.size());
    std::optional<AppListing> listing = ReadAppInf(inf);
    if (!listing)
        return std::nullopt;

    PackedApp app;
    app.listing = *listing;
    std::optional<size_t> cabinetEntry = EntryNamed(outer, listing->cabinetName);
    if (!cabinetEntry)
        throw Error("the application's cabinet " + Quoted(listing->cabinetName) + " is not in the package");
    app.scratch = std::make_unique<PendingFile>(TemporaryDirectory() + "/quarvel-app.cab");
    outer.Extract(*cabinetEntry, app.scratch->handle(), quiet);
    app.source = std::make_unique<FileSource>(app.scratch->temporaryPath());
    app.cabinet = std::make_unique<CabinetReader>(*app.source, 0, app.source->Size(), 0);
    for (const AppListing::Entry &file : app.listing.files) {
        std::optional<size_t> entry = EntryNamed(*app.cabinet, file.storedName);
        if (!entry)
            throw Error("the application's file " + Quoted(file.path) + " (stored as " +
                        Quoted(file.storedName) + ") is not in its cabinet");
        app.entryOf.push_back(*entry);
    }
    return app;
}

}  // namespace quarvel
