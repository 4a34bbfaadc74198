#include "testkit/TempTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;

TempTree::TempTree() {
    std::string tmpl = (fs::temp_directory_path() / "brackwater-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
}

TempTree::~TempTree() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make them writable first.
    for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::end(it);
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(root_.c_str(), 0700);
    fs::remove_all(root_, ec);
}

std::string TempTree::path(const std::string& relative) const {
    return root_ + "/" + relative;
}

std::string TempTree::write(const std::string& relative, const std::string& content) {
    return write(relative, Bytes(content.begin(), content.end()));
}

std::string TempTree::write(const std::string& relative, const Bytes& content) {
    return writeFile(path(relative), content);
}

std::string writeFile(const std::string& path, const Bytes& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string TempTree::mkdir(const std::string& relative) {
    std::string p = path(relative);
    fs::create_directories(p);
    return p;
}

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readText(const std::string& path) {
    Bytes b = readBytes(path);
    return std::string(b.begin(), b.end());
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void setXattr(const std::string& path, const char* name, const Bytes& value) {
    EXPECT_EQ(::lsetxattr(path.c_str(), name, value.data(), value.size(), 0), 0)
        << name << " on " << path;
}

Bytes xattr(const std::string& path, const char* name) {
    Bytes v(70000);
    const ssize_t n = ::lgetxattr(path.c_str(), name, v.data(), v.size());
    v.resize(n < 0 ? 0 : std::size_t(n));
    return v;
}

bool hasXattr(const std::string& path, const char* name) {
    return ::lgetxattr(path.c_str(), name, nullptr, 0) >= 0;
}

namespace {
std::string fnv(const Bytes& b) {
    unsigned long long h = 1469598103934665603ULL;
    for (unsigned char c : b) h = (h ^ c) * 1099511628211ULL;
    std::ostringstream s;
    s << std::hex << h << ":" << std::dec << b.size();
    return s.str();
}

std::string xattrs(const std::string& p) {
    char names[65536];
    ssize_t n = ::llistxattr(p.c_str(), names, sizeof names);
    if (n <= 0) return "";
    std::vector<std::string> list;
    for (ssize_t i = 0; i < n; i += ssize_t(std::char_traits<char>::length(names + i)) + 1)
        list.emplace_back(names + i);
    std::sort(list.begin(), list.end());
    std::string out;
    for (const auto& name : list) out += " " + name + "=" + fnv(xattr(p, name.c_str()));
    return out;
}
}  // namespace

std::string snapshot(const std::string& root) {
    std::vector<std::string> lines;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it);
         it.increment(ec)) {
        std::string p = it->path().string();
        std::string rel = p.substr(root.size());
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0) continue;
        std::ostringstream line;
        line << rel << " mode=" << std::oct << st.st_mode << std::dec;
        if (S_ISREG(st.st_mode)) line << " data=" << fnv(readBytes(p));
        if (S_ISLNK(st.st_mode)) line << " link=" << fs::read_symlink(p, ec).string();
        line << xattrs(p);
        lines.push_back(line.str());
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (auto& l : lines) out += l + "\n";
    return out;
}

}  // namespace testsupport
