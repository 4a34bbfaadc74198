/* The floor of the batch benchmarks: the system calls a plain C program needs
 * to walk a tree the way Brackwater does (each folder read once, sorted by
 * name ignoring case, "._name" sidecars of present files left out, links not
 * followed) and to apply one fork operation to each regular file. Each floor
 * program includes this and supplies handle_file(). */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

static long g_changed, g_failed, g_skipped;

/* 0 changed, 1 skipped, -1 failed */
static int handle_file(int dirfd, const char* name);

static inline uint32_t be32(const unsigned char* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static int by_name(const void* a, const void* b) {
    const char* x = *(const char* const*)a;
    const char* y = *(const char* const*)b;
    int c = strcasecmp(x, y);
    return c ? c : strcmp(x, y);
}

static void walk(int dirfd) {
    int fd = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fdopendir(fd);
    if (!dir) return;
    size_t n = 0, cap = 256;
    char** names = malloc(cap * sizeof *names);
    struct dirent* e;
    while ((e = readdir(dir))) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        if (n == cap) names = realloc(names, (cap *= 2) * sizeof *names);
        names[n++] = strdup(e->d_name);
    }
    qsort(names, n, sizeof *names, by_name);
    for (size_t i = 0; i < n; ++i) {
        struct stat st;
        if (!strncmp(names[i], "._", 2) && names[i][2] &&
            fstatat(dirfd, names[i] + 2, &st, AT_SYMLINK_NOFOLLOW) == 0)
            continue; /* a sidecar: part of its file */
        if (fstatat(dirfd, names[i], &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ++g_failed;
        } else if (S_ISDIR(st.st_mode)) {
            int sub = openat(dirfd, names[i], O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) {
                walk(sub);
                close(sub);
            }
        } else if (!S_ISREG(st.st_mode)) {
            ++g_failed;
        } else {
            int r = handle_file(dirfd, names[i]);
            if (r == 0) ++g_changed;
            else if (r > 0) ++g_skipped;
            else ++g_failed;
        }
        free(names[i]);
    }
    free(names);
    closedir(dir);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    int root = open(argv[1], O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return 2;
    walk(root);
    printf("%ld changed, %ld failed, %ld skipped\n", g_changed, g_failed, g_skipped);
    return g_failed ? 1 : 0;
}
