#include "shell/batch/BatchWalk.h"

#include "platform/files/FilesExtra.h"
#include "processing/FolderExpansion.h"

namespace {

struct WalkContext {
    const BatchItemProc* onItem;
    FSRef root;
    std::string argument;
    std::string prefix;  // the argument, ending in '/'
    bool ended = false;  // onItem asked to stop
};

bool give(WalkContext* context, const CBatchItem& item) {
    if (!context->ended && !(*context->onItem)(item)) context->ended = true;
    return !context->ended;
}

// The path of `ref` for reports: the argument as the user typed it, then the
// names from the walked folder down to the object.
std::string displayPath(const WalkContext& context, const FSRef* ref) {
    std::string path;
    Boolean inside = false;
    if (FSGetKnownPath(ref, &context.root, &path, &inside) != noErr) return context.prefix + "?";
    if (!inside) return path;  // not below the walked folder
    return path.empty() ? context.argument : context.prefix + path;
}

// Hands on the files the walker meets, in the order it meets them: the same
// walker as the window's counting and collecting walks, in one pass. It also
// asks for the data fork's size, which the listing has at no cost (the walk's
// own stat), so that a run need not look at each file once more.
Boolean collectFilter(Boolean, ItemCount, const FSCatalogInfo* catalogInfo, const FSRef* ref,
                      const FSSpec*, const HFSUniStr255*, void* data) {
    auto* context = static_cast<WalkContext*>(data);
    if (!(catalogInfo->nodeFlags & kFSNodeIsDirectoryMask)) {
        CBatchItem item;
        item.ref = *ref;
        item.path = displayPath(*context, ref);
        item.dataSizeKnown = true;
        item.dataSize = catalogInfo->dataLogicalSize;
        give(context, item);
    }
    return context->ended;
}

// A folder the walker passed over takes its place among the files: a mount
// point is left alone on purpose, any other folder is a failure.
void passedOver(const FSRef* folder, OSErr reason, void* data) {
    auto* context = static_cast<WalkContext*>(data);
    if (reason == diffVolErr) {
        CBatchItem item;
        item.path = displayPath(*context, folder);
        item.skipped = true;
        item.note = "another file system is mounted here; it was not entered";
        give(context, item);
        return;
    }
    CBatchItem item;
    item.path = displayPath(*context, folder);
    item.failure = reason;
    item.note = "cannot list this folder; files in it were not handled";
    give(context, item);
}

}  // namespace

bool ExpandBatchPath(const std::string& argument, const BatchItemProc& onItem) {
    CBatchItem item;
    item.path = argument;
    Boolean isDirectory = false;
    OSErr err = OSErr(
        FSPathMakeRef(reinterpret_cast<const UInt8*>(argument.c_str()), &item.ref, &isDirectory));
    if (err != noErr || !isDirectory) {
        item.failure = err;
        return onItem(item);
    }
    WalkContext context{&onItem, item.ref, argument, argument};
    if (context.prefix.empty() || context.prefix.back() != '/') context.prefix += '/';
    err = FSIterateContainer(&item.ref, 0, kFSCatInfoNodeFlags | kFSCatInfoDataSizes, false, false,
                             collectFilter, &context, passedOver);
    if (err != noErr && !context.ended) {
        CBatchItem failure;
        failure.path = argument;
        failure.failure = err;
        failure.note = "the folder could not be walked to its end";
        give(&context, failure);
    }
    return !context.ended;
}
