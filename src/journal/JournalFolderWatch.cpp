#include "journal/JournalFolderWatch.h"

#include "journal/JournalLoader.h"
#include "record/RowCodec.h"

#include <QDir>
#include <QFile>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvox {

namespace {

std::optional<std::pair<quint64, quint64>> IdentityOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return std::pair<quint64, quint64>{st.st_dev, st.st_ino};
}

enum class FirstLine { kHeader, kOther, kNotYet };

// The file's first line, once it is written whole.
FirstLine ReadFirstLine(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return FirstLine::kNotYet;
    char head[kMaxRowBytes + 8];
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    if (got <= 0)
        return FirstLine::kNotYet;
    if (got >= 2 && static_cast<unsigned char>(head[0]) == 0x1f &&
        static_cast<unsigned char>(head[1]) == 0x8b)
        return FirstLine::kOther; // gzip: a packed older log
    const std::string_view text(head, static_cast<std::size_t>(got));
    const std::size_t lf = text.find('\n');
    if (lf == std::string_view::npos)
        return static_cast<std::size_t>(got) == sizeof head ? FirstLine::kOther : FirstLine::kNotYet;
    JournalRow row;
    return ReadJournalLine(text.substr(0, lf), row) == LineKind::Header ? FirstLine::kHeader
                                                                        : FirstLine::kOther;
}

} // namespace

JournalFolderWatch::JournalFolderWatch(const QStringList& folders, const QStringList& seen, QObject* parent)
    : QObject(parent) {
    for (const QString& path : seen)
        Know(path);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &JournalFolderWatch::Scan);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &JournalFolderWatch::Consider);
    watcher_.addPaths(folders);
    for (const QString& folder : folders)
        Scan(folder);
}

void JournalFolderWatch::SetFollowed(const QString& path) {
    followed_ = path;
    Know(path);
}

void JournalFolderWatch::Know(const QString& path) {
    if (const auto id = IdentityOf(path))
        known_.insert(*id);
}

void JournalFolderWatch::Scan(const QString& folder) {
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::System, QDir::Name)) {
        const QString path = dir.filePath(name);
        if (path == followed_) {
            Know(path); // the follower takes up the file that takes the name
            continue;
        }
        if (!waiting_.contains(path))
            Consider(path);
    }
}

void JournalFolderWatch::Consider(const QString& path) {
    const auto id = IdentityOf(path);
    if (!id || known_.contains(*id)) {
        if (waiting_.remove(path))
            watcher_.removePath(path);
        return;
    }
    const FirstLine line = path.endsWith(QLatin1String(".gz")) ? FirstLine::kOther : ReadFirstLine(path);
    if (line == FirstLine::kNotYet) {
        if (!waiting_.contains(path)) {
            waiting_.insert(path);
            watcher_.addPath(path);
        }
        return;
    }
    known_.insert(*id);
    if (waiting_.remove(path))
        watcher_.removePath(path);
    if (line == FirstLine::kHeader)
        emit appeared(path);
}

} // namespace zelvox
