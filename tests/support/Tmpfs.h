// A small tmpfs mounted over a folder for one test: a disk that fills up on demand. Mounting
// needs root (or a container that allows it); a test skips itself where it is not allowed.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>

namespace zelvox::testing {

class Tmpfs {
public:
    // Mounts a tmpfs of size ("64k", "1m") on dir, made when missing.
    Tmpfs(const QString& dir, const QString& size) : dir_(dir) {
        QDir().mkpath(dir);
        mounted_ = QProcess::execute(QStringLiteral("mount"),
                                     {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                      QStringLiteral("size=") + size, QStringLiteral("tmpfs"), dir}) == 0;
    }
    // Unmounted lazily: a program may still hold files there.
    ~Tmpfs() {
        if (mounted_)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), dir_});
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;

    bool Mounted() const { return mounted_; }
    // Fills it up with one file, to the last block (false when the file cannot be made); Free
    // removes that file again.
    bool Fill() {
        QFile filler(dir_ + QStringLiteral("/filler"));
        const QByteArray block(4096, 'x');
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        return true;
    }
    bool Free() { return QFile::remove(dir_ + QStringLiteral("/filler")); }

private:
    QString dir_;
    bool mounted_ = false;
};

} // namespace zelvox::testing
