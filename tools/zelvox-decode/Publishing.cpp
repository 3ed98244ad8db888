#include "Publishing.h"

#include "DecodeOptions.h"
#include "journal/Journal.h"
#include "journal/JournalLoader.h"
#include "journal/RecordKeeper.h"
#include "publish/Publisher.h"
#include "record/EventsFile.h"
#include "record/JournalFolder.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zelvox {

const char* const kPublishingUsage =
    "  --mqtt URL     with --port: also publish every line to an MQTT broker at QoS 1,\n"
    "                 URL mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://... (TLS);\n"
    "                 topics PREFIX/reading (JSON: the jsonl fields, run and index)\n"
    "                 and PREFIX/status (retained online/offline). Each line goes\n"
    "                 into a journal first and is sent from there, so none is lost\n"
    "                 while the broker is away or after this program is killed\n"
    "  --mqtt-password-file FILE  the password (first line of FILE); without it,\n"
    "                             the environment variable ZELVOX_MQTT_PASSWORD\n"
    "  --mqtt-cafile FILE         the CA that signed the broker's certificate\n"
    "  --mqtt-cert FILE, --mqtt-key FILE  a client certificate and its key\n"
    "  --mqtt-client-id ID        default zelvox-HOST-PORT\n"
    "  --mqtt-discovery           Home Assistant discovery configs (retained)\n"
    "  --journal-dir DIR          the journal's folder (default: $STATE_DIRECTORY\n"
    "                             under systemd, else one per port under\n"
    "                             $XDG_STATE_HOME/zelvox/decode)\n"
    "  --keep-days N, --keep-mb N the journal's retention: a journal the broker has\n"
    "                             acknowledged goes once it is N days old or the\n"
    "                             folder is over N MB (default 30 days, 100 MB)\n";

DecodePublishing::DecodePublishing() = default;

DecodePublishing::~DecodePublishing() {
    Stop();
}

std::string LoggerJournalDir(const std::string& journalDir, const std::string& portName) {
    QString dir = QString::fromStdString(journalDir);
    // A service of systemd's with a StateDirectory= keeps its journal there.
    const QString stateDirectory = qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    if (dir.isEmpty() && QDir::isAbsolutePath(stateDirectory))
        dir = stateDirectory;
    if (dir.isEmpty() && !DefaultJournalDir().isEmpty()) {
        // A folder per port: the journals there are all for publishing.
        std::string port = portName.starts_with("/dev/") ? portName.substr(5) : portName;
        for (char& c : port)
            if (c == '/')
                c = '-';
        dir =
            QFileInfo(DefaultJournalDir()).path() + QStringLiteral("/decode/") + QString::fromStdString(port);
    }
    return dir.toStdString();
}

int WriteNote(const std::string& text, const std::string& journalDir, const std::string& portName) {
    const std::string dir = LoggerJournalDir(journalDir, portName);
    const std::string kept = NoteText(text);
    if (kept.empty()) {
        SayStartFailure("--note needs a text");
        return 2;
    }
    // The running logger's journal: the newest one whose run is open and that a live program
    // holds (its writer's lock). The logger's own rows and this one are each one O_APPEND write:
    // neither can cut into the other, and the logger needs no door of its own to be told.
    for (const std::string& journal : JournalsNewestFirst(dir)) {
        if (!QFileInfo::exists(QString::fromStdString(OpenMarkerPath(journal))) ||
            !HeldByAnotherProgram(journal))
            continue;
        const std::int64_t next = LargestIndexInTail(QString::fromStdString(journal)) + 1;
        int error = 0;
        if (!AppendEventRow(journal, NoteRow(WallTimeNow(), next, kept), &error)) {
            std::fprintf(stderr, "zelvox-decode: note not written beside %s: %s\n", journal.c_str(),
                         std::strerror(error));
            return 1;
        }
        std::fprintf(stderr, "zelvox-decode: note written in %s\n", EventsFilePath(journal).c_str());
        return 0;
    }
    SayStartFailure("--note: no running logger keeps a journal in " + dir +
                    " (the logger keeps one with --mqtt; name its folder with --journal-dir)");
    return 2;
}

bool DecodePublishing::Start(const PublishingOptions& o, const std::string& portName, RecordKeeper& keeper,
                             std::string* error) {
    PublisherOptions p;
    std::string warning;
    if (!MakePublisherOptions(o, portName, &p, error, &warning))
        return false;
    if (!warning.empty())
        std::fprintf(stderr, "zelvox-decode: warning: %s\n", warning.c_str());
    p.journalDir = LoggerJournalDir(o.journalDir, portName);
    const QString dir = QString::fromStdString(p.journalDir);
    p.adoptUnmarked = true;

    // Old journals are pruned as the program's are, but one with rows for this broker stays.
    // The journal is the broker's outbox here (the log holds the readings): kept like the log
    // (30 days), bounded in size, in files of a tenth of it, pruned while running.
    PruneRules rules;
    rules.publishingTo = p.target.Name();
    rules.adoptUnmarked = true;
    rules.keepDays = kKeepDays;
    rules.keepBytes = kKeepBytes;
    if (!SetKeepOption("keep-days", o.keepDays, rules, error) ||
        !SetKeepOption("keep-mb", o.keepMb, rules, error))
        return false;
    rules.splitBytes = std::max<std::uint64_t>(rules.keepBytes / 10, 64 * 1024);
    journal_ = std::make_unique<Journal>(dir);
    keeper.KeepJournal(journal_.get());
    // From the sync thread, which has no event loop of its own to go through.
    QObject::connect(
        journal_.get(), &Journal::prunedWhileRunning, journal_.get(),
        [](const QString& notice) {
            for (const QString& line : notice.split(QLatin1Char('\n')))
                std::fprintf(stderr, "zelvox-decode: %s\n", line.toLocal8Bit().constData());
        },
        Qt::DirectConnection);
    const JournalStartup startup = journal_->Start(rules);
    for (const QString& notice : startup.Notices())
        std::fprintf(stderr, "zelvox-decode: %s\n", notice.toLocal8Bit().constData());
    if (!startup.ok) {
        *error = "cannot keep the journal: " + startup.error.toStdString();
        return false;
    }
    publisher_ = std::make_unique<Publisher>(p);
    publisher_->OnStatus([last = PublisherStatus{}](const PublisherStatus& s) mutable {
        if (s.notice != last.notice && !s.notice.empty())
            std::fprintf(stderr, "zelvox-decode: %s\n", s.notice.c_str());
        // The state, not every change of the counters.
        const bool same =
            s.state == last.state && s.detail == last.detail && s.journalOff == last.journalOff &&
            (s.memoryDropped > 0) == (last.memoryDropped > 0) && s.retrySeconds == last.retrySeconds;
        last = s;
        if (!same)
            std::fprintf(stderr, "zelvox-decode: %s\n", DescribeStatus(s).c_str());
    });
    std::fprintf(stderr, "zelvox-decode: publishing to %s as %s, journal in %s\n", p.target.Name().c_str(),
                 p.clientId.c_str(), p.journalDir.c_str());
    if (!publisher_->Start(error))
        return false;
    keeper.KeepPublisher(publisher_.get());
    options_ = std::make_unique<PublisherOptions>(p);
    return true;
}

void DecodePublishing::Stop() {
    if (journal_)
        journal_->Close();
    if (publisher_)
        publisher_->Stop();
}

} // namespace zelvox
