/* Floor for delete-resource: empty each file's resource fork. The sidecar is
 * read and checked; one that would hold nothing else is removed, otherwise
 * its fork length is set to 0 (synced) and the file is cut where the fork
 * began. The two resource fork attributes are removed from the file. */
#include "floor_walk.h"

static int handle_file(int dirfd, const char* name) {
    if (faccessat(dirfd, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) return -1;
    char side[NAME_MAX + 3];
    snprintf(side, sizeof side, "._%s", name);
    int changed = 0;
    int fd = openat(dirfd, side, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st;
        unsigned char head[4096];
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return close(fd), -1;
        ssize_t got = pread(fd, head, sizeof head, 0);
        if (got < 26 || be32(head) != 0x00051607 || be32(head + 4) != 0x00020000)
            return close(fd), -1;
        unsigned count = head[24] << 8 | head[25];
        uint32_t fork_at = 0, fork_len = 0, fork_field = 0, finder_at = 0, finder_len = 0;
        int others = 0;
        if (count == 0 || count > 15 || 26 + 12 * count > (size_t)got) return close(fd), -1;
        for (unsigned i = 0; i < count; ++i) {
            const unsigned char* d = head + 26 + 12 * i;
            uint32_t id = be32(d), off = be32(d + 4), len = be32(d + 8);
            if ((uint64_t)off + len > (uint64_t)st.st_size) return close(fd), -1;
            if (id == 2) fork_at = off, fork_len = len, fork_field = 26 + 12 * i + 8;
            else if (id == 9) finder_at = off, finder_len = len;
            else if (len) others = 1;
        }
        if (fork_len) {
            int empty_finder = finder_len <= 32;
            for (uint32_t i = 0; empty_finder && i < finder_len && finder_at + i < (size_t)got; ++i)
                empty_finder = head[finder_at + i] == 0;
            if (!others && empty_finder) {
                if (unlinkat(dirfd, side, 0) != 0) return close(fd), -1;
            } else {
                static const unsigned char zero[4];
                if (pwrite(fd, zero, 4, fork_field) != 4 || fdatasync(fd) != 0 ||
                    ftruncate(fd, fork_at) != 0)
                    return close(fd), -1;
            }
            changed = 1;
        }
        close(fd);
    } else if (errno != ENOENT) {
        return -1;
    }
    int file = openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) return -1;
    if (fremovexattr(file, "user.com.apple.ResourceFork") == 0) changed = 1;
    if (fremovexattr(file, "user.DosStream.AFP_Resource:$DATA") == 0) changed = 1;
    close(file);
    return changed ? 0 : 1;
}
