// What `zelvox --view` (or Open) names, told apart into sources shown side by side: a label the
// user gave (LABEL=PATH), else what the files are. A meter's journals (their names are instants)
// are one source per folder; a port's log and its rotated files are one source named by the
// port; any other file is a source named by its name without its extensions.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace zelvox {

struct RunSourceGroup {
    QString name;
    QStringList paths; // in the order given (the reader sorts rotated logs)
};

// The groups in the order their first path came. A folder stays one source (so that the reader
// names what it skipped) unless it holds the logs of several ports: then one source a port, and
// one for its journals.
std::vector<RunSourceGroup> GroupRunSources(const QStringList& arguments);

// "ttyUSB0" for ttyUSB0.log, ttyUSB0.log.1 and ttyUSB0.log.2.gz; "bench1" for bench1.csv.
QString SourceNameOf(const QString& path);

} // namespace zelvox
