#include "platform/files/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QChar>
#include <algorithm>
#include <cerrno>
#include <string_view>
#include <unordered_set>

#include "platform/files/FileErrors.h"
#include "platform/files/linux/ForkStore.h"

namespace listing {

namespace {

// Case-folded code points of a name; bytes outside valid UTF-8 count as their
// Latin-1 characters.
std::u32string foldKey(const std::string& name) {
    std::u32string key;
    key.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        char32_t cp = c;
        std::size_t n = 1;
        if (c >= 0xC2 && c <= 0xF4) {
            std::size_t want = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            char32_t v = c & (want == 2 ? 0x1F : want == 3 ? 0x0F : 0x07);
            bool ok = i + want <= name.size();
            for (std::size_t k = 1; ok && k < want; ++k) {
                unsigned char cc = static_cast<unsigned char>(name[i + k]);
                ok = (cc & 0xC0) == 0x80;
                v = (v << 6) | (cc & 0x3F);
            }
            if (ok && !(want == 3 && v < 0x800) && !(want == 4 && v < 0x10000) && v <= 0x10FFFF) {
                cp = v;
                n = want;
            }
        }
        key.push_back(cp < 0x80 ? char32_t(c >= 'A' && c <= 'Z' ? c + 32 : c)
                                : char32_t(QChar::toCaseFolded(uint(cp))));
        i += n;
    }
    return key;
}

// The entry's type, from the folder when it tells, else from fstatat.
unsigned char typeOf(int dirfd, const Entry& e) {
    if (e.type != DT_UNKNOWN) return e.type;
    struct stat st {};
    if (::fstatat(dirfd, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return DT_UNKNOWN;
    return S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
}

// "._x" beside "x" holds x's forks when it is a regular file; a ".AppleDouble"
// folder holds other files' forks.
bool isCompanion(const std::string& name, unsigned char type,
                 const std::unordered_set<std::string_view>& names) {
    if (name == ".AppleDouble") return type == DT_DIR;
    return type == DT_REG && name.size() > 2 && name.compare(0, 2, "._") == 0 &&
           names.count(std::string_view(name).substr(2)) != 0;
}

}  // namespace

OSErr readFolder(int folderFd, std::vector<Entry>* entries) {
    int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errnoToOSErr(errno);
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        OSErr err = errnoToOSErr(errno);
        ::close(fd);
        return err;
    }
    std::vector<Entry> all;
    errno = 0;
    while (dirent* d = ::readdir(dir)) {
        std::string_view name(d->d_name);
        if (name != "." && name != "..") all.push_back({std::string(name), d->d_type});
        errno = 0;
    }
    OSErr err = errno ? errnoToOSErr(errno) : OSErr(noErr);
    if (err != noErr) {
        ::closedir(dir);
        return err;
    }

    std::unordered_set<std::string_view> names;
    for (const Entry& e : all) names.insert(e.name);
    std::vector<std::pair<std::u32string, Entry>> shown;
    for (Entry& e : all) {
        // A temporary sidecar is the fork store's own: hidden, and left for
        // the fork store to remove once a run writes into this folder.
        if (e.name.compare(0, 7, ".bwtmp-") == 0 && forkstore::isTemporaryName(e.name.c_str()) &&
            typeOf(fd, e) == DT_REG)
            continue;
        bool maybeHidden = e.name.compare(0, 2, "._") == 0 || e.name == ".AppleDouble";
        if (maybeHidden && isCompanion(e.name, typeOf(fd, e), names)) continue;
        shown.emplace_back(foldKey(e.name), e);
    }
    ::closedir(dir);
    std::sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        return a.second.name < b.second.name;
    });
    entries->clear();
    entries->reserve(shown.size());
    for (auto& s : shown) entries->push_back(std::move(s.second));
    return noErr;
}

}  // namespace listing
