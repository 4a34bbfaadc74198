#include "testkit/SambaServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

namespace testsupport {

// Runs a shell command and returns what it wrote to stdout and stderr.
static std::string runCommand(const std::string& command) {
    std::string out;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    return out;
}

bool CSambaServer::available() {
    return std::system("{ command -v smbd && command -v smbclient; } >/dev/null 2>&1") == 0;
}

CSambaServer::CSambaServer(const std::string& workDir, const std::string& share,
                           const std::string& shareOptions) {
    port_ = 40000 + int(std::random_device{}() % 20000);
    const std::string conf = workDir + "/smb.conf";
    std::ofstream out(conf);
    out << "[global]\n  server role = standalone server\n  map to guest = Bad User\n"
        << "  smb ports = " << port_ << "\n  interfaces = 127.0.0.1\n  bind interfaces only = yes\n"
        << "  log file = " << workDir << "/smbd.log\n"
        << "  load printers = no\n  disable spoolss = yes\n";
    for (const std::string key : {"pid directory", "lock directory", "state directory",
                                  "cache directory", "private dir", "ncalrpc dir"}) {
        const std::string dir = workDir + "/smb-" + key.substr(0, key.find(' '));
        ::mkdir(dir.c_str(), 0755);
        out << "  " << key << " = " << dir << "\n";
    }
    out << "[share]\n  path = " << share << "\n  read only = no\n  guest ok = yes\n"
        << "  force user = root\n"
        << shareOptions;
    out.close();
    pid_ = ::fork();
    if (pid_ < 0) return;
    if (pid_ == 0) {
        ::setsid();
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execlp("smbd", "smbd", "--foreground", "--no-process-group",
                 ("--configfile=" + conf).c_str(), (char*)nullptr);
        _exit(127);
    }
    // Waiting for a service to answer: the only wait here, and it ends as
    // soon as smbd lists the share.
    for (int i = 0; i < 100 && !up_; ++i) {
        up_ = client("ls").find("blocks available") != std::string::npos;
        if (!up_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

CSambaServer::~CSambaServer() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

std::string CSambaServer::client(const std::string& commands) const {
    return runCommand("smbclient -N -p " + std::to_string(port_) + " //127.0.0.1/share -c '" +
                      commands + "'");
}

}  // namespace testsupport
