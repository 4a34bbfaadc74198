// What a fork operation may leave behind when it fails, is killed or is cut
// short: each file's bytes are whole in its data fork or whole in its resource
// fork, which stays in the store it was in (no sidecar appears for a fork kept
// in an attribute or in netatalk's header), its Finder info, "ATTR" block,
// netatalk header and other attributes are kept, every sidecar and netatalk
// header in the tree is well formed and no temporary file is left. Read with
// the fork store and the AppleDouble codec, never through the operation under
// test.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/files/linux/ForkStore.h"
#include "testkit/TempTree.h"

namespace testsupport {

struct ForkState {
    Bytes data;
    Bytes rsrc;
    Bytes finderInfo;  // 32 bytes
    // The Mac extended attributes of the sidecar's "ATTR" block, name -> value.
    std::map<std::string, Bytes> attrBlock;
    // The file's own extended attributes except the two that hold a resource
    // fork (whose values are the fork, compared as such).
    std::map<std::string, Bytes> xattrs;
    // Where the fork is, and which stores the file has, empty or not.
    forkstore::RsrcStore store = forkstore::RsrcStore::None;
    bool sidecar = false;        // "._name"
    bool forkAttribute = false;  // either attribute that holds a resource fork
    // netatalk 2's ".AppleDouble/name" up to its fork, with the fork's length
    // field zeroed: all that must stay as it was. Empty when there is none.
    Bytes netatalkHeader;
};

// Reads the state of `name` in the folder `dirfd`; noErr or the failing call's code.
OSErr readForkState(int dirfd, const std::string& name, ForkState* out);

enum class ForkOp { Flip, DeleteResource };

// Compares a file's state after `op` with its state before. Empty when the
// state is one the operation may leave part way; otherwise what is wrong.
// *done tells whether the operation is complete for this file.
std::string checkForkState(ForkOp op, const ForkState& before, const ForkState& now, bool* done);

// The shapes a file's forks come in, each named for its shape: no fork; a
// sidecar whose fork is shorter, longer or empty; macOS's sidecar with an
// "ATTR" block and the placeholder fork; Samba's sidecar with the fork first
// and netatalk metadata; forks in either attribute; an empty data fork; a
// fork without Finder info; another attribute that must stay; Finder info
// only (with and without a data fork); netatalk 2's headers (with a fork, one
// as afpd makes it, one with older bytes in its slots); Samba's stream
// holding an empty fork. Sorted by name.
extern const std::vector<std::string> kForkShapes;
// Writes the file `name` in the folder `dir` (with its sidecar, attributes or
// netatalk header) in the shape kForkShapes[shape], its bytes made from `seed`.
void writeForkShape(const std::string& dir, const std::string& name, std::size_t shape,
                    unsigned seed);

// Looks at every entry below `root` (reached with openat, so depth does not
// matter): each "._name" regular file must parse as a sidecar, each file of a
// ".AppleDouble" folder that belongs to a file beside the folder (and its
// ".Parent") as a netatalk header, and no temporary file may be left. Empty
// when all is well, else the problems.
std::string checkSidecars(const std::string& root);

}  // namespace testsupport
