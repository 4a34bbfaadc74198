#include "shell/BatchWalk.h"

#include <cstring>

#include "platform/PathNodes.h"
#include "processing/FolderExpansion.h"

namespace {

struct WalkContext {
    std::vector<CBatchItem>* items;
    const BatchFailureProc* onFailure;
    const volatile std::sig_atomic_t* interrupted;
    pathnodes::NodeID rootNode;
    std::string argument;
    std::string prefix;  // the argument, ending in '/'
    int failures = 0;
};

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

// Collects the files the walker meets, in the order it meets them: the same
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
        context->items->push_back(std::move(item));
    }
    return *context->interrupted != 0;
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
        context->items->push_back(std::move(item));
        return;
    }
    ++context->failures;
    (*context->onFailure)(displayPath(*context, folder), reason,
                          "cannot list this folder; files in it were not handled");
}

}  // namespace

int ExpandBatchPath(const std::string& argument, std::vector<CBatchItem>* items,
                    const BatchFailureProc& onFailure,
                    const volatile std::sig_atomic_t* interrupted) {
    FSRef ref;
    Boolean isDirectory = false;
    OSErr err =
        OSErr(FSPathMakeRef(reinterpret_cast<const UInt8*>(argument.c_str()), &ref, &isDirectory));
    if (err != noErr) {
        onFailure(argument, err, "");
        return 1;
    }
    if (!isDirectory) {
        CBatchItem item;
        item.ref = ref;
        item.path = argument;
        items->push_back(std::move(item));
        return 0;
    }
    WalkContext context{items, &onFailure, interrupted, pathnodes::kNoNode, argument, argument};
    pathnodes::Identity identity;
    pathnodes::readRef(&ref, &context.rootNode, &identity);
    if (context.prefix.empty() || context.prefix.back() != '/') context.prefix += '/';
    err = FSIterateContainer(&ref, 0, kFSCatInfoNodeFlags | kFSCatInfoDataSizes, false, false,
                             collectFilter, &context, passedOver);
    if (err != noErr) {
        ++context.failures;
        onFailure(argument, err, "the folder could not be walked to its end");
    }
    return context.failures;
}
