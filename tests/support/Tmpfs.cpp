#include "support/Tmpfs.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace zelvox::testing {

namespace {

QString FillerIn(const QString& dir) {
    return dir + QStringLiteral("/filler");
}

} // namespace

Tmpfs::Tmpfs(const QString& dir, const QString& size) : dir_(dir) {
    QDir().mkpath(dir_);
    mounted_ = QProcess::execute(QStringLiteral("mount"),
                                 {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                  QStringLiteral("size=") + size, QStringLiteral("tmpfs"), dir_}) == 0;
}

Tmpfs::~Tmpfs() {
    if (mounted_)
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), dir_});
}

bool Tmpfs::Fill() {
    QFile filler(FillerIn(dir_));
    if (!filler.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    return true;
}

bool Tmpfs::Free() {
    return QFile::remove(FillerIn(dir_));
}

} // namespace zelvox::testing
