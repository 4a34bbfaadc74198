#include "shell/BatchWalk.h"

#include <cstring>

#include "platform/PathNodes.h"
#include "processing/FolderExpansion.h"

namespace {

struct WalkContext {
    const BatchItemProc* onItem;
    pathnodes::NodeID rootNode;
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
    pathnodes::NodeID node;
    pathnodes::Identity identity;
    if (!pathnodes::readRef(ref, &node, &identity)) return context.prefix + "?";
    if (node == context.rootNode) return context.argument;
    std::vector<std::string> names;
    for (pathnodes::NodeID n = node; n != context.rootNode; n = pathnodes::parentOf(n)) {
        if (n == pathnodes::kNoNode || n == pathnodes::kRootParentID)
            return pathnodes::pathOf(node);  // not below the walked folder
        names.push_back(pathnodes::nameOf(n));
    }
    std::string path = context.prefix;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        path += *name;
        if (name + 1 != names.rend()) path += '/';
    }
    return path;
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
    WalkContext context{&onItem, pathnodes::kNoNode, argument, argument};
    pathnodes::Identity identity;
    pathnodes::readRef(&item.ref, &context.rootNode, &identity);
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
