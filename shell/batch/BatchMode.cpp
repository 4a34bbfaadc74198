#include "shell/batch/BatchMode.h"

#include <time.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/files/Files.h"
#include "platform/files/FilesExtra.h"
#include "processing/ItemScreening.h"
#include "processing/Operations.h"
#include "shell/batch/BatchInfo.h"
#include "shell/batch/BatchText.h"
#include "shell/batch/BatchWalk.h"

volatile std::sig_atomic_t gBatchInterrupted = 0;

namespace {

// "n of N" on one line of the terminal, redrawn at most ten times a second,
// and taken away before any other line is written.
class CProgress {
public:
    CProgress(std::FILE* err, bool enabled, std::size_t total)
        : err_(err), enabled_(enabled && total > 0), total_(total) {}
    ~CProgress() { hide(); }

    void show(std::size_t done) {
        if (!enabled_) return;
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        const long long ms = now.tv_sec * 1000LL + now.tv_nsec / 1000000;
        if (shown_ && ms - lastMs_ < 100 && done != total_) return;
        lastMs_ = ms;
        std::fprintf(err_, "\r%zu of %zu\033[K", done, total_);
        std::fflush(err_);
        shown_ = true;
    }
    void hide() {
        if (!shown_) return;
        std::fputs("\r\033[K", err_);
        std::fflush(err_);
        shown_ = false;
    }

private:
    std::FILE* err_;
    bool enabled_;
    std::size_t total_;
    bool shown_ = false;
    long long lastMs_ = 0;
};

// Writes report lines; a line never lands in the middle of the progress line.
class CReporter {
public:
    CReporter(const CBatchIO& io, bool json)
        : io_(io), json_(json), outIsTerminal_(FSStreamIsTerminal(io.out)) {}

    void setProgress(CProgress* progress) { progress_ = progress; }

    void out(const std::string& text) {
        if (progress_ && outIsTerminal_) progress_->hide();
        std::fputs(text.c_str(), io_.out);
        if (progress_ && outIsTerminal_) std::fflush(io_.out);
    }
    // One failure on stderr, and with --json also as an object on stdout.
    void failure(const std::string& path, OSErr code, const std::string& note,
                 const char* lead = "", bool asJson = true) {
        if (progress_) progress_->hide();
        std::fflush(io_.out);
        std::string line =
            "brackwater: " + TerminalPath(path) + ": " + lead + DescribeResultCode(code);
        if (!note.empty()) line += " (" + note + ")";
        std::fprintf(io_.err, "%s\n", line.c_str());
        if (json_ && asJson) {
            CForkReport report;
            report.path = path;
            report.error = code;
            out(FormatReportJson(report) + "\n");
        }
    }
    // Something left alone on purpose, with the reason, on stderr.
    void skipped(const std::string& path, const std::string& reason) {
        message(TerminalPath(path) + ": skipped: " + reason);
    }
    void message(const std::string& text) {
        if (progress_) progress_->hide();
        std::fflush(io_.out);
        std::fprintf(io_.err, "brackwater: %s\n", text.c_str());
    }

private:
    const CBatchIO& io_;
    bool json_;
    bool outIsTerminal_;
    CProgress* progress_ = nullptr;
};

// Why an item that is not handled was left alone.
std::string screeningNote(const CScreenedItem& item, const std::string& path,
                          const std::vector<std::string>& paths) {
    switch (item.verdict) {
        case ItemVerdict::Companion:
            if (item.isFolder)
                return "netatalk's folder of other files' forks, never handled itself";
            if (path.find("/.AppleDouble/") != std::string::npos ||
                path.rfind(".AppleDouble/", 0) == 0)
                return "netatalk's header of another file's fork and Finder info, never handled as "
                       "a file of its own";
            return "the AppleDouble sidecar of the file beside it, part of that file, never "
                   "handled "
                   "as a file of its own";
        case ItemVerdict::Repeated:
            return "named before; handled once";
        case ItemVerdict::Inside:
            return "inside " + TerminalPath(paths[item.other]) + ", which is handled whole";
        case ItemVerdict::Handle:
            break;
    }
    return {};
}

// Hands every entry the arguments stand for to onItem, in the order of the
// arguments and walks, as they are met: a failure met on the way takes its
// place among the files. The arguments are screened first, so that a sidecar
// named beside its file, a path named twice or one inside a folder also named
// is not handled as a file of its own. Stops when onItem answers false.
void expandEach(const CBatchOptions& options, const BatchItemProc& onItem) {
    std::vector<CScreenedItem> screened;
    std::vector<std::string> paths;       // the argument of each screened item
    std::vector<std::size_t> screenedAt;  // per argument: its screened item, or none
    constexpr std::size_t kNone = std::size_t(-1);
    for (const std::string& path : options.paths) {
        CScreenedItem item;
        Boolean isDirectory = false;
        if (FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &item.ref, &isDirectory) !=
            noErr) {
            screenedAt.push_back(kNone);  // met again, and reported, when expanded
            continue;
        }
        item.isFolder = isDirectory;
        screenedAt.push_back(screened.size());
        screened.push_back(item);
        paths.push_back(path);
    }
    ScreenItems(&screened);
    for (std::size_t i = 0; i < options.paths.size(); ++i) {
        const std::size_t at = screenedAt[i];
        if (at != kNone && screened[at].verdict != ItemVerdict::Handle) {
            CBatchItem skipped;
            skipped.path = options.paths[i];
            skipped.skipped = true;
            skipped.note = screeningNote(screened[at], options.paths[i], paths);
            if (!onItem(skipped)) return;
            continue;
        }
        if (!ExpandBatchPath(options.paths[i], onItem)) return;
    }
}

