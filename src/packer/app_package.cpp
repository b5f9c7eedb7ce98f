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
    for (const std::string &name : listing->cabinetNames) {
        std::optional<size_t> cabinetEntry = EntryNamed(outer, name);
        if (!cabinetEntry)
            throw Error("the application's cabinet " + Quoted(name) + " is not in the package");
        PackedApp::Inner inner;
        inner.scratch = std::make_unique<PendingFile>(TemporaryDirectory() + "/quarvel-app.cab");
        outer.Extract(*cabinetEntry, inner.scratch->handle(), quiet);
        inner.source = std::make_unique<FileSource>(inner.scratch->temporaryPath());
        inner.reader = std::make_unique<CabinetReader>(*inner.source, 0, inner.source->Size(), 0);
        app.cabinets.push_back(std::move(inner));
    }
    for (size_t i = 0; i < app.listing.files.size(); i++) {
        const AppListing::Entry &file = app.listing.files[i];
        std::optional<size_t> entry = EntryNamed(app.ReaderOf(i), file.storedName);
        if (!entry)
            throw Error("the application's file " + Quoted(file.path) + " (stored as " +
                        Quoted(file.storedName) + ") is not in " +
                        Quoted(listing->cabinetNames[file.cabinet]));
        app.entryOf.push_back(*entry);
    }
    return app;
}

}  // namespace quarvel
