// The seam between the File Manager and the kernel: every system call that
// reads or changes a user's file goes through here, so tests can make any of
// them fail (full disk, I/O error) in turn. Each call behaves like its POSIX
// namesake: -1 and errno on failure.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace sysio {

enum class Call {
    Open,
    Read,
    Write,
    Sync,  // fsync and fdatasync
    Rename,
    Truncate,
    Unlink,
    GetXattr,
    SetXattr,
    RemoveXattr,
    Link,
};

// Called before each call; a non-zero return is the errno the call fails with
// (and nothing is done). Null: no injection.
using FaultHook = int (*)(Call call);
void setFaultHook(FaultHook hook);

int openat(int dirfd, const char* name, int flags, mode_t mode = 0);
ssize_t pread(int fd, void* buf, size_t count, off_t offset);
// Writes all of count unless an error occurs; a short write is retried.
ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset);
// Copies count bytes from fdIn at inOffset to fdOut at outOffset inside the
// kernel (copy_file_range: no pass through this process, and file systems
// that share blocks may share them), through a bounded buffer where the
// kernel cannot. With destZeroed (the destination range already reads as
// zeros, as in a file just extended), holes of the source are not copied, so
// a sparse file stays sparse. Returns the bytes copied (holes included),
// fewer only when fdIn ends first. Counts as a read and a write for fault
// injection.
ssize_t copyRange(int fdIn, off_t inOffset, int fdOut, off_t outOffset, size_t count,
                  bool destZeroed = false);
int fsync(int fd);
int fdatasync(int fd);
// Renames without replacing an existing target (RENAME_NOREPLACE).
int renameNoReplace(int olddirfd, const char* oldname, int newdirfd, const char* newname);
int renameat(int olddirfd, const char* oldname, int newdirfd, const char* newname);
// Swaps two existing names atomically (RENAME_EXCHANGE), so a replaced file
// stays reachable until the replacement is known to be complete.
int renameExchange(int olddirfd, const char* oldname, int newdirfd, const char* newname);
// Hard link (never replaces an existing name).
int linkat(int olddirfd, const char* oldname, int newdirfd, const char* newname, int flags);
int ftruncate(int fd, off_t length);
int unlinkat(int dirfd, const char* name, int flags);
ssize_t fgetxattr(int fd, const char* name, void* value, size_t size);
// Lists attribute names; counts as a GetXattr call for fault injection.
ssize_t flistxattr(int fd, char* list, size_t size);
int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags);
int fremovexattr(int fd, const char* name);
int close(int fd);

}  // namespace sysio
