// The three commands of the tool, as the command line describes them.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "app.h"
#include "cabinet.h"
#include "package.h"

namespace quarvel {

// Signing by osslsigncode, which must be installed.
struct SigningOptions {
    std::string certificate;  // PEM or DER, as osslsigncode reads them
    std::string key;
    std::optional<std::string> timestampServer;  // RFC 3161
};

struct PackOptions {
    std::string output;
    std::vector<std::string> inputs;  // files, or directories of files
    std::optional<AppRequest> app;    // instead of inputs: a tree and the INF made for it
    std::optional<std::string> cabinet;
    std::vector<uint8_t> stubImage;   // used when no stub path is given
    std::optional<std::string> stubPath;
    std::optional<std::string> cabinetLibraryPath;
    std::optional<std::string> title;  // UTF-8
    std::optional<std::string> infName;
    std::optional<std::string> messagePath;
    std::optional<std::string> licencePath;
    std::optional<std::string> infoPath;
    PackageFlags flags;  // multiVolume is the tool's to decide
    uint64_t volumeSize = 0;
    std::optional<Compression> compression;
    std::optional<SigningOptions> signing;  // the installer file only, never a continuation
    bool quiet = false;
};

struct WrittenFile {
    std::string path;
    uint64_t size;
};

// Writes the installer and its continuation volumes, all or none of them.
std::vector<WrittenFile> Pack(const PackOptions &options);

struct InspectOptions {
    std::string path;
    bool json = false;
};

// Prints the report on stdout; true when every check passed.
bool Inspect(const InspectOptions &options);

struct ExtractOptions {
    std::string path;
    std::string directory = ".";
    bool quiet = false;
};

// Extracts every file, or leaves nothing behind; returns the paths written.
std::vector<std::string> Extract(const ExtractOptions &options);

}  // namespace quarvel
