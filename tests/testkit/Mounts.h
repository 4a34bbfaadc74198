// A tmpfs mounted on a folder for the duration of a test. A test program that
// uses it runs in a mount namespace of its own, entered before main: nothing
// stays mounted on the machine when a test dies, and no other process sees
// it. Mounting needs root; ok() tells.
#pragma once

#include <string>

namespace testsupport {

class TmpfsMount {
public:
    // `options` as mount(8) takes them for tmpfs.
    explicit TmpfsMount(const std::string& at, const char* options = "size=4m");
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool ok() const { return ok_; }
    // Why mounting failed, for the message of a skipped test.
    const std::string& error() const { return error_; }

private:
    std::string at_;
    bool ok_ = false;
    std::string error_;
};

}  // namespace testsupport
