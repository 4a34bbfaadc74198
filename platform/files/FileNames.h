// File names between Linux and the File Manager: names on disk are UTF-8
// bytes, names in HFSUniStr255 records are UTF-16. A byte that is not part of
// valid UTF-8 is taken as its Latin-1 character, so every name has a form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/files/Files.h"

namespace filenames {

// The UTF-16 form of a name on disk, cut at 255 units.
void toUnicode(std::string_view name, HFSUniStr255* out);
// The names on disk a UTF-16 name can stand for: its UTF-8 form first, then,
// when different, the bytes a non-UTF-8 name shown through toUnicode had.
// Empty when the units are not valid UTF-16.
std::vector<std::string> fromUnicode(const UniChar* units, UniCharCount length);
// True when `name` can be one path component: not empty, not "." or "..",
// no '/' and no NUL, at most 255 bytes.
bool isComponent(std::string_view name);

}  // namespace filenames
