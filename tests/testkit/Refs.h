// References for tests: an FSRef made from a path, the path of an FSRef, a
// folder's listing, the items of an open-documents event read back as paths,
// and file URLs as drag data names them.
#pragma once

#include <QByteArray>
#include <string>
#include <vector>

#include "platform/events/AppleEvents.h"
#include "platform/files/Files.h"

class QMimeData;

namespace testsupport {

// The reference of `path`. Without `result`, anything but noErr fails the test;
// with it, the code is stored there instead.
FSRef refOf(const std::string& path, OSErr* result = nullptr, Boolean* isDir = nullptr);
// The path of `ref` (of any length), or "<no path>" when it has none.
std::string pathOf(const FSRef& ref);
// A name with '?' for each character outside ASCII.
std::string asciiName(const HFSUniStr255& name);
// The names a flat listing of `folder` hands out one call at a time, in its
// order; the listing must end with errFSNoMoreItems.
std::vector<std::string> listNames(const std::string& folder);
// The items of the event's direct-object list: each one's descriptor type and
// the path it reads as an FSRef ("" when it does not resolve). False when the
// event holds no list.
bool directObjectItems(const AppleEvent* event, std::vector<DescType>* types,
                       std::vector<std::string>* paths);
// The file URL of `path`, percent-encoded as a file manager writes it.
QByteArray fileURL(const std::string& path);
// Drag data: a text/uri-list of the file URLs of `paths`, then the non-empty
// `others` entries as they are.
QMimeData* uriList(const std::vector<std::string>& paths,
                   const std::vector<QByteArray>& others = {});

}  // namespace testsupport
