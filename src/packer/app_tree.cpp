// Reading an application's tree for `pack --app`, and every check of what the INF must carry.
#include <algorithm>
#include <cctype>
#include <map>

#include "app.h"
#include "cabinet.h"
#include "codepage.h"
#include "error.h"
#include "layout.h"

namespace quarvel {
namespace {

// Destinations are checked against the longest usual Program Files path: Windows opens no
// longer path than MAX_PATH - 1 characters.
const char longestProgramFiles[] = "C:\\Program Files (x86)";
constexpr size_t longestWindowsPath = 259;

// setupapi extracts each file from a source cabinet by reading the cabinet anew up to that file
// (Wine's does): cabinets of about a mebibyte bound that work per file. The installer deletes
// at most maxRecordedFiles files it extracted: the INF and at most one less cabinets.
constexpr uint64_t smallestCabinetRun = 1 << 20;
constexpr uint64_t mostCabinets = maxRecordedFiles - 1;

size_t Utf16Length(const std::string &text)
{
    size_t length = 0;
    for (char32_t point : CodePoints(text))
        length += point > 0xFFFF ? 2 : 1;
    return length;
}

// A name as Windows compares names: upper and lower case of the Latin, Greek and Cyrillic
// letters taken for one. (Windows folds more scripts; these are the ones trees hold.)
std::u32string FoldedCodePoints(const std::string &name)
{
    std::u32string points = CodePoints(name);
    for (char32_t &p : points) {
        if ((p >= 'A' && p <= 'Z') || (p >= 0xC0 && p <= 0xDE && p != 0xD7) ||
            (p >= 0x391 && p <= 0x3A9) || (p >= 0x410 && p <= 0x42F))
            p += 0x20;
        else if (p >= 0x400 && p <= 0x40F)
            p += 0x50;
        else if (p >= 0x100 && p <= 0x17F && p != 0x130 && p != 0x131 && p != 0x138)
            p |= ((p >= 0x139 && p <= 0x148) || p >= 0x179) ? 0 : 1;
    }
    return points;
}

// Checks one component of a path in the tree or on the command line.
void CheckName(const std::string &name, const std::string &where)
{
    if (ValidUtf8(name) != name)
        throw Error(where + ": the name is not UTF-8");
    std::string fault = WindowsNameFault(name);
    if (!fault.empty())
        throw Error(where + ": the name " + Quoted(name) + " " + fault);
}

// A relative path given on the command line, '\' or '/' separated, as '/'-separated components.
std::string RelativePath(const std::string &text, const char *option)
{
    std::string path = text;
    std::replace(path.begin(), path.end(), '\\', '/');
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    if (path.empty() || path[0] == '/' || path.find(':') != std::string::npos)
        throw UsageError(std::string(option) + " " + Quoted(text) + " is not a relative path");
    for (size_t start = 0; start <= path.size();) {
        size_t end = std::min(path.find('/', start), path.size());
        CheckName(path.substr(start, end - start), std::string(option) + " " + Quoted(text));
        start = end + 1;
    }
    return path;
}

void CheckLine(const std::string &text, const char *option)
{
    if (ValidUtf8(text) != text)
        throw UsageError(std::string(option) + " is not UTF-8");
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            throw UsageError(std::string(option) + ": a control character; an INF line cannot carry it");
}

struct Walker {
    std::optional<int64_t> sourceDateEpoch;
    std::vector<AppFile> files;
    uint64_t total = 0;

