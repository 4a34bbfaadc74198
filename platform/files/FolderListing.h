// Reading a folder for listings: its entries read once, the sidecars and
// netatalk folders that belong to other entries left out, and the rest sorted
// case-insensitively, then bytewise, as a file manager shows them.
#pragma once

#include <string>
#include <vector>

#include "platform/base/MacTypes.h"

namespace listing {

struct Entry {
    std::string name;
    unsigned char type;  // DT_* from the folder, DT_UNKNOWN when not given
};

// Lists the folder `folderFd` (an O_PATH descriptor is enough).
OSErr readFolder(int folderFd, std::vector<Entry>* entries);

}  // namespace listing
