// An application packed with `pack --app`: a tree of files that the generated INF installs
// under Program Files, with Start-menu shortcuts and an Add/Remove Programs entry. The outer
// cabinet holds only that INF and inner cabinets of the tree's files under short stored names;
// the INF's copy sections restore the real names.
#pragma once

#include <stdint.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quarvel {

struct AppFile {
    std::string path;        // relative, '/'-separated, UTF-8
    std::string sourcePath;  // where pack reads it
    uint64_t size = 0;
    int64_t modified = 0;
    std::string storedName;  // in its inner cabinet
    unsigned cabinet = 1;    // which inner cabinet, from 1: the INF's disk number
};

struct AppShortcut {
    std::string label;   // the .lnk's name, without extension
    std::string target;  // a file of the tree, '/'-separated
};

struct App {
    std::string name;
    std::string version;
    std::string publisher;
    std::string installDir;  // under Program Files, '/'-separated
    std::vector<AppShortcut> shortcuts;
    std::optional<std::string> runAfter;  // a file of the tree, '/'-separated
    std::vector<AppFile> files;           // folders in byte order, each folder's files after it
    unsigned cabinets = 1;                // inner cabinets, the files in runs of their order
};

// What the user asked for on the command line, before the tree is read.
struct AppRequest {
    std::string directory;
    std::string name;
    std::optional<std::string> version;
    std::optional<std::string> publisher;
    std::optional<std::string> installDir;    // '\' or '/' separated
    std::vector<std::string> shortcuts;       // "Label=relative\path"
    std::optional<std::string> runAfter;
};

// Reads the tree under request.directory and checks everything the INF must carry. Every file
// the INF cannot install as it stands is an Error that names it and says why.
App ReadApp(const AppRequest &request, std::optional<int64_t> sourceDateEpoch);

// The stem of the names of the INF and of the inner cabinets (STEM.inf, STEM-1.cab, ...), made
// from the application's name: ASCII letters, digits, '.', '-' and '_', the rest '-'.
std::string AppFileStem(const std::string &name);
std::string AppCabinetName(const std::string &stem, unsigned cabinet);

// The INF, as the installer reads it: ASCII when every text is ASCII, else UTF-16LE with a
// byte-order mark (read by setupapi and advpack on Windows NT, not by the setupx of Windows 9x).
std::vector<uint8_t> AppInf(const App &app);

// What inspect and extract learn from an INF that `pack --app` wrote.
struct AppListing {
    std::string name, version, publisher, installDir;
    std::vector<std::string> cabinetNames;  // [0] is disk 1
    std::vector<AppShortcut> shortcuts;
    struct Entry {
        std::string storedName;
        std::string path;  // '/'-separated, UTF-8
        unsigned cabinet;  // index into cabinetNames
    };
    std::vector<Entry> files;
};

// The listing of an INF written by `pack --app` (ASCII or UTF-16LE); nullopt for any other INF.
std::optional<AppListing> ReadAppInf(const std::vector<uint8_t> &inf);

class CabinetReader;
class FileSource;
class PendingFile;
struct CabinetEntry;

// An application inside an installer's cabinet: its INF's listing and its inner cabinets,
// copied out into scratch files under the temporary directory that go with the object.
struct PackedApp {
    struct Inner {
        std::unique_ptr<PendingFile> scratch;
        std::unique_ptr<FileSource> source;
        std::unique_ptr<CabinetReader> reader;
    };
    AppListing listing;
    std::vector<Inner> cabinets;  // as listing.cabinetNames
    // Each listed file's entry in its inner cabinet, in the listing's order.
    std::vector<size_t> entryOf;
    CabinetReader &ReaderOf(size_t file) { return *cabinets[listing.files[file].cabinet].reader; }
    PackedApp();
    ~PackedApp();
    PackedApp(PackedApp &&);
};

// Opens the application when the cabinet's INF (named infName) was written by `pack --app`;
// nullopt for a package of plain files. An application whose INF and inner cabinet disagree
// is an Error.
std::optional<PackedApp> OpenPackedApp(CabinetReader &outer, const std::string &infName);

}  // namespace quarvel
