#include "shell/batch/BatchOptions.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "processing/Operations.h"

namespace {

// Options Qt's application object takes itself (with one dash or two).
constexpr std::string_view kQtOptions[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "qwindowicon",
                                           "qwindowtitle",
                                           "reverse",
                                           "session",
                                           "display",
                                           "geometry",
                                           "style",
                                           "stylesheet",
                                           "widgetcount",
                                           "qmljsdebugger",
                                           "name",
                                           "title",
                                           "visual",
                                           "nograb",
                                           "dograb",
                                           "sync",
                                           "fontengine",
                                           "dialogs",
                                           "darkmode"};

bool isQtOption(std::string_view arg) {
    std::string_view name = arg.substr(arg.find_first_not_of('-'));
    name = name.substr(0, name.find('='));
    return std::find(std::begin(kQtOptions), std::end(kQtOptions), name) != std::end(kQtOptions);
}

bool isShortBatchOption(std::string_view arg) {
    return arg == "-h" || arg == "-n" || arg == "-y";
}

}  // namespace

bool IsBatchInvocation(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i] ? argv[i] : "";
        if (arg == "--") return false;
        if (isShortBatchOption(arg)) return true;
        if (arg.size() > 2 && arg.substr(0, 2) == "--" && !isQtOption(arg)) return true;
    }
    return false;
}

bool WindowPlatformAvailable(const char* display, const char* waylandDisplay,
                             const char* qpaPlatform) {
    auto set = [](const char* value) { return value && *value; };
    if (set(display) || set(waylandDisplay)) return true;
    if (!set(qpaPlatform)) return false;
    // The first platform named, without its options ("offscreen:size=...").
    const std::string_view platform(qpaPlatform);
    const std::string_view name = platform.substr(0, platform.find_first_of(":;"));
    return name != "xcb" && name != "wayland" && name.rfind("wayland-", 0) != 0;
}

const char* NoDisplayMessage() {
    return "brackwater: no display to open the window on; to change files without one, use "
           "--operation OPERATION or --info (see brackwater --help)";
}

const char* OperationName(functionType function) {
    const OperationTexts* texts = TextsOfOperation(function);
    return texts ? texts->name : "?";
}

bool OperationFromName(const std::string& name, functionType* function) {
    const OperationTexts* texts = OperationNamed(name);
    if (texts) *function = texts->function;
    return texts != nullptr;
}

namespace {

// The operations' names joined: "flip, delete-data or delete-resource" and
// "flip|delete-data|delete-resource".
std::string operationNames(bool alternatives) {
    std::string names;
    const std::size_t count = std::size(kOperationTexts);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) names += alternatives ? "|" : i + 1 == count ? " or " : ", ";
        names += kOperationTexts[i].name;
    }
    return names;
}

}  // namespace

bool ParseBatchOptions(int argc, const char* const* argv, CBatchOptions* options,
                       std::string* error) {
    *options = CBatchOptions();
    bool haveOperation = false, haveInfo = false, haveHelp = false, haveVersion = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options->paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--operation" || arg.rfind("--operation=", 0) == 0) {
            std::string value;
            if (arg == "--operation") {
                if (i + 1 >= argc) {
                    *error = "--operation needs a value: " + operationNames(false);
                    return false;
                }
                value = argv[++i];
            } else {
                value = arg.substr(std::strlen("--operation="));
            }
            functionType function;
            if (!OperationFromName(value, &function)) {
                *error = "unknown operation '" + value + "': use " + operationNames(false);
                return false;
            }
            if (haveOperation && function != options->function) {
                *error = "only one --operation at a time";
                return false;
            }
            haveOperation = true;
            options->function = function;
        } else if (arg == "--info") {
            haveInfo = true;
        } else if (arg == "--json") {
            options->json = true;
        } else if (arg == "--dry-run" || arg == "-n") {
            options->dryRun = true;
        } else if (arg == "--yes" || arg == "-y") {
            options->yes = true;
        } else if (arg == "--help" || arg == "-h") {
            haveHelp = true;
        } else if (arg == "--version") {
            haveVersion = true;
        } else {
            *error = "unknown option '" + arg + "'";
            return false;
        }
    }
    if (haveHelp) {
        options->command = BatchCommand::Help;
        return true;
    }
    if (haveVersion) {
        options->command = BatchCommand::Version;
        return true;
    }
    if (haveOperation && haveInfo) {
        *error = "--operation and --info do not go together";
        return false;
    }
    if (!haveOperation && !haveInfo) {
        *error = "say what to do: --operation " + operationNames(true) + ", or --info";
        return false;
    }
    if (haveInfo && (options->dryRun || options->yes)) {
        *error = "--dry-run and --yes go with --operation, not with --info";
        return false;
    }
    if (haveOperation && options->json) {
        *error = "--json goes with --info";
        return false;
    }
    if (options->paths.empty()) {
        *error = "no files or folders given";
        return false;
    }
    options->command = haveInfo ? BatchCommand::Info : BatchCommand::Operation;
    return true;
}

const char* BatchHelpText() {
    return R"(Usage: brackwater --operation OPERATION [--dry-run] [--yes] [--] PATH...
       brackwater --info [--json] [--] PATH...
       brackwater --help | --version
       brackwater [PATH...]                    (opens the window)

Removes or rearranges the data fork and the resource fork of files kept from
classic Mac OS and macOS: the resource fork lives in an AppleDouble "._name"
sidecar, in netatalk 2's ".AppleDouble/name" or in extended attributes, and
stays where it is. Folders are walked at any depth, in the order the window
uses (each folder sorted by name, ignoring case, its subfolders walked where
they are listed). Symbolic links are never followed.

Operations:
  flip              copy the data fork into the resource fork (over its first
                    bytes), then delete the data fork
  delete-data       delete the data fork (the file becomes empty)
  delete-resource   delete the resource fork (wherever it is stored)

Options:
  --operation OP    apply OP to every file; one line per changed file on
                    stdout, then "N changed, M failed, K skipped"
  -n, --dry-run     change nothing; list what would change, with the sizes of
                    both forks, and what would fail
  -y, --yes         do not ask for confirmation (needed when not run from a
                    terminal: without it nothing is changed)
  --info            for each file: data fork size, resource fork size and
                    where it is stored (sidecar, netatalk, attribute, none),
                    type and creator, and whether its sidecar or netatalk
                    header is malformed and why
  --json            with --info: one JSON object per line
  -h, --help        show this help
  --version         show the version

A file is skipped when the operation would not change it: flip and
delete-data skip files whose data fork is empty, delete-resource skips files
without a resource fork (macOS's blank placeholder fork counts as none).
Skipped files are not listed. Every failure goes to stderr with the path, the
result code and its meaning; the run goes on with the next file. Items that
are neither regular files nor folders (symbolic links, FIFOs, sockets,
devices) fail with notAFileErr (-1302). On a terminal, stderr shows "n of N".

Exit status: 0 every file succeeded or was skipped; 1 a file failed (or, on
a terminal, the question was answered no); 2 bad usage, or no --yes without a
terminal; 130 interrupted (the file in hand is finished first).
)";
}