enum class Outcome { Changed, Failed, Skipped };

// True when the file's "._name" sidecar is valid and holds a resource fork
// with bytes (not macOS's blank placeholder): then that is the fork the store
// finds first, and deleting it changes the file. Any other answer (no sidecar,
// an empty fork, anything unusual) is false, and the caller asks the fork
// store itself. Reads the sidecar once, from the folder kept open.
bool sidecarHoldsFork(const FSRef* ref) {
    FSForkInspection forks;
    return FSInspectForks(ref, kFSInspectSidecar, &forks) == noErr &&
           forks.sidecar.state == kFSCompanionValid && forks.sidecar.forkLength > 0;
}

// One file of a real run: skipped when the fork the operation takes away is
// already empty, else the window's operation.
Outcome applyOperation(const CBatchItem& item, functionType function, CReporter* reporter) {
    CFSFolderHold hold;  // one look at the folder for the whole file
    const bool resource = function == kDeleteResourceFork;
    OSErr err = noErr;
    // A data fork the walk saw with bytes in it, or a sidecar holding a fork,
    // needs no second look through the File Manager; an empty fork is looked
    // at again now, so that a skip never rests on old news.
    const bool known =
        resource ? sidecarHoldsFork(&item.ref) : item.dataSizeKnown && item.dataSize > 0;
    if (!known) {
        FSCatalogInfo info;
        err = FSGetCatalogInfo(&item.ref, resource ? kFSCatInfoRsrcSizes : kFSCatInfoDataSizes,
                               &info, nullptr, nullptr, nullptr);
        if (err == noErr && (resource ? info.rsrcLogicalSize : info.dataLogicalSize) == 0) {
            // Regular files only have forks; anything else is met by the
            // operation, which answers notAFileErr.
            FSForkInspection file;
            err = FSInspectForks(&item.ref, kFSInspectFile, &file);
            if (err == noErr) return Outcome::Skipped;
            if (err == notAFileErr) err = noErr;
        }
    }
    if (err == noErr) err = ProcessFSRef(&item.ref, function);
    if (err != noErr) {
        reporter->failure(item.path, err, "");
        return Outcome::Failed;
    }
    reporter->out(std::string(TextsOfOperation(function)->doneVerb) + ": " +
                  TerminalPath(item.path) + "\n");
    return Outcome::Changed;
}

