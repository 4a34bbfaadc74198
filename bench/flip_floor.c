/* The least a flip can do with plain system calls: copy the file inside the
 * kernel (copy_file_range) after an 82-byte AppleDouble header into a new
 * sidecar, sync it, rename it into place, sync the folder, truncate the file.
 * The floor for bench/flip_large.sh. Usage: floor_flip_floor FOLDER NAME */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    int dir = open(argv[1], O_RDONLY | O_DIRECTORY);
    int fd = openat(dir, argv[2], O_RDWR | O_NOFOLLOW);
    struct stat st;
    if (dir < 0 || fd < 0 || fstat(fd, &st) != 0) return 1;
    unsigned char header[82] = {0, 5, 0x16, 7, 0, 2, 0, 0};
    memcpy(header + 8, "Mac OS X        ", 16);
    header[25] = 2;
    unsigned char entries[24] = {0, 0, 0, 9, 0, 0, 0, 50, 0, 0, 0, 32, 0, 0, 0, 2, 0, 0, 0, 82};
    unsigned long len = (unsigned long)st.st_size;
    entries[20] = (unsigned char)(len >> 24);
    entries[21] = (unsigned char)(len >> 16);
    entries[22] = (unsigned char)(len >> 8);
    entries[23] = (unsigned char)len;
    memcpy(header + 26, entries, 24);
    char sidecar[300];
    snprintf(sidecar, sizeof sidecar, "._%s", argv[2]);
    int out = openat(dir, ".floor-tmp", O_RDWR | O_CREAT | O_EXCL, 0644);
    if (out < 0 || pwrite(out, header, 82, 0) != 82) return 1;
    loff_t in = 0, at = 82;
    for (size_t left = (size_t)st.st_size; left > 0;) {
        ssize_t n = copy_file_range(fd, &in, out, &at, left, 0);
        if (n <= 0) return 1;
        left -= (size_t)n;
    }
    if (fdatasync(out) != 0) return 1;
    close(out);
    if (renameat2(dir, ".floor-tmp", dir, sidecar, RENAME_NOREPLACE) != 0 || fsync(dir) != 0)
        return 1;
    if (ftruncate(fd, 0) != 0) return 1;
    return 0;
}
