#include "command_line.h"

#include <stdio.h>

#include <cctype>
#include <map>
#include <optional>

#include "commands.h"
#include "error.h"

#ifndef QUARVEL_VERSION
#define QUARVEL_VERSION "unknown"
#endif

namespace quarvel {
namespace {

struct OptionSpec {
    const char *name;       // without the leading "--"
    char shortName;         // 0 for none
    const char *valueName;  // null for a flag
    const char *help;
    bool repeatable = false;  // each value kept, in order
};

struct Command {
    const char *name;
    const char *usage;
    const char *summary;
    std::vector<OptionSpec> options;
};

const OptionSpec helpOption = {"help", 'h', nullptr, "show this help and exit"};
const OptionSpec quietOption = {"quiet", 'q', nullptr, "no progress bar, no summary"};

const Command packCommand = {
    "pack",
    "quarvel pack -o SETUP.EXE [options] FILE...\n"
    "       quarvel pack -o SETUP.EXE --app DIR --name NAME [options]",
    "Writes an installer that installs FILEs (a directory stands for the files in it) with the\n"
    "one INF file among them. Texts are read as UTF-8 and stored in code page 1252.\n"
    "With --app, it installs the whole tree under DIR into Program Files, with an INF that it\n"
    "writes: shortcuts in the Start menu, an Add/Remove Programs entry and an uninstaller.",
    {
        {"output", 'o', "FILE", "the installer to write"},
        {"title", 0, "TEXT", "the installer window's title (at most 255 bytes)"},
        {"app", 0, "DIR", "install the application in DIR, subfolders and all"},
        {"name", 0, "NAME", "the application's name (with --app)"},
        {"version", 0, "V", "its version, shown in Add/Remove Programs"},
        {"publisher", 0, "P", "its publisher, shown in Add/Remove Programs"},
        {"install-dir", 0, "DIR", "the folder under Program Files (default: NAME)"},
        {"shortcut", 0, "LABEL=PATH", "a Start-menu shortcut to a file of the tree (repeatable)", true},
        {"run-after", 0, "PATH", "start this file of the tree once installed"},
        {"inf", 0, "NAME", "the INF file to install (default: the one .inf among the files)"},
        {"message", 0, "FILE", "the text shown in the installer's window"},
        {"licence", 0, "FILE", "a licence the user must accept before installing"},
        {"info", 0, "FILE", "the text of the Info box (at most 255 bytes)"},
        {"completion", 0, nullptr, "report success and wait after installing"},
        {"require-admin", 0, nullptr, "install only for members of Administrators"},
        {"remove-install-button", 0, nullptr, "remove the Install button once the work starts"},
        {"advpack", 0, nullptr, "install with advpack's LaunchINFSection"},
        {"scramble-cabinet", 0, nullptr, "store the cabinet XORed with the package's key"},
        {"volume-size", 0, "SIZE", "split into volumes of SIZE bytes (1440k, 100M, ...)"},
        {"cabinet", 0, "CAB", "a ready cabinet to install instead of FILEs"},
        {"compression", 0, "TYPE", "none or mszip (default)"},
        {"stub", 0, "FILE", "the installer program image (default: the built-in stub)"},
        {"cabinet-library", 0, "FILE", "a Cabinet.dll image for systems without one (40960 bytes at most)"},
        {"sign-cert", 0, "FILE", "sign the installer with osslsigncode and this certificate"},
        {"sign-key", 0, "FILE", "the private key of --sign-cert"},
        {"timestamp", 0, "URL", "with --sign-cert: an RFC 3161 timestamp server"},
        quietOption,
        helpOption,
    },
};

const Command inspectCommand = {
    "inspect",
    "quarvel inspect [--json] FILE",
    "Prints an installer's header, texts and cabinet listing, and checks it as an installer\n"
    "would. The continuation volumes of an installer are found beside it. The exit status is 1\n"
    "when a check fails.",
    {
        {"json", 0, nullptr, "print one JSON document"},
        helpOption,
    },
};

const Command extractCommand = {
    "extract",
    "quarvel extract FILE [-d DIR]",
    "Extracts the files of an installer without running it. A stored name that would leave DIR\n"
    "is refused; on any failure nothing is left behind.",
    {
        {"directory", 'd', "DIR", "where to put the files (default: the current directory)"},
        quietOption,
        helpOption,
    },
};

const char toolUsage[] =
    "usage: quarvel pack -o SETUP.EXE [options] FILE...\n"
    "       quarvel pack -o SETUP.EXE --app DIR --name NAME [options]\n"
    "       quarvel inspect [--json] FILE\n"
    "       quarvel extract FILE [-d DIR]\n"
    "       quarvel COMMAND --help | --help | --version\n";

const char toolHelp[] =
    "quarvel makes self-extracting installers for 32-bit Windows, and inspects and extracts them.\n"
    "\n"
    "commands:\n"
    "  pack      write an installer from files and an INF file\n"
    "  inspect   print and check what an installer holds\n"
    "  extract   extract an installer's files without running it\n"
    "\n"
    "Environment: SOURCE_DATE_EPOCH, when set, is the date of every packed file.\n";

struct ParsedArguments {
    std::map<std::string, std::string> values;
    std::map<std::string, std::vector<std::string>> lists;  // of repeatable options
    std::vector<std::string> operands;