// One file of a dry run: what the real run would do, as far as it can be told
// without trying: the same tests of size and kind, the fork store's verdict on
// the resource fork where the operation needs it, and write permission.
Outcome predictOperation(const CBatchItem& item, functionType function, CReporter* reporter) {
    const CForkReport report = InspectFile(&item.ref, item.path);
    const FSForkInspection& forks = report.forks;
    OSErr err = report.error;
    const bool resource = function == kDeleteResourceFork;
    const bool empty =
        resource ? forks.rsrcError == noErr && forks.rsrcLength == 0 : forks.dataLength == 0;
    if (err == noErr && empty) return Outcome::Skipped;
    if (err == noErr && function != kDeleteDataFork) err = forks.rsrcError;
    if (err == noErr) err = forks.writeError;
    if (err == noErr && function != kDeleteResourceFork && forks.linkCount > 1)
        err = fileHasLinksErr;
    if (err == noErr && function == kFlipDeleteDataFork && forks.dataLength > forks.rsrcLimit)
        err = fsDataTooBigErr;
    if (err != noErr) {
        reporter->failure(item.path, err, "", "would fail: ");
        return Outcome::Failed;
    }
    std::string sizes = "data " + std::to_string(forks.dataLength) + " bytes, resource ";
    sizes += forks.rsrcError == noErr ? std::to_string(forks.rsrcLength) + " bytes" : "unknown";
    reporter->out(std::string(TextsOfOperation(function)->dryRunVerb) + " (" + sizes +
                  "): " + TerminalPath(item.path) + "\n");
    return Outcome::Changed;
}

// Asks once on the terminal; returns -1 to go ahead, else the exit status.
int confirm(const CBatchOptions& options, const CBatchIO& io) {
    if (options.dryRun || options.yes) return -1;
    if (!io.inputIsTerminal) {
        std::fprintf(io.err,
                     "brackwater: not run from a terminal and no --yes given: nothing was "
                     "changed\n");
        return kBatchUsage;
    }
    std::fprintf(io.err, "%s\n%s\nGo ahead? [y/N] ", ConfirmationMessage(options.function),
                 ConfirmationExplanation());
    std::fflush(io.err);
    char answer[64] = {};
    const bool read = std::fgets(answer, sizeof answer, io.in) != nullptr;
    if (gBatchInterrupted) {
        std::fprintf(io.err, "\nbrackwater: interrupted: nothing was changed\n");
        return kBatchInterrupted;
    }
    std::string word;
    for (const char* c = answer; *c && *c != '\n'; ++c)
        word += char(std::tolower(static_cast<unsigned char>(*c)));
    if (read && (word == "y" || word == "yes")) return -1;
    if (!read) std::fputc('\n', io.err);
    std::fprintf(io.err, "brackwater: cancelled: nothing was changed\n");
    return kBatchFailure;
}

// How many files went each way.
struct CTally {
    std::size_t changed = 0, failed = 0, skipped = 0;
};

// Goes through the expanded paths in order, as the walks meet them, with
// progress on the terminal (which counts the files first): a failure met while
// expanding is reported and counted, every other item goes to `handle`. Stops
// after the file in hand when interrupted. Returns how many entries were left,
// counting the rest of the walk when the total is not known.
template <class Handle>
std::size_t forEachItem(const CBatchOptions& options, const CBatchIO& io, CReporter* reporter,
                        CTally* tally, Handle handle) {
    std::size_t total = 0;
    if (io.errIsTerminal)
        expandEach(options, [&](const CBatchItem&) { return ++total, !gBatchInterrupted; });
    CProgress progress(io.err, io.errIsTerminal, total);
    reporter->setProgress(&progress);
    std::size_t done = 0, left = 0;
    expandEach(options, [&](const CBatchItem& item) {
        if (gBatchInterrupted) {
            if (total) {
                left = total > done ? total - done : 0;
                return false;
            }
            ++left;
            return true;
        }
        Outcome outcome = Outcome::Failed;
        if (item.skipped) {
            reporter->skipped(item.path, item.note);
            outcome = Outcome::Skipped;
        } else if (item.failure != noErr) {
            reporter->failure(item.path, item.failure, item.note);
        } else {
            outcome = handle(item);
        }
        ++(outcome == Outcome::Changed  ? tally->changed
           : outcome == Outcome::Failed ? tally->failed
                                        : tally->skipped);
        progress.show(++done);
        return true;
    });
    progress.hide();
    reporter->setProgress(nullptr);
    return left;
}

