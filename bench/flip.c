/* Floor for flip: read each file's data fork, write it as the resource fork of
 * a new sidecar (temporary name, synced, renamed into place without replacing,
 * folder synced), then truncate the data fork. Files that already have a
 * sidecar are outside this benchmark's tree and are counted as failures. */
#include "floor_walk.h"

#include <sys/syscall.h>

static int handle_file(int dirfd, const char* name) {
    int fd = openat(dirfd, name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return close(fd), -1;
    if (st.st_size == 0) return close(fd), 1;
    char side[NAME_MAX + 3], temp[NAME_MAX + 16];
    snprintf(side, sizeof side, "._%s", name);
    struct stat sst;
    if (fstatat(dirfd, side, &sst, AT_SYMLINK_NOFOLLOW) == 0) return close(fd), -1;
    size_t size = (size_t)st.st_size;
    unsigned char* buf = malloc(82 + size);
    memset(buf, 0, 82);
    static const unsigned char head[50] = {0, 5, 0x16, 7, 0, 2, 0, 0, 'M', 'a', 'c', ' ', 'O', 'S',
                                           ' ', 'X', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0, 2,
                                           0, 0, 0, 9, 0, 0, 0, 50, 0, 0, 0, 32, 0, 0, 0, 2, 0, 0,
                                           0, 82};
    memcpy(buf, head, 46);
    buf[46] = size >> 24, buf[47] = size >> 16, buf[48] = size >> 8, buf[49] = size;
    int r = -1;
    if (pread(fd, buf + 82, size, 0) == (ssize_t)size) {
        snprintf(temp, sizeof temp, ".__%s.tmp", name);
        int t = openat(dirfd, temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (t >= 0) {
            int ok = write(t, buf, 82 + size) == (ssize_t)(82 + size) && fdatasync(t) == 0;
            close(t);
            if (ok && syscall(SYS_renameat2, dirfd, temp, dirfd, side, 1 /* NOREPLACE */) == 0) {
                int d = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                ok = d >= 0 && fsync(d) == 0;
                if (d >= 0) close(d);
                r = ok && ftruncate(fd, 0) == 0 ? 0 : -1;
            } else {
                unlinkat(dirfd, temp, 0);
            }
        }
    }
    free(buf);
    close(fd);
    return r;
}