    bool Has(const std::string &name) const { return values.count(name) > 0; }
    std::optional<std::string> Value(const std::string &name) const
    {
        auto found = values.find(name);
        return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
};

const OptionSpec *FindOption(const Command &command, const std::string &name, char shortName)
{
    for (const OptionSpec &option : command.options)
        if ((shortName && option.shortName == shortName) || (!shortName && name == option.name))
            return &option;
    return nullptr;
}

ParsedArguments Parse(const Command &command, const std::vector<std::string> &arguments)
{
    ParsedArguments parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); i++) {
        const std::string &argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            parsed.operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec *option;
        std::optional<std::string> inlineValue;
        if (argument[1] == '-') {
            std::string name = argument.substr(2);
            size_t equals = name.find('=');
            if (equals != std::string::npos) {
                inlineValue = name.substr(equals + 1);
                name.resize(equals);
            }
            option = FindOption(command, name, 0);
        } else {
            option = FindOption(command, "", argument[1]);
            if (argument.size() > 2)
                inlineValue = argument.substr(2);
        }
        if (!option)
            throw UsageError(std::string(command.name) + ": unknown option " + argument);
        std::string name = option->name;
        if (parsed.Has(name) && !option->repeatable)
            throw UsageError(std::string(command.name) + ": --" + name + " is given twice");
        if (!option->valueName) {
            if (inlineValue)
                throw UsageError(std::string(command.name) + ": --" + name + " takes no value");
            parsed.values[name] = "";
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= arguments.size())
                throw UsageError(std::string(command.name) + ": --" + name + " needs " +
                                 option->valueName);
            inlineValue = arguments[++i];
        }
        parsed.values[name] = *inlineValue;
        parsed.lists[name].push_back(*inlineValue);
    }
    return parsed;
}

void PrintCommandHelp(const Command &command)
{
    printf("usage: %s\n\n%s\n\noptions:\n", command.usage, command.summary);
    for (const OptionSpec &option : command.options) {
        std::string left = option.shortName ? std::string("-") + option.shortName + ", " : "    ";
        left += std::string("--") + option.name;
        if (option.valueName)
            left += std::string(" ") + option.valueName;
        printf("  %-30s %s\n", left.c_str(), option.help);
    }
}

Compression ParseCompression(const std::string &text)
{
    if (text == "none")
        return Compression::none;
    if (text == "mszip")
        return Compression::mszip;
    throw UsageError("--compression is none or mszip, not " + Quoted(text));
}

int RunPack(const ParsedArguments &arguments, const std::vector<uint8_t> &embeddedStub)
{
    PackOptions options;
    options.output = arguments.Value("output").value_or("");
    options.inputs = arguments.operands;
    options.cabinet = arguments.Value("cabinet");
    options.stubImage = embeddedStub;
    options.stubPath = arguments.Value("stub");
    options.cabinetLibraryPath = arguments.Value("cabinet-library");
    options.title = arguments.Value("title");
    options.infName = arguments.Value("inf");
    options.messagePath = arguments.Value("message");
    options.licencePath = arguments.Value("licence");
    options.infoPath = arguments.Value("info");
    options.flags.showCompletion = arguments.Has("completion");
    options.flags.requireAdmin = arguments.Has("require-admin");
    options.flags.removeInstallButton = arguments.Has("remove-install-button");
    options.flags.useAdvpack = arguments.Has("advpack");
    options.flags.scrambleCabinet = arguments.Has("scramble-cabinet");
    if (std::optional<std::string> size = arguments.Value("volume-size"))
        options.volumeSize = ParseSize(*size);
    if (std::optional<std::string> compression = arguments.Value("compression"))
        options.compression = ParseCompression(*compression);
    std::optional<std::string> certificate = arguments.Value("sign-cert");
    std::optional<std::string> key = arguments.Value("sign-key");
    if (certificate.has_value() != key.has_value())
        throw UsageError("--sign-cert and --sign-key go together");
    if (certificate)
        options.signing = SigningOptions{*certificate, *key, arguments.Value("timestamp")};
    else if (arguments.Has("timestamp"))
        throw UsageError("--timestamp applies to a signature: give --sign-cert and --sign-key");
    options.quiet = arguments.Has("quiet");
    if (std::optional<std::string> directory = arguments.Value("app")) {
        AppRequest app;
        app.directory = *directory;
        app.name = arguments.Value("name").value_or("");
        app.version = arguments.Value("version");
        app.publisher = arguments.Value("publisher");
        app.installDir = arguments.Value("install-dir");
        if (arguments.lists.count("shortcut"))
            app.shortcuts = arguments.lists.at("shortcut");
        app.runAfter = arguments.Value("run-after");
        options.app = app;
    } else {
        for (const char *name : {"name", "version", "publisher", "install-dir", "shortcut", "run-after"})
            if (arguments.Has(name))
                throw UsageError(std::string("--") + name + " describes an application: use it with --app");
    }

    std::vector<WrittenFile> written = Pack(options);
    if (!options.quiet)
        for (const WrittenFile &file : written)
            printf("wrote %s (%llu bytes)\n", file.path.c_str(), (unsigned long long)file.size);
    return 0;
}

