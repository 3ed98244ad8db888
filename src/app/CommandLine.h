// The desktop program's command line: its options, how they are read and the help text.
#pragma once

#include "alarm/AlarmOptions.h"
#include "publish/PublishingOptions.h"
#include "record/JournalFolder.h"

#include <QString>
#include <QStringList>

namespace zelvox {

struct CommandLine {
    bool demo = false; // start the built-in simulated meter and choose its port
    QString port;      // choose this port at start-up (short name under /dev or a path)
    bool help = false;
    bool version = false;
    bool journal = true;          // keep the readings journal (--no-journal turns it off)
    QString journalDir;           // the journal's folder instead of the default one
    QString load;                 // a journal whose rows fill the table at start-up
    PruneRules keep;              // the journal's retention (--keep-days, --keep-mb)
    PublishingOptions publishing; // --mqtt URL and its companions
    AlarmOptions alarms;          // --alarm, --alarms, --alarm-exec
    QStringList view;             // --view PATH...: only the Run View of these journals
    bool power = false;           // --power: with --view, the power lane of a voltage and a current
    QString error;                // set when the arguments could not be understood
    bool otherOptions = false;    // with error: options not ours, which may be Qt's
};

// Reads the program's options from a command line (program name first). Needs no application
// object, so --help, --version and mistakes are answered without a display; a command line with
// options not ours is read again once QApplication has taken Qt's (-platform NAME, -reverse...).
CommandLine ParseCommandLine(const QStringList& arguments);
QString CommandLineHelp();

} // namespace zelvox
