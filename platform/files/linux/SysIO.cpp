#include "platform/files/linux/SysIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace sysio {

namespace {
FaultHook gHook = nullptr;

bool injected(Call call) {
    if (!gHook) return false;
    int err = gHook(call);
    if (err == 0) return false;
    errno = err;
    return true;
}
}  // namespace

void setFaultHook(FaultHook hook) {
    gHook = hook;
}

int openat(int dirfd, const char* name, int flags, mode_t mode) {
    if (injected(Call::Open)) return -1;
    int fd;
    do fd = ::openat(dirfd, name, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    if (injected(Call::Read)) return -1;
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd, static_cast<char*>(buf) + done, count - done, offset + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += size_t(n);
    }
    return ssize_t(done);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    if (injected(Call::Write)) return -1;
    size_t done = 0;
    while (done < count) {
        ssize_t n =
            ::pwrite(fd, static_cast<const char*>(buf) + done, count - done, offset + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) {
            errno = EIO;
            return -1;
        }
        done += size_t(n);
    }
    return ssize_t(done);
}

namespace {

// Copies [from, from + count) of fdIn to the same place shifted by
// `shift` in fdOut; the number of bytes copied, fewer when fdIn ends first.
ssize_t copyData(int fdIn, off_t from, int fdOut, off_t shift, size_t count, bool* inKernel,
                 std::vector<char>* buffer) {
    size_t done = 0;
    while (done < count) {
        const size_t want = count - done;
        ssize_t n;
        if (*inKernel) {
            loff_t in = from + off_t(done), out = from + off_t(done) + shift;
            n = ::copy_file_range(fdIn, &in, fdOut, &out, want, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                          errno == EOPNOTSUPP || errno == ETXTBSY)) {
                *inKernel = false;  // not between these files: copy through a buffer
                continue;
            }
        } else {
            if (buffer->empty()) buffer->resize(size_t(1) << 20);
            n = ::pread(fdIn, buffer->data(), std::min(want, buffer->size()), from + off_t(done));
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w = ::pwrite(fdOut, buffer->data() + written, size_t(n - written),
                                           from + off_t(done) + shift + written);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) {
                    if (w == 0) errno = EIO;
                    return -1;
                }
                written += w;
            }
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;  // the source ended
        done += size_t(n);
    }
    return ssize_t(done);
}

}  // namespace

ssize_t copyRange(int fdIn, off_t inOffset, int fdOut, off_t outOffset, size_t count,
                  bool destZeroed) {
    if (injected(Call::Read) || injected(Call::Write)) return -1;
    bool inKernel = true;
    std::vector<char> buffer;
    const off_t shift = outOffset - inOffset;
    const off_t end = inOffset + off_t(count);
    // A small copy has no holes worth looking for.
    constexpr size_t kLookForHoles = size_t(1) << 20;
    if (!destZeroed || count < kLookForHoles)
        return copyData(fdIn, inOffset, fdOut, shift, count, &inKernel, &buffer);
    // Only the extents that hold data; the holes between them stay zeros.
    struct stat st;
    if (::fstat(fdIn, &st) != 0) return -1;
    const off_t last = std::min<off_t>(end, st.st_size);
    for (off_t at = inOffset; at < last;) {
        const off_t data = ::lseek(fdIn, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO) break;  // a hole to the end
        if (data < 0) {
            // The file system cannot tell its holes: copy the rest whole.
            const ssize_t n =
                copyData(fdIn, at, fdOut, shift, size_t(last - at), &inKernel, &buffer);
            return n < 0 ? -1 : ssize_t(at + n - inOffset);
        }
        if (data >= last) break;
        off_t hole = ::lseek(fdIn, data, SEEK_HOLE);
        if (hole < 0 || hole > last) hole = last;
        const ssize_t n =
            copyData(fdIn, data, fdOut, shift, size_t(hole - data), &inKernel, &buffer);
        if (n < 0) return -1;
        if (n < hole - data) return ssize_t(data + n - inOffset);
        at = hole;
    }
    return ssize_t(last - inOffset);
}

int fsync(int fd) {
    if (injected(Call::Sync)) return -1;
    return ::fsync(fd);
}

int fdatasync(int fd) {
    if (injected(Call::Sync)) return -1;
    return ::fdatasync(fd);
}

int renameNoReplace(int olddirfd, const char* oldname, int newdirfd, const char* newname) {
    if (injected(Call::Rename)) return -1;
    return ::renameat2(olddirfd, oldname, newdirfd, newname, RENAME_NOREPLACE);
}

int renameat(int olddirfd, const char* oldname, int newdirfd, const char* newname) {
    if (injected(Call::Rename)) return -1;
    return ::renameat(olddirfd, oldname, newdirfd, newname);
}

int renameExchange(int olddirfd, const char* oldname, int newdirfd, const char* newname) {
    if (injected(Call::Rename)) return -1;
    return ::renameat2(olddirfd, oldname, newdirfd, newname, RENAME_EXCHANGE);
}

int linkat(int olddirfd, const char* oldname, int newdirfd, const char* newname, int flags) {
    if (injected(Call::Link)) return -1;
    return ::linkat(olddirfd, oldname, newdirfd, newname, flags);
}

int ftruncate(int fd, off_t length) {
    if (injected(Call::Truncate)) return -1;
    return ::ftruncate(fd, length);
}

int unlinkat(int dirfd, const char* name, int flags) {
    if (injected(Call::Unlink)) return -1;
    return ::unlinkat(dirfd, name, flags);
}

ssize_t fgetxattr(int fd, const char* name, void* value, size_t size) {
    if (injected(Call::GetXattr)) return -1;
    return ::fgetxattr(fd, name, value, size);
}

ssize_t flistxattr(int fd, char* list, size_t size) {
    if (injected(Call::GetXattr)) return -1;
    return ::flistxattr(fd, list, size);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
    if (injected(Call::SetXattr)) return -1;
    return ::fsetxattr(fd, name, value, size, flags);
}

int fremovexattr(int fd, const char* name) {
    if (injected(Call::RemoveXattr)) return -1;
    return ::fremovexattr(fd, name);
}

int close(int fd) {
    return ::close(fd);
}

}  // namespace sysio