    void Walk(const std::string &directory, const std::string &relative)
    {
        std::vector<std::string> names = ListDirectory(directory);
        if (names.empty())
            throw Error(directory + ": an empty folder; an INF creates a folder only for the files "
                                    "it copies into it (put a file in it, or remove it)");
        std::map<std::u32string, std::string> seen;
        std::vector<std::string> subfolders;
        for (const std::string &name : names) {
            std::string path = directory + "/" + name;
            std::string relativePath = relative.empty() ? name : relative + "/" + name;
            CheckName(name, path);
            auto [other, added] = seen.emplace(FoldedCodePoints(name), name);
            if (!added)
                throw Error(path + ": Windows takes " + Quoted(other->second) + " and " +
                            Quoted(name) + " for one name; rename one of them");
            FileStatus status = StatPath(path);
            if (status.directory) {
                subfolders.push_back(name);
            } else if (status.regular) {
                if (status.size > 0x7FFF8000 - total)
                    throw Error(path + ": the files add up to more than a cabinet folder holds");
                total += status.size;
                files.push_back({relativePath, path, status.size,
                                 sourceDateEpoch.value_or(status.modified), ""});
            } else {
                throw Error(path + ": not a regular file or a folder");
            }
        }
        for (const std::string &name : subfolders)
            Walk(directory + "/" + name, relative.empty() ? name : relative + "/" + name);
    }
};

bool HasFile(const App &app, const std::string &path)
{
    return std::any_of(app.files.begin(), app.files.end(),
                       [&](const AppFile &file) { return file.path == path; });
}

}  // namespace

std::string AppCabinetName(const std::string &stem, unsigned cabinet)
{
    return stem + "-" + std::to_string(cabinet) + ".cab";
}

std::string AppFileStem(const std::string &name)
{
    std::string stem;
    for (unsigned char c : name)
        stem += (c < 0x80 && std::isalnum(c)) || c == '.' || c == '-' || c == '_' ? (char)c : '-';
    while (!stem.empty() && stem.back() == '.')
        stem.pop_back();
    if (stem.empty() || !WindowsNameFault(stem).empty())
        stem = "app-" + stem;
    return stem;
}

App ReadApp(const AppRequest &request, std::optional<int64_t> sourceDateEpoch)
{
    App app;
    CheckLine(request.name, "--name");
    if (request.name.empty())
        throw UsageError("--app needs --name NAME, the application's name");
    if (!WindowsNameFault(request.name).empty())
        throw UsageError("--name " + Quoted(request.name) + " " + WindowsNameFault(request.name) +
                         "; it names the Start-menu folder");
    app.name = request.name;
    app.version = request.version.value_or("");
    app.publisher = request.publisher.value_or("");
    CheckLine(app.version, "--version");
    CheckLine(app.publisher, "--publisher");
    app.installDir = request.installDir ? RelativePath(*request.installDir, "--install-dir") : app.name;

    FileStatus status = StatPath(request.directory);
    if (!status.directory)
        throw Error(request.directory + ": not a folder; --app installs the tree under a folder");
    Walker walker{sourceDateEpoch, {}, 0};
    std::string top = request.directory;
    while (top.size() > 1 && top.back() == '/')
        top.pop_back();
    walker.Walk(top, "");
    app.files = std::move(walker.files);
    // A folder's files together, folders in byte order: one copy section each.
    std::stable_sort(app.files.begin(), app.files.end(), [](const AppFile &a, const AppFile &b) {
        return a.path.substr(0, a.path.rfind('/') + 1) < b.path.substr(0, b.path.rfind('/') + 1);
    });
    for (size_t i = 0; i < app.files.size(); i++)
        app.files[i].storedName = "f" + std::to_string(i + 1);
    // Runs in order, each closed before it outgrows the run size: at most twice as many runs
    // as the total needs, so no more than mostCabinets.
    uint64_t runSize = std::max(smallestCabinetRun, 2 * walker.total / mostCabinets + 1);
    uint64_t inRun = 0;
    for (AppFile &file : app.files) {
        if (inRun > 0 && inRun + file.size > runSize) {
            app.cabinets++;
            inRun = 0;
        }
        file.cabinet = app.cabinets;
        inRun += file.size;
    }
    for (const AppFile &file : app.files) {
        std::string destination = std::string(longestProgramFiles) + "\\" + app.installDir + "\\" + file.path;
        if (Utf16Length(destination) > longestWindowsPath)
            throw Error(file.sourcePath + ": installed as " + destination + ", " +
                        std::to_string(Utf16Length(destination)) +
                        " characters; Windows paths hold " + std::to_string(longestWindowsPath) +
                        " (choose a shorter --install-dir)");
    }

    for (const std::string &text : request.shortcuts) {
        size_t equals = text.find('=');
        if (equals == std::string::npos || equals == 0)
            throw UsageError("--shortcut " + Quoted(text) + " is not LABEL=relative\\path\\program.exe");
        AppShortcut shortcut{text.substr(0, equals), RelativePath(text.substr(equals + 1), "--shortcut")};
        CheckName(shortcut.label, "--shortcut " + Quoted(text));
        if (!HasFile(app, shortcut.target))
            throw UsageError("--shortcut " + Quoted(text) + ": " + shortcut.target +
                             " is not a file of the tree");
        for (const AppShortcut &other : app.shortcuts)
            if (FoldedCodePoints(other.label) == FoldedCodePoints(shortcut.label))
                throw UsageError("two shortcuts are labelled " + Quoted(shortcut.label));
        app.shortcuts.push_back(shortcut);
    }
    if (request.runAfter) {
        app.runAfter = RelativePath(*request.runAfter, "--run-after");
        if (!HasFile(app, *app.runAfter))
            throw UsageError("--run-after " + Quoted(*request.runAfter) + " is not a file of the tree");
    }
    return app;
}

}  // namespace quarvel
