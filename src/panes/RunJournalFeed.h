// Reads journal files, and folders of them, into a Run View: one file after another on one time
// axis, each its own run, in the background through the same streaming reader as --load (its
// rules for damaged rows, cut last lines, huge lines and non-regular files), with progress and
// one report of what was left out at the end.
#pragma once

#include "journal/JournalLoader.h"

#include <QObject>
#include <QStringList>
#include <vector>

namespace zelvox {

class RunJournalFeed : public QObject {
    Q_OBJECT
public:
    // paths: journal files and folders (a folder's *.csv files are read in name order, which is
    // the order of their first rows).
    explicit RunJournalFeed(const QStringList& paths, QObject* parent = nullptr);
    ~RunJournalFeed() override;

    void Start();
    // The files the paths name, in reading order.
    static QStringList JournalFiles(const QStringList& paths);

signals:
    // Rows of the file numbered run (from 0), in file order.
    void rowsRead(const std::vector<zelvox::JournalRow>& rows, qint64 run);
    // "Reading NAME (2 of 5): 40%"
    void progress(const QString& text);
    // Once, after the last file: what was read and what was left out.
    void finished(const QString& report);

private:
    void Next();

    QStringList files_;
    int at_ = -1;
    JournalLoad* load_ = nullptr;
    std::int64_t rows_ = 0;
    QStringList problems_;
};

} // namespace zelvox
