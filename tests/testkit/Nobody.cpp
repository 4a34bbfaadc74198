#include "testkit/Nobody.h"

#include <grp.h>
#include <signal.h>
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
        int result = -100003;
        if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
            ::setresuid(65534, 65534, 65534) == 0 && ::geteuid() == 65534)
            result = body();
        (void)!::write(fds[1], &result, sizeof result);
        ::_exit(0);
    }
    ::close(fds[1]);
    // A child stuck for 30 s counts as hung.
    for (int waited = 0; waited < 3000; ++waited) {
        int status;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) break;
        if (waited == 2999) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ::close(fds[0]);
            return -100004;
        }
        ::usleep(10000);
    }
    int result = -100005;
    if (::read(fds[0], &result, sizeof result) != sizeof result) result = -100005;
    ::close(fds[0]);
    return result;
}

}  // namespace testsupport
