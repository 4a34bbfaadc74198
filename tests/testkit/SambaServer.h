// A private smbd for interoperability tests: it serves one folder as
// //127.0.0.1/share on a port of its own, with the share options a test
// gives (vfs objects, fruit settings), and smbclient talks to it. Its state
// lives in the test's temporary tree; it stops with the object.
#pragma once

#include <sys/types.h>

#include <string>

namespace testsupport {

class CSambaServer {
public:
    // Serves `share`; `shareOptions` are lines added to the share's section.
    // State, logs and the configuration go below `workDir`.
    CSambaServer(const std::string& workDir, const std::string& share,
                 const std::string& shareOptions);
    ~CSambaServer();
    CSambaServer(const CSambaServer&) = delete;
    CSambaServer& operator=(const CSambaServer&) = delete;

    // True once smbd answers; false when it could not start.
    bool up() const { return up_; }
    // Runs smbclient's `commands` (separated by ';') on the share, as a guest,
    // and returns its output.
    std::string client(const std::string& commands) const;

    // True where smbd and smbclient are installed (the Debian packages samba,
    // samba-vfs-modules and smbclient).
    static bool available();

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool up_ = false;
};

}  // namespace testsupport
