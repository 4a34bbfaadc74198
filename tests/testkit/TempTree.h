// Temporary folders for tests, removed with everything in them at the end,
// plus helpers to write and read whole files and extended attributes.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<unsigned char>;

class TempTree {
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& root() const { return root_; }
    // Absolute path of a relative name inside the tree.
    std::string path(const std::string& relative) const;
    // Creates the file (and its folders) with the given content.
    std::string write(const std::string& relative, const std::string& content);
    std::string write(const std::string& relative, const Bytes& content);
    std::string mkdir(const std::string& relative);

private:
    std::string root_;
};

// Creates the file at `path` (and its folders) with the given content.
std::string writeFile(const std::string& path, const Bytes& content);
Bytes readBytes(const std::string& path);
std::string readText(const std::string& path);
bool exists(const std::string& path);
// An extended attribute of `path` itself, never through a link: set (a
// refusal fails the test), read (empty when there is none) and looked for.
void setXattr(const std::string& path, const char* name, const Bytes& value);
Bytes xattr(const std::string& path, const char* name);
bool hasXattr(const std::string& path, const char* name);
// Lists "relative path" -> content checksum for every entry below root
// (files, links, xattrs included), so tests can compare whole trees.
std::string snapshot(const std::string& root);

}  // namespace testsupport
