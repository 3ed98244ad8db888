// A small tmpfs mounted over a folder for one test: a disk that fills up on demand. Mounting
// needs root (or a container that allows it); a test skips itself where it is not allowed.
#pragma once

#include <QString>

namespace zelvox::testing {

class Tmpfs {
public:
    // Mounts a tmpfs of size ("64k", "1m") on dir, made when missing.
    Tmpfs(const QString& dir, const QString& size);
    ~Tmpfs(); // unmounts lazily: a program may still hold files there
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;

    bool Mounted() const { return mounted_; }
    // Fills it up with one file, up to the last block (false when the file cannot be made);
    // Free removes that file again.
    bool Fill();
    bool Free();

private:
    QString dir_;
    bool mounted_ = false;
};

} // namespace zelvox::testing
