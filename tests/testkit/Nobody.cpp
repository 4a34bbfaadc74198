#include "testkit/Nobody.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace testsupport {

int runAsNobody(const std::function<int()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return -100001;
    pid_t pid = ::fork();
    if (pid < 0) return -100002;
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(30);  // a child stuck for 30 s is ended and counts as hung
        int result = -100003;
        if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
            ::setresuid(65534, 65534, 65534) == 0 && ::geteuid() == 65534)
            result = body();
        (void)!::write(fds[1], &result, sizeof result);
        ::_exit(0);
    }
    ::close(fds[1]);
    int status, result = -100004;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // A child that crashed or hung wrote nothing.
    if (::read(fds[0], &result, sizeof result) != sizeof result) result = -100004;
    ::close(fds[0]);
    return result;
}

}  // namespace testsupport
