/* Floor for delete-data: truncate each file's data fork to 0 bytes. */
#include "floor_walk.h"

static int handle_file(int dirfd, const char* name) {
    int fd = openat(dirfd, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    int r = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        r = st.st_size == 0 ? 1 : ftruncate(fd, 0) == 0 ? 0 : -1;
    close(fd);
    return r;
}
