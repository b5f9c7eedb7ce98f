// quarvel inspect: what an installer holds and whether an installer would accept it. One report
// is gathered, then printed as text or as JSON.
#include <stdio.h>

#include <algorithm>

#include "authenticode.h"
#include "app.h"
#include "codepage.h"
#include "commands.h"
#include "error.h"
#include "json.h"
#include "scramble.h"

namespace quarvel {
namespace {

struct Check {
    const char *name;
    bool passed;
    std::string detail;
};

struct Report {
    std::string path;
    std::vector<VolumeSet::Volume> volumes;
    CertificateTable signature{0, 0};
    std::optional<std::string> signer;
    uint64_t joinedSize = 0;
    PackageContents contents;
    uint8_t key = 0;
    uint64_t cabinetLength = 0;
    bool cabinetRead = false;
    std::vector<CabinetEntry> entries;
    // Made by pack --app: the application, and the size of each of its files.
    std::optional<AppListing> app;
    std::vector<uint32_t> appSizes;
    std::vector<Check> checks;
};

const char cabinetSignature[4] = {'M', 'S', 'C', 'F'};

std::string Hex(unsigned value)
{
    char text[8];
    snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string DateText(DosTimestamp timestamp)
{
    char text[16];
    snprintf(text, sizeof text, "%04u-%02u-%02u", DosYear(timestamp.date), DosMonth(timestamp.date),
             DosDay(timestamp.date));
    return text;
}

std::string TimeText(DosTimestamp timestamp)
{
    char text[16];
    snprintf(text, sizeof text, "%02u:%02u:%02u", DosHour(timestamp.time), DosMinute(timestamp.time),
             DosSecond(timestamp.time));
    return text;
}

// The attribute letters: Read-only, Hidden, System, Archive, eXecute, Utf-8 name.
std::string AttributeText(uint16_t attributes)
{
    static const struct {
        uint16_t bit;
        char letter;
    } letters[] = {{cabinetAttributeReadOnly, 'R'}, {cabinetAttributeHidden, 'H'},
                   {cabinetAttributeSystem, 'S'},   {cabinetAttributeArchive, 'A'},
                   {cabinetAttributeExecute, 'X'},  {cabinetAttributeUtf8Name, 'U'}};
    std::string text;
    for (const auto &entry : letters)
        text += attributes & entry.bit ? entry.letter : '-';
    return text;
}

// The key with which the stored signature reads "MSCF", if there is one.
std::optional<uint8_t> StoredKey(const uint8_t stored[4])
{
    uint8_t key = stored[0] ^ (uint8_t)cabinetSignature[0];
    for (int i = 1; i < 4; i++)
        if ((uint8_t)(stored[i] ^ key) != (uint8_t)cabinetSignature[i])
            return std::nullopt;
    return key;
}

void CheckKey(Report &report, const ByteSource &source)
{
    const PackageHeader &header = report.contents.header;
    uint8_t stored[4] = {};
    source.ReadAt(report.contents.cabinetOffset, stored, sizeof stored);
    std::optional<uint8_t> actual = StoredKey(stored);
    std::string expected = header.cabinetScrambled
        ? "scrambled with the key " + Hex(report.key) + " that totalSize gives"
        : "stored plain";
    if (!actual) {
        report.checks.push_back({"key", false, "no cabinet signature under any key at cabinetOffset"});
    } else if (*actual == report.key) {
        report.checks.push_back({"key", true, "the cabinet is " + expected});
    } else {
        report.checks.push_back({"key", false, "the header says " + expected +
                                                   ", but the cabinet is stored with the key " +
                                                   Hex(*actual)});
    }
}

// A signature is no fault; it is listed among the checks so that nobody takes its bytes for
// a damaged package. The installer does not verify it: Windows does before it runs.
void NoteSignature(Report &report)
{
    const CertificateTable &table = report.signature;
    if (table.size == 0)
        return;
    uint64_t packageEnd = report.volumes.front().size;
    report.signer = SignerSubject(report.path, table);
    report.checks.push_back({"signed", true,
                             (report.signer ? "by " + ValidUtf8(*report.signer) + ": " : std::string()) +
                                 "a certificate table of " + std::to_string(table.size) +
                                 " bytes at offset " + std::to_string(table.offset) +
                                 (table.offset == packageEnd
                                      ? std::string(report.contents.header.multiVolume
                                                        ? ", directly behind the file's share"
                                                        : ", directly behind the package")
                                      : ", behind " + std::to_string(table.offset - packageEnd) +
                                            " zero bytes of padding") +
                                 "; not verified here"});
}

void CheckSize(Report &report)
{
    NoteSignature(report);
    const PackageHeader &header = report.contents.header;
    if (!header.multiVolume) {
        report.checks.push_back({"size", report.joinedSize == header.totalSize,
                                 (report.signature.size ? "in front of its signature the file is "
                                                        : "the file is ") +
                                     std::to_string(report.joinedSize) +
                                     " bytes, totalSize " + std::to_string(header.totalSize)});
        return;
    }
    bool complete = report.joinedSize >= header.totalSize;
    report.checks.push_back({"size", complete,
                             std::to_string(report.volumes.size()) + " volumes join to " +
                                 std::to_string(report.joinedSize) + " bytes, totalSize " +
                                 std::to_string(header.totalSize)});
    uint64_t firstSize = report.volumes.front().size;
    report.checks.push_back({"volumes", firstSize >= report.contents.cabinetOffset,
                             "the installer file holds " + std::to_string(firstSize) +
                                 " bytes, the texts end at " +
                                 std::to_string(report.contents.cabinetOffset)});
}

void CheckApp(Report &report, CabinetReader &reader)
{
    try {
        std::optional<PackedApp> app = OpenPackedApp(reader, Windows1252ToUtf8(report.contents.texts.infName));
        if (!app)
            return;
        for (size_t i = 0; i < app->entryOf.size(); i++)
            report.appSizes.push_back(app->ReaderOf(i).entries()[app->entryOf[i]].size);
        report.app = app->listing;
        report.checks.push_back({"app", true, std::to_string(app->listing.files.size()) +
                                                  " files of the INF, each in its cabinet"});
    } catch (const Error &failure) {
        report.checks.push_back({"app", false, failure.what()});
    }
}

void CheckCabinet(Report &report, const ByteSource &source)
{
    const PackageContents &contents = report.contents;
    report.cabinetLength = source.Size() - std::min<uint64_t>(source.Size(), contents.cabinetOffset);
    try {
        CabinetReader reader(source, contents.cabinetOffset, report.cabinetLength, report.key);
        report.cabinetRead = true;
        report.entries = reader.entries();
        std::string problem;
        if (reader.partOfSet())
            problem = "; but it is part of a cabinet set";
        else if (reader.declaredLength() != report.cabinetLength)
            problem = "; but its header says " + std::to_string(reader.declaredLength()) + " bytes";
        report.checks.push_back({"cabinet", problem.empty(),
                                 "a cabinet of " + std::to_string(report.cabinetLength) +
                                     " bytes at cabinetOffset " +
                                     std::to_string(contents.cabinetOffset) + problem});
        CheckApp(report, reader);
    } catch (const Error &failure) {
        report.checks.push_back({"cabinet", false, std::string("at cabinetOffset ") +
                                                       std::to_string(contents.cabinetOffset) +
                                                       ": " + failure.what()});
        return;
    }

    std::vector<std::string> names, folded;
    for (const CabinetEntry &entry : report.entries) {
        names.push_back(DisplayName(entry));
        folded.push_back(FoldedName(names.back()));
    }
    std::string fault = PayloadFault(names);
    report.checks.push_back({"files", fault.empty(),
                             fault.empty() ? std::to_string(names.size()) +
                                                 " files, each extractable into one directory"
                                           : fault});
    std::string inf = FoldedName(Windows1252ToUtf8(contents.texts.infName));
    bool found = std::find(folded.begin(), folded.end(), inf) != folded.end();
    report.checks.push_back({"inf", found, Quoted(Windows1252ToUtf8(contents.texts.infName)) +
                                               (found ? " is in the cabinet" : " is not in the cabinet")});
}

Report Gather(const std::string &path)
{
    Report report;
    report.path = path;
    VolumeSet source(path);
    report.volumes = source.Volumes();
    report.signature = source.signature();
    report.joinedSize = source.Size();
    report.contents = ReadPackage(source);
    const PackageContents &contents = report.contents;
    if (!contents.hasMagic) {
        report.checks.push_back({"magic", false, "no \"" + std::string(packageMagic) + "\" at offset " +
                                                     std::to_string(headerOffset) +
                                                     ": not a Quarvel installer"});
        return report;
    }
    report.checks.push_back({"magic", true, "\"" + std::string(packageMagic) + "\" at offset " +
                                                std::to_string(headerOffset)});
    report.key = contents.header.cabinetScrambled ? CabinetKey(contents.header.totalSize) : 0;
    if (source.missingVolume())
        report.checks.push_back({"volumes", false, *source.missingVolume() + " is missing"});
    bool consistent = PackageHeaderConsistent(&contents.header);
    report.checks.push_back({"header", consistent && contents.textsRead,
                             consistent ? (contents.textsRead ? "lengths and totalSize agree"
                                                              : "the file ends inside its texts")
                                        : "a length of 2^31 or more, or texts past totalSize"});
    if (!contents.textsRead)
        return report;
    CheckSize(report);
    CheckKey(report, source);
    CheckCabinet(report, source);
    return report;
}

bool Passed(const Report &report)
{
    return std::all_of(report.checks.begin(), report.checks.end(),
                       [](const Check &check) { return check.passed; });
}

std::string Display(const std::string &text1252)
{
    return ValidUtf8(Windows1252ToUtf8(WithLf(text1252)));
}

struct HeaderRow {
    const char *name;
    uint32_t value;
};

std::vector<HeaderRow> HeaderRows(const PackageHeader &header)
{
    return {
        {"showCompletion", header.showCompletion},   {"titleLength", header.titleLength},
        {"infNameLength", header.infNameLength},     {"requireAdmin", header.requireAdmin},
        {"infoTextLength", header.infoTextLength},   {"messageLength", header.messageLength},
        {"licenceLength", header.licenceLength},     {"removeInstallButton", header.removeInstallButton},
        {"multiVolume", header.multiVolume},         {"useAdvpack", header.useAdvpack},
        {"cabinetScrambled", header.cabinetScrambled}, {"totalSize", header.totalSize},
    };
}

void PrintText(const Report &report)
{
    printf("%s\n", report.path.c_str());
    for (const VolumeSet::Volume &volume : report.volumes)
        printf("  volume  %-40s %10llu bytes\n", volume.path.c_str(), (unsigned long long)volume.size);
    const PackageContents &contents = report.contents;
    if (contents.hasMagic) {
        printf("\nheader\n  %-20s %s\n", "magic", packageMagic);
        for (const HeaderRow &row : HeaderRows(contents.header))
            printf("  %-20s %u\n", row.name, row.value);
        printf("  %-20s %u\n", "cabinetOffset", contents.cabinetOffset);
        printf("  %-20s %s\n", "cabinet library",
               contents.cabinetLibrarySize == 0
                   ? "none (slot zero-filled)"
                   : (std::to_string(contents.cabinetLibrarySize) + " bytes").c_str());
    }
    if (contents.textsRead) {
        const PackageTexts &texts = contents.texts;
        printf("\ntitle     %s\n", Display(texts.title).c_str());
        printf("INF name  %s\n", Display(texts.infName).c_str());
        const struct {
            const char *name;
            const std::string &text;
        } blocks[] = {{"info text", texts.infoText}, {"message", texts.message}, {"licence", texts.licence}};
        for (const auto &block : blocks) {
            printf("\n%s (%zu bytes)\n", block.name, block.text.size());
            std::string text = Display(block.text);
            for (size_t start = 0; !text.empty() && start < text.size();) {
                size_t end = std::min(text.find('\n', start), text.size());
                printf("  | %s\n", text.substr(start, end - start).c_str());
                start = end + 1;
            }
        }
    }
    if (report.cabinetRead) {
        printf("\ncabinet (%llu bytes, %zu files)\n", (unsigned long long)report.cabinetLength,
               report.entries.size());
        printf("  %-24s %10s  %-10s %-8s %-6s %s\n", "name", "size", "date", "time", "attr",
               "compression");
        for (const CabinetEntry &entry : report.entries)
            printf("  %-24s %10u  %s %s %s %s\n", ValidUtf8(DisplayName(entry)).c_str(), entry.size,
                   DateText(entry.timestamp).c_str(), TimeText(entry.timestamp).c_str(),
                   AttributeText(entry.attributes).c_str(), entry.compression.c_str());
    }
    if (report.app) {
        const AppListing &app = *report.app;
        printf("\napplication  %s\n", app.name.c_str());
        printf("  %-12s %s\n", "version", app.version.c_str());
        printf("  %-12s %s\n", "publisher", app.publisher.c_str());
        printf("  %-12s Program Files\\%s\n", "install in", app.installDir.c_str());
        for (const AppShortcut &shortcut : app.shortcuts)
            printf("  %-12s %s -> %s\n", "shortcut", shortcut.label.c_str(), shortcut.target.c_str());
        printf("\ntree (%zu files)\n", app.files.size());
        for (size_t i = 0; i < app.files.size(); i++)
            printf("  %10u  %s\n", report.appSizes[i], ValidUtf8(app.files[i].path).c_str());
    }
    printf("\nchecks\n");
    for (const Check &check : report.checks)
        printf("  %-4s %-8s %s\n", check.passed ? "ok" : "FAIL", check.name, check.detail.c_str());
}

void PrintJson(const Report &report)
{
    JsonWriter json;
    json.BeginObject();
    json.StringMember("path", report.path);
    json.Key("volumes");
    json.BeginArray();
    for (const VolumeSet::Volume &volume : report.volumes) {
        json.BeginObject();
        json.StringMember("path", volume.path);
        json.NumberMember("size", volume.size);
        json.EndObject();
    }
    json.EndArray();
    const PackageContents &contents = report.contents;
    if (contents.hasMagic) {
        json.Key("header");
        json.BeginObject();
        json.StringMember("magic", packageMagic);
        for (const HeaderRow &row : HeaderRows(contents.header))
            json.NumberMember(row.name, row.value);
        json.EndObject();
        json.NumberMember("cabinetOffset", contents.cabinetOffset);
        json.NumberMember("cabinetLibrarySize", contents.cabinetLibrarySize);
    }
    if (contents.textsRead) {
        const PackageTexts &texts = contents.texts;
        const struct {
            const char *name;
            const std::string &text;
        } blocks[] = {{"title", texts.title},       {"infName", texts.infName},
                      {"infoText", texts.infoText}, {"message", texts.message},
                      {"licence", texts.licence}};
        for (const auto &block : blocks)
            json.StringMember(block.name, Display(block.text));
    }
    if (report.cabinetRead) {
        json.Key("cabinet");
        json.BeginObject();
        json.NumberMember("size", report.cabinetLength);
        json.NumberMember("key", report.key);
        json.Key("files");
        json.BeginArray();
        for (const CabinetEntry &entry : report.entries) {
            json.BeginObject();
            json.StringMember("name", DisplayName(entry));
            json.NumberMember("size", entry.size);
            json.StringMember("date", DateText(entry.timestamp));
            json.StringMember("time", TimeText(entry.timestamp));
            json.NumberMember("dosDate", entry.timestamp.date);
            json.NumberMember("dosTime", entry.timestamp.time);
            json.NumberMember("attributes", entry.attributes);
            json.StringMember("compression", entry.compression);
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    if (report.signature.size > 0) {
        json.Key("signature");
        json.BeginObject();
        json.NumberMember("offset", report.signature.offset);
        json.NumberMember("size", report.signature.size);
        if (report.signer)
            json.StringMember("signer", ValidUtf8(*report.signer));
        json.EndObject();
    }
    if (report.app) {
        const AppListing &app = *report.app;
        json.Key("app");
        json.BeginObject();
        json.StringMember("name", app.name);
        json.StringMember("version", app.version);
        json.StringMember("publisher", app.publisher);
        json.StringMember("installDir", app.installDir);
        json.Key("shortcuts");
        json.BeginArray();
        for (const AppShortcut &shortcut : app.shortcuts) {
            json.BeginObject();
            json.StringMember("label", shortcut.label);
            json.StringMember("target", shortcut.target);
            json.EndObject();
        }
        json.EndArray();
        json.Key("files");
        json.BeginArray();
        for (size_t i = 0; i < app.files.size(); i++) {
            json.BeginObject();
            json.StringMember("path", app.files[i].path);
            json.StringMember("storedName", app.files[i].storedName);
            json.NumberMember("size", report.appSizes[i]);
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.Key("checks");
    json.BeginArray();
    for (const Check &check : report.checks) {
        json.BeginObject();
        json.StringMember("name", check.name);
        json.BoolMember("passed", check.passed);
        json.StringMember("detail", check.detail);
        json.EndObject();
    }
    json.EndArray();
    json.BoolMember("passed", Passed(report));
    json.EndObject();
    fputs(json.Text().c_str(), stdout);
}

}  // namespace

bool Inspect(const InspectOptions &options)
{
    Report report = Gather(options.path);
    if (options.json)
        PrintJson(report);
    else
        PrintText(report);
    return Passed(report);
}

}  // namespace quarvel
