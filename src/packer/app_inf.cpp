// The INF of `pack --app`, written and read back. One copy section per folder of the tree; the
// same sections list the files to delete on uninstall. Every text is written literally, quoted,
// so that no [Strings] substitution can change it.
#include <algorithm>
#include <map>
#include <set>

#include "app.h"
#include "codepage.h"
#include "error.h"

namespace quarvel {
namespace {

const char uninstallKeyBase[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char programFilesDirid[] = "16422";   // CSIDL_PROGRAM_FILES
const char startMenuDirid[] = "16407";      // CSIDL_COMMON_PROGRAMS: where ProfileItems puts links
const char infDirid[] = "17";
// COPYFLG_NOVERSIONCHECK on every copied file: a newer version of the application replaces each
// file, whatever the dates and versions of the one it finds.
const char replaceExisting[] = "4";
const char marker[] = "; Written by quarvel pack --app";
// Section names on a CopyFiles= (or DelFiles=) line, so that no line grows past what INF
// parsers take.
constexpr size_t sectionsPerLine = 10;

std::string WindowsPath(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Text for an INF string: a '%' doubled so that it is not taken for a substitution, a '"'
// doubled so that it does not end the string.
std::string Escape(const std::string &text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '%' || c == '"')
            escaped += c;
        escaped += c;
    }
    return escaped;
}

// An INF parser keeps this many characters of a field and silently drops the rest.
constexpr size_t longestInfField = 511;

// An INF string in double quotes, which keep commas, semicolons and spaces.
std::string Quote(const std::string &text)
{
    if (text.size() > longestInfField)
        throw Error(Quoted(text) + " is longer than the " + std::to_string(longestInfField) +
                    " characters an INF field holds");
    return "\"" + Escape(text) + "\"";
}

// A path under a system folder, escaped, for a quoted INF string.
std::string DiridPath(const char *dirid, const std::string &path)
{
    return "%" + std::string(dirid) + "%\\" + Escape(WindowsPath(path));
}

std::string Folder(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string Leaf(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

// The destination of a folder of the tree, under Program Files.
std::string Destination(const App &app, const std::string &folder)
{
    return WindowsPath(folder.empty() ? app.installDir : app.installDir + "/" + folder);
}

struct Writer {
    std::string text;
    void Line(const std::string &line = "") { text += line + "\r\n"; }
    void Section(const std::string &name) { Line("[" + name + "]"); }
    // key=a,b,c for every sectionsPerLine names.
    void List(const std::string &key, const std::vector<std::string> &names)
    {
        for (size_t i = 0; i < names.size(); i += sectionsPerLine) {
            std::string line = key + "=";
            for (size_t k = i; k < std::min(names.size(), i + sectionsPerLine); k++)
                line += (k > i ? "," : "") + names[k];
            Line(line);
        }
    }
};

// Folders the install creates, relative to Program Files, deepest first: each folder of a file,
// and every folder above it up to the install folder's first component.
std::vector<std::string> CreatedFolders(const App &app)
{
    std::set<std::string> folders;
    for (const AppFile &file : app.files)
        for (std::string folder = app.installDir + "/" + Folder(file.path); !folder.empty();
             folder = Folder(folder))
            folders.insert(folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder);
    std::vector<std::string> ordered(folders.begin(), folders.end());
    std::stable_sort(ordered.begin(), ordered.end(), [](const std::string &a, const std::string &b) {
        return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
    });
    return ordered;
}

// ASCII when every character is, else UTF-16LE behind its byte-order mark: an ANSI INF is read
// in the system's code page, which need not hold the names.
std::vector<uint8_t> Encoded(const std::string &utf8)
{
    if (std::all_of(utf8.begin(), utf8.end(), [](unsigned char c) { return c < 0x80; }))
        return std::vector<uint8_t>(utf8.begin(), utf8.end());
    std::string bytes = "\xFF\xFE" + Utf16Le(utf8);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::string Decoded(const std::vector<uint8_t> &bytes)
{
    std::string text(bytes.begin(), bytes.end());
    if (text.compare(0, 2, "\xFF\xFE") == 0)
        return FromUtf16Le(std::string_view(text).substr(2));
    return Windows1252ToUtf8(text);
}

}  // namespace

std::vector<uint8_t> AppInf(const App &app)
{
    std::string stem = AppFileStem(app.name);
    std::string infName = stem + ".inf";
    std::string key = Quote(uninstallKeyBase + stem);
    std::string installLocation = DiridPath(programFilesDirid, app.installDir);

    // The tree's folders in the order of the files: one section each.
    std::vector<std::string> folders;
    std::map<std::string, std::vector<const AppFile *>> folderFiles;
    for (const AppFile &file : app.files) {
        std::string folder = Folder(file.path);
        if (folderFiles[folder].empty())
            folders.push_back(folder);
        folderFiles[folder].push_back(&file);
    }
    std::vector<std::string> copySections{"App.Inf"};
    for (size_t i = 0; i < folders.size(); i++)
        copySections.push_back("App.Files" + std::to_string(i + 1));
    // The tree's files, deleted before they are copied when an install runs over an earlier one:
    // setupapi commits deletes before copies, and an installer that writes a file out of a
    // cabinet over an existing one without truncating it (Wine's setupapi does) would otherwise
    // leave the tail of a longer older file behind the newer one.
    std::vector<std::string> fileSections(copySections.begin() + 1, copySections.end());
    std::vector<std::string> deleteSections = fileSections;
    if (!app.shortcuts.empty())
        deleteSections.push_back("App.Shortcuts");
    deleteSections.push_back("App.Inf");
    std::vector<std::string> shortcutSections;
    for (size_t i = 0; i < app.shortcuts.size(); i++)
        shortcutSections.push_back("App.Shortcut" + std::to_string(i + 1));
    uint64_t totalSize = 0;
    for (const AppFile &file : app.files)
        totalSize += file.size;

    Writer w;
    w.Line("; " + app.name + (app.version.empty() ? "" : " " + app.version) +
           ": installs the application's files under Program Files, its Start-menu shortcuts and");
    w.Line("; its Add/Remove Programs entry, and uninstalls them all.");
    w.Line(marker + std::string(", from the folder's tree: change the tree, not this file."));
    w.Line();
    w.Section("Version");
    w.Line("Signature=\"$CHICAGO$\"");
    w.Line("AdvancedINF=2.5");
    w.Line();

    w.Line("; setupapi: rundll32 setupapi,InstallHinfSection DefaultInstall 132 " + infName);
    w.Section("DefaultInstall");
    w.List("DelFiles", fileSections);
    w.List("CopyFiles", copySections);
    w.Line("AddReg=App.Entry,App.Entry.Setupapi");
    w.List("ProfileItems", shortcutSections);
    if (app.runAfter)
        w.Line("RegisterDlls=App.RunAfter.Setupapi");
    w.Line();
    w.Section("DefaultUninstall");
    w.List("DelFiles", deleteSections);
    w.Line("DelReg=App.Entry.Key");
    w.Line("UnregisterDlls=App.Folders.Setupapi");
    w.Line();

    w.Line("; advpack: rundll32 advpack,LaunchINFSection " + infName +
           ",DefaultInstall2 (.ntx86 on NT), then DefaultInstallX");
    for (const char *section : {"DefaultInstall2", "DefaultInstall2.ntx86"}) {
        w.Section(section);
        w.List("DelFiles", fileSections);
        w.List("CopyFiles", copySections);
        w.Line("AddReg=App.Entry,App.Entry.Advpack");
        if (!app.shortcuts.empty())
            w.Line("RunPostSetupCommands=App.Shortcuts.Advpack");
        w.Line();
    }
    w.Section("DefaultInstallX");
    if (app.runAfter)
        w.Line("RunPostSetupCommands=App.RunAfter.Advpack");
    else
        w.Line("; nothing: DefaultInstall2 did all");
    w.Line();
    w.Section("DefaultUninstall2");
    w.List("DelFiles", deleteSections);
    w.Line("DelReg=App.Entry.Key");
    w.Line("DelDirs=App.Folders");
    w.Line();

    w.Section("DestinationDirs");
    w.Line(std::string("App.Inf=") + infDirid);
    if (!app.shortcuts.empty())
        w.Line("App.Shortcuts=" + std::string(startMenuDirid) + "," + Quote(app.name));
    for (size_t i = 0; i < folders.size(); i++)
        w.Line(copySections[i + 1] + "=" + programFilesDirid + "," + Quote(Destination(app, folders[i])));
    w.Line();
    w.Line("; The tree's files are in the cabinets, the INF beside them.");
    w.Section("SourceDisksNames");
    for (unsigned cabinet = 1; cabinet <= app.cabinets; cabinet++)
        w.Line(std::to_string(cabinet) + "=" + Quote(app.name) + "," +
               Quote(AppCabinetName(stem, cabinet)) + ",,");
    std::string infDisk = std::to_string(app.cabinets + 1);
    w.Line(infDisk + "=" + Quote(app.name) + ",,,");
    w.Line();
    w.Section("SourceDisksFiles");
    w.Line(infName + "=" + infDisk);
    for (const AppFile &file : app.files)
        w.Line(file.storedName + "=" + std::to_string(file.cabinet));
    w.Line();
    w.Section("App.Inf");
    w.Line(infName + ",,," + replaceExisting);
    w.Line();
    for (size_t i = 0; i < folders.size(); i++) {
        w.Line("; " + Destination(app, folders[i]));
        w.Section(copySections[i + 1]);
        for (const AppFile *file : folderFiles[folders[i]])
            w.Line(Quote(Leaf(file->path)) + "," + file->storedName + ",," + replaceExisting);
        w.Line();
    }

    if (!app.shortcuts.empty()) {
        w.Section("App.Shortcuts");
        for (const AppShortcut &shortcut : app.shortcuts)
            w.Line(Quote(shortcut.label + ".lnk"));
        w.Line();
        for (size_t i = 0; i < app.shortcuts.size(); i++) {
            const AppShortcut &shortcut = app.shortcuts[i];
            w.Section(shortcutSections[i]);
            w.Line("Name=" + Quote(shortcut.label));
            w.Line("SubDir=" + Quote(app.name));
            w.Line("CmdLine=" + std::string(programFilesDirid) + "," +
                   Quote(Destination(app, Folder(shortcut.target))) + "," + Quote(Leaf(shortcut.target)));
            w.Line();
        }
        w.Line("; advpack makes no links itself: it has setupapi make them once the INF is in place.");
        w.Section("App.Shortcuts.Advpack");
        w.Line("\"rundll32.exe setupapi.dll,InstallHinfSection App.Shortcuts.Install 128 %" +
               std::string(infDirid) + "%\\" + infName + "\"");
        w.Line();
        w.Section("App.Shortcuts.Install");
        w.List("ProfileItems", shortcutSections);
        w.Line();
    }

    w.Section("App.Entry");
    auto value = [&](const char *name, const std::string &data) {
        w.Line("HKLM," + key + "," + Quote(name) + ",0," + Quote(data));
    };
    auto number = [&](const char *name, uint64_t data) {
        w.Line("HKLM," + key + "," + Quote(name) + ",0x10001," + std::to_string(data));
    };
    value("DisplayName", app.name);
    value("DisplayVersion", app.version);
    value("Publisher", app.publisher);
    w.Line("HKLM," + key + ",\"InstallLocation\",0,\"" + installLocation + "\"");
    number("EstimatedSize", (totalSize + 1023) / 1024);
    number("NoModify", 1);
    number("NoRepair", 1);
    w.Line();
    w.Section("App.Entry.Setupapi");
    w.Line("HKLM," + key + ",\"UninstallString\",0,\"rundll32.exe setupapi.dll,InstallHinfSection "
           "DefaultUninstall 132 %" + infDirid + "%\\" + infName + "\"");
    w.Line();
    w.Section("App.Entry.Advpack");
    w.Line("HKLM," + key + ",\"UninstallString\",0,\"rundll32.exe advpack.dll,LaunchINFSection %" +
           infDirid + "%\\" + infName + ",DefaultUninstall2\"");
    w.Line();
    w.Section("App.Entry.Key");
    w.Line("HKLM," + key);
    w.Line();

    // Folders go once empty, deepest first: advpack's DelDirs removes an empty folder; setupapi
    // has no such directive, so cmd's rd (which removes only empty folders) does it.
    std::vector<std::string> removed;
    for (const std::string &folder : CreatedFolders(app))
        removed.push_back(DiridPath(programFilesDirid, folder));
    if (!app.shortcuts.empty())
        removed.push_back(DiridPath(startMenuDirid, app.name));
    w.Section("App.Folders");
    for (const std::string &folder : removed)
        w.Line("\"" + folder + "\"");
    w.Line();
    w.Section("App.Folders.Setupapi");
    for (size_t i = 0; i < removed.size();) {
        std::string command = "/c rd \"\"" + removed[i++] + "\"\"";
        for (; i < removed.size() && command.size() + removed[i].size() + 12 < longestInfField; i++)
            command += " & rd \"\"" + removed[i] + "\"\"";
        w.Line("11,,cmd.exe,,60,\"" + command + "\"");
    }
    w.Line();
    if (app.runAfter) {
        std::string start = "start \"\"\"\" \"\"" + installLocation + "\\" +
                            Escape(WindowsPath(*app.runAfter)) + "\"\"";
        w.Line("; started through cmd, so that the installation need not wait for the program");
        w.Section("App.RunAfter.Setupapi");
        w.Line("11,,cmd.exe,,60,\"/c " + start + "\"");
        w.Line();
        w.Section("App.RunAfter.Advpack");
        w.Line("\"cmd.exe /c " + start + "\"");
        w.Line();
    }
    return Encoded(w.text);
}

namespace {

// An INF as sections of lines, each line its key (or empty) and its fields, unquoted and
// unescaped; substitutions are left in place.
struct InfLine {
    std::string key;
    std::vector<std::string> fields;
};
using InfSections = std::map<std::string, std::vector<InfLine>>;

InfLine ParseLine(const std::string &line)
{
    InfLine parsed;
    std::string field;
    bool quoted = false, sawEquals = false;
    auto endField = [&] {
        size_t start = field.find_first_not_of(" \t");
        size_t end = field.find_last_not_of(" \t");
        parsed.fields.push_back(start == std::string::npos ? "" : field.substr(start, end - start + 1));
        field.clear();
    };
    for (size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
                field += line[++i];
            else if (c == '"')
                quoted = false;
            else if (c == '%' && i + 1 < line.size() && line[i + 1] == '%')
                field += line[++i];
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ';') {
            break;
        } else if (c == '=' && !sawEquals && parsed.fields.empty()) {
            sawEquals = true;
            endField();
            parsed.key = parsed.fields.back();
            parsed.fields.clear();
        } else if (c == ',') {
            endField();
        } else {
            field += c;
        }
    }
    endField();
    return parsed;
}

InfSections ParseInf(const std::string &text)
{
    InfSections sections;
    std::vector<InfLine> *current = nullptr;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == ';')
            continue;
        if (line[first] == '[') {
            size_t close = line.find(']', first);
            current = &sections[line.substr(first + 1, close - first - 1)];
            continue;
        }
        if (current)
            current->push_back(ParseLine(line));
    }
    return sections;
}

std::string Field(const InfLine &line, size_t index)
{
    return index < line.fields.size() ? line.fields[index] : "";
}

std::string SlashPath(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// A destination under Program Files relative to the install folder, '/'-separated.
std::string UnderInstallDir(const std::string &destination, const std::string &installDir)
{
    std::string path = SlashPath(destination);
    if (path == installDir)
        return "";
    if (path.compare(0, installDir.size() + 1, installDir + "/") == 0)
        return path.substr(installDir.size() + 1);
    throw Error("the INF puts files at " + Quoted(destination) + ", outside the install folder");
}

}  // namespace

std::optional<AppListing> ReadAppInf(const std::vector<uint8_t> &inf)
{
    std::string text = Decoded(inf);
    if (text.find(marker) == std::string::npos)
        return std::nullopt;
    InfSections sections = ParseInf(text);
    AppListing listing;
    std::string programFiles = "%" + std::string(programFilesDirid) + "%\\";
    for (const InfLine &line : sections["App.Entry"]) {
        std::string name = Field(line, 2), data = Field(line, 4);
        if (name == "DisplayName")
            listing.name = data;
        else if (name == "DisplayVersion")
            listing.version = data;
        else if (name == "Publisher")
            listing.publisher = data;
        else if (name == "InstallLocation" && data.compare(0, programFiles.size(), programFiles) == 0)
            listing.installDir = SlashPath(data.substr(programFiles.size()));
    }
    std::map<std::string, unsigned> cabinetOfDisk;
    for (const InfLine &line : sections["SourceDisksNames"]) {
        if (Field(line, 1).empty())
            continue;
        cabinetOfDisk[line.key] = (unsigned)listing.cabinetNames.size();
        listing.cabinetNames.push_back(Field(line, 1));
    }
    std::map<std::string, unsigned> cabinetOfFile;
    for (const InfLine &line : sections["SourceDisksFiles"])
        if (cabinetOfDisk.count(Field(line, 0)))
            cabinetOfFile[line.key] = cabinetOfDisk[Field(line, 0)];
    if (listing.installDir.empty() || listing.cabinetNames.empty())
        throw Error("the application's INF has no install folder or no cabinet");
    for (const InfLine &destination : sections["DestinationDirs"]) {
        if (destination.key.compare(0, 9, "App.Files") != 0)
            continue;
        std::string folder = UnderInstallDir(Field(destination, 1), listing.installDir);
        for (const InfLine &line : sections[destination.key]) {
            if (!cabinetOfFile.count(Field(line, 1)))
                throw Error("the application's file " + Quoted(Field(line, 0)) + " has no cabinet");
            listing.files.push_back({Field(line, 1),
                                     folder.empty() ? Field(line, 0) : folder + "/" + Field(line, 0),
                                     cabinetOfFile[Field(line, 1)]});
        }
    }
    for (size_t i = 1; sections.count("App.Shortcut" + std::to_string(i)); i++) {
        AppShortcut shortcut;
        for (const InfLine &line : sections["App.Shortcut" + std::to_string(i)]) {
            if (line.key == "Name")
                shortcut.label = Field(line, 0);
            if (line.key == "CmdLine") {
                std::string folder = UnderInstallDir(Field(line, 1), listing.installDir);
                shortcut.target = folder.empty() ? Field(line, 2) : folder + "/" + Field(line, 2);
            }
        }
        listing.shortcuts.push_back(shortcut);
    }
    return listing;
}

}  // namespace quarvel