// The exit status, after the report: an interruption is said last.
int finish(const CBatchIO& io, std::size_t left, const CTally& tally, CReporter* reporter) {
    std::fflush(io.out);
    if (gBatchInterrupted) {
        reporter->message("interrupted: " + std::to_string(left) + " files were not handled");
        return kBatchInterrupted;
    }
    return tally.failed ? kBatchFailure : kBatchSuccess;
}

int runOperation(const CBatchOptions& options, const CBatchIO& io) {
    int status = confirm(options, io);
    if (status >= 0) return status;
    CReporter reporter(io, false);
    CTally tally;
    const std::size_t left =
        forEachItem(options, io, &reporter, &tally, [&](const CBatchItem& item) {
            return options.dryRun ? predictOperation(item, options.function, &reporter)
                                  : applyOperation(item, options.function, &reporter);
        });
    const std::string counts =
        std::to_string(tally.changed) + (options.dryRun ? " would change, " : " changed, ") +
        std::to_string(tally.failed) + (options.dryRun ? " would fail, " : " failed, ") +
        std::to_string(tally.skipped) + " skipped";
    reporter.out(options.dryRun ? "dry run: " + counts + "; nothing was changed\n" : counts + "\n");
    return finish(io, left, tally, &reporter);
}

int runInfo(const CBatchOptions& options, const CBatchIO& io) {
    CReporter reporter(io, options.json);
    CTally tally;
    const std::size_t left =
        forEachItem(options, io, &reporter, &tally, [&](const CBatchItem& item) {
            const CForkReport report = InspectFile(&item.ref, item.path);
            if (report.error != noErr) {
                reporter.failure(report.path, report.error, "");
                return Outcome::Failed;
            }
            reporter.out(options.json ? FormatReportJson(report) + "\n" : FormatReportText(report));
            if (ReportIsComplete(report)) return Outcome::Changed;
            const OSErr code = report.forks.rsrcError != noErr ? report.forks.rsrcError
                                                               : report.forks.finderInfoError;
            // The JSON line above already carries the error.
            reporter.failure(report.path, code, "", "", false);
            return Outcome::Failed;
        });
    return finish(io, left, tally, &reporter);
}

void onSignal(int) {
    gBatchInterrupted = 1;
}

}  // namespace

int RunBatch(const CBatchOptions& options, const CBatchIO& io) {
    switch (options.command) {
        case BatchCommand::Help:
            std::fputs(BatchHelpText(), io.out);
            return kBatchSuccess;
        case BatchCommand::Version:
            std::fprintf(io.out, "brackwater %s\n", BRACKWATER_VERSION);
            return kBatchSuccess;
        case BatchCommand::Info:
            return runInfo(options, io);
        case BatchCommand::Operation:
            return runOperation(options, io);
    }
    return kBatchUsage;
}

int RunBatchMode(int argc, char* argv[]) {
    CBatchOptions options;
    std::string error;
    if (!ParseBatchOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "brackwater: %s\nTry 'brackwater --help' for more information.\n",
                     error.c_str());
        return kBatchUsage;
    }
    // The first signal lets the file in hand finish; a second one ends the
    // process at once.
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);

    CBatchIO io;
    io.inputIsTerminal = FSStreamIsTerminal(stdin);
    io.errIsTerminal = FSStreamIsTerminal(stderr);
    return RunBatch(options, io);
}
