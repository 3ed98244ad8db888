#include "panes/RunJournalFeed.h"

#include "record/JournalFolder.h"

#include <QFileInfo>

namespace zelvox {

RunJournalFeed::RunJournalFeed(const QStringList& paths, QObject* parent)
    : QObject(parent), files_(JournalFiles(paths)) {}

RunJournalFeed::~RunJournalFeed() {
    delete load_; // cancels the read and waits for its thread
}

QStringList RunJournalFeed::JournalFiles(const QStringList& paths) {
    QStringList files;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            // The folder's journals, oldest first: one run after another on one time axis.
            const std::vector<std::string> newestFirst = JournalsNewestFirst(path.toStdString());
            for (auto it = newestFirst.rbegin(); it != newestFirst.rend(); ++it)
                files << QString::fromStdString(*it);
        } else {
            files << path; // the reader says why anything else cannot be read
        }
    }
    return files;
}

void RunJournalFeed::Start() {
    Next();
}

void RunJournalFeed::Next() {
    if (load_) {
        load_->deleteLater();
        load_ = nullptr;
    }
    if (++at_ >= files_.size()) {
        QString report = QStringLiteral("Read %1 rows from %2 file%3")
                             .arg(rows_)
                             .arg(files_.size())
                             .arg(files_.size() == 1 ? QString() : QStringLiteral("s"));
        if (!problems_.isEmpty())
            report += QStringLiteral("; ") + problems_.join(QStringLiteral("; "));
        emit finished(report);
        return;
    }
    const QString path = files_[at_];
    const qint64 run = at_;
    load_ = new JournalLoad(path);
    connect(load_, &JournalLoad::rowsRead, this, [this, run](const std::vector<JournalRow>& rows) {
        rows_ += static_cast<std::int64_t>(rows.size());
        emit rowsRead(rows, run);
    });
    connect(load_, &JournalLoad::progress, this, [this, path](int percent) {
        emit progress(QStringLiteral("Reading %1 (%2 of %3): %4%")
                          .arg(QFileInfo(path).fileName())
                          .arg(at_ + 1)
                          .arg(files_.size())
                          .arg(percent));
    });
    connect(load_, &JournalLoad::finished, this, [this, path](const JournalReport& report) {
        if (!report.ok || report.damaged > 0 || report.cutLastLine)
            problems_ << report.Summary(path);
        Next();
    });
    load_->Start();
}

} // namespace zelvox