std::string OneOperand(const ParsedArguments &arguments, const char *command)
{
    if (arguments.operands.size() != 1)
        throw UsageError(std::string(command) + " takes one FILE");
    return arguments.operands[0];
}

int RunInspect(const ParsedArguments &arguments)
{
    InspectOptions options;
    options.path = OneOperand(arguments, "inspect");
    options.json = arguments.Has("json");
    return Inspect(options) ? 0 : 1;
}

int RunExtract(const ParsedArguments &arguments)
{
    ExtractOptions options;
    options.path = OneOperand(arguments, "extract");
    options.directory = arguments.Value("directory").value_or(".");
    if (options.directory.empty())
        throw UsageError("extract: -d needs a directory");
    options.quiet = arguments.Has("quiet");
    std::vector<std::string> written = Extract(options);
    if (!options.quiet)
        printf("extracted %zu files into %s\n", written.size(), options.directory.c_str());
    return 0;
}

}  // namespace

uint64_t ParseSize(const std::string &text)
{
    size_t digits = 0;
    while (digits < text.size() && std::isdigit((unsigned char)text[digits]))
        digits++;
    std::string suffix = text.substr(digits);
    uint64_t unit = suffix.empty() ? 1
                  : suffix == "k" || suffix == "K" ? 1024
                  : suffix == "m" || suffix == "M" ? 1024 * 1024
                  : suffix == "g" || suffix == "G" ? 1024 * 1024 * 1024
                                                   : 0;
    if (digits == 0 || digits > 12 || unit == 0)
        throw UsageError(Quoted(text) + " is not a size (such as 1474560, 1440k or 100M)");
    uint64_t size = std::stoull(text.substr(0, digits)) * unit;
    if (size == 0)
        throw UsageError("a volume size of 0 bytes");
    return size;
}

int RunCommandLine(const std::vector<std::string> &arguments, const std::vector<uint8_t> &embeddedStub)
{
    try {
        if (arguments.empty()) {
            fputs(toolUsage, stderr);
            return 2;
        }
        const std::string &first = arguments[0];
        if (first == "--help" || first == "-h") {
            printf("%s\n%s", toolUsage, toolHelp);
            return 0;
        }
        if (first == "--version") {
            printf("quarvel %s\n", QUARVEL_VERSION);
            return 0;
        }
        const Command *commands[] = {&packCommand, &inspectCommand, &extractCommand};
        for (const Command *command : commands) {
            if (first != command->name)
                continue;
            ParsedArguments parsed =
                Parse(*command, std::vector<std::string>(arguments.begin() + 1, arguments.end()));
            if (parsed.Has("help")) {
                PrintCommandHelp(*command);
                return 0;
            }
            if (command == &packCommand)
                return RunPack(parsed, embeddedStub);
            if (command == &inspectCommand)
                return RunInspect(parsed);
            return RunExtract(parsed);
        }
        throw UsageError("unknown command " + Quoted(first));
    } catch (const UsageError &error) {
        fprintf(stderr, "quarvel: error: %s (see quarvel --help)\n", error.what());
        return 2;
    } catch (const Error &error) {
        fprintf(stderr, "quarvel: error: %s\n", error.what());
        return 1;
    } catch (const std::bad_alloc &) {
        fprintf(stderr, "quarvel: error: out of memory\n");
        return 1;
    }
}

}  // namespace quarvel
