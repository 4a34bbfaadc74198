#include "processing/ResultCodes.h"

#include <cstdio>

#include "platform/files/Files.h"
#include "processing/ForkOperations.h"

namespace {

struct CodeText {
    OSErr code;
    const char* name;
    const char* meaning;
};

// The codes the File Manager and the fork store return, with what they mean
// on Linux.
constexpr CodeText kCodes[] = {
    {dskFulErr, "dskFulErr", "disk full or quota exceeded"},
    {ioErr, "ioErr", "I/O error, or a malformed AppleDouble file (sidecar or .AppleDouble header)"},
    {bdNamErr, "bdNamErr", "name too long"},
    {eofErr, "eofErr", "end of fork reached"},
    {posErr, "posErr", "position outside the fork"},
    {tmfoErr, "tmfoErr", "too many open files"},
    {fnfErr, "fnfErr", "no such file or folder (or it was replaced meanwhile)"},
    {wPrErr, "wPrErr", "read-only file system"},
    {fLckdErr, "fLckdErr", "file is locked"},
    {fBsyErr, "fBsyErr", "file or folder is busy (it changed while it was read)"},
    {dupFNErr, "dupFNErr", "a file with that name exists"},
    {opWrErr, "opWrErr", "fork already open for writing"},
    {paramErr, "paramErr", "invalid argument"},
    {rfNumErr, "rfNumErr", "bad fork reference number"},
    {wrPermErr, "wrPermErr", "no write permission for the fork"},
    {memFullErr, "memFullErr", "not enough memory"},
    {dirNFErr, "dirNFErr", "a folder on the path is missing or is not a folder"},
    {notAFileErr, "notAFileErr",
     "not a regular file (symbolic link, FIFO, socket or device): forks cannot be opened"},
    {fsDataTooBigErr, "fsDataTooBigErr",
     "the resource fork is too large for the store that holds it (an extended attribute the "
     "file system refuses at that size, or more than a sidecar can describe); nothing was "
     "changed"},
    {diffVolErr, "diffVolErr", "files on different volumes (another file system is mounted there)"},
    {errFSNoMoreItems, "errFSNoMoreItems", "no more items in the folder"},
    {errFSForkNotFound, "errFSForkNotFound", "no such fork"},
    {errFSNotAFolder, "errFSNotAFolder", "not a folder"},
    {errFSBadFSRef, "errFSBadFSRef", "bad file reference"},
    {pathTooLongErr, "pathTooLongErr", "path too long"},
    {afpAccessDenied, "afpAccessDenied", "permission denied"},
    {userCanceledErr, "userCanceledErr", "cancelled"},
    {fileHasLinksErr, "fileHasLinksErr",
     "the file has other names (hard links) sharing its data fork: left untouched"},
    {fileChangedErr, "fileChangedErr",
     "the data fork changed while it was copied: kept, with the copy in the resource fork; "
     "run again to finish"},
};

}  // namespace

std::string DescribeResultCode(OSErr code) {
    char text[160];
    for (const CodeText& c : kCodes) {
        if (c.code == code) {
            std::snprintf(text, sizeof text, "%s (%d)", c.name, int(code));
            return std::string(text) + ": " + c.meaning;
        }
    }
    std::snprintf(text, sizeof text, "result code %d", int(code));
    return text;
}
