#include "Publishing.h"

#include "journal/Journal.h"
#include "publish/Publisher.h"
#include "record/JournalFolder.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <unistd.h>

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

bool DecodePublishing::Start(const PublishingOptions& o, const std::string& portName, std::string* error) {
    PublisherOptions p;
    std::string warning;
    if (!MakePublisherOptions(o, portName, &p, error, &warning))
        return false;
    if (!warning.empty())
        std::fprintf(stderr, "zelvox-decode: warning: %s\n", warning.c_str());
    QString dir = QString::fromStdString(o.journalDir);
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
    p.journalDir = dir.toStdString();
    p.adoptUnmarked = true;

    dir_ = dir;
    rules_.publishingTo = p.target.Name();
    rules_.adoptUnmarked = true;
    // The journal is the broker's outbox here (the log holds the readings): kept like the log
    // (30 days), bounded in size, in files of a tenth of it, pruned while running.
    rules_.keepDays = kKeepDays;
    rules_.keepBytes = kKeepBytes;
    if (!SetKeepOption("keep-days", o.keepDays, rules_, error) ||
        !SetKeepOption("keep-mb", o.keepMb, rules_, error))
        return false;
    rules_.splitBytes = std::max<std::uint64_t>(rules_.keepBytes / 10, 64 * 1024);
    std::string why;
    if (!OpenJournal(true, &why)) {
        *error = "cannot keep the journal: " + why;
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
    return publisher_->Start(error);
}

bool DecodePublishing::OpenJournal(bool first, std::string* why) {
    auto journal = std::make_unique<Journal>(dir_);
    // Said at once, on this thread: a fault found by the sync thread comes with the next row.
    QObject::connect(journal.get(), &Journal::turnedOff, [this](const QString& reason) {
        std::fprintf(stderr, "zelvox-decode: journal off: %s\n", reason.toLocal8Bit().constData());
        journalOff_ = true;
        if (publisher_)
            publisher_->JournalState(JournalOffReason(reason).toStdString());
        // A new journal is tried with the next row, then every kJournalRetry while it fails.
        retryAt_ = std::chrono::steady_clock::now() + (reopening_ ? kJournalRetry : std::chrono::seconds(0));
    });
    // From the sync thread, which has no event loop of its own to go through.
    QObject::connect(
        journal.get(), &Journal::prunedWhileRunning, journal.get(),
        [](const QString& notice) {
            for (const QString& line : notice.split(QLatin1Char('\n')))
                std::fprintf(stderr, "zelvox-decode: %s\n", line.toLocal8Bit().constData());
        },
        Qt::DirectConnection);
    journalOff_ = false;
    // Old journals are pruned as the program's are, but one with rows for this broker stays.
    const JournalStartup startup = journal->Start(rules_);
    if (first)
        for (const QString& notice : startup.Notices())
            std::fprintf(stderr, "zelvox-decode: %s\n", notice.toLocal8Bit().constData());
    if (!startup.ok) {
        *why = startup.error.toStdString();
        return false;
    }
    journal_ = std::move(journal);
    return true;
}

void DecodePublishing::Record(const DispatchedReading& dispatched) {
    if (!journal_)
        return;
    if (!journalOff_)
        journal_->Append(dispatched);
    if (journalOff_ && std::chrono::steady_clock::now() >= retryAt_) {
        // The logger goes on in a new journal (the old file removed, a disk with room again);
        // the rows already written are still sent from the old one.
        std::string why;
        reopening_ = true;
        if (OpenJournal(false, &why)) {
            journal_->Append(dispatched);
            if (!journalOff_) {
                reopening_ = false;
                if (publisher_)
                    publisher_->JournalState({});
                std::fprintf(stderr, "zelvox-decode: journal: going on in %s\n",
                             journal_->CurrentFile().toLocal8Bit().constData());
            }
        }
    }
    if (!publisher_)
        return;
    if (journalOff_) {
        // Not in any journal: sent from memory, after what the journals hold.
        if (!publisher_->Held(dispatched) && !heldFullSaid_) {
            heldFullSaid_ = true;
            std::fprintf(stderr,
                         "zelvox-decode: %llu readings held in memory: later ones are lost until the "
                         "journal is back\n",
                         static_cast<unsigned long long>(Publisher::kHeldRows));
        }
        return;
    }
    heldFullSaid_ = false;
    const QString file = journal_->CurrentFile();
    if (!file.isEmpty())
        publisher_->Appended(file.toStdString());
}

void DecodePublishing::Stop() {
    if (journal_)
        journal_->Close();
    if (publisher_)
        publisher_->Stop();
}

} // namespace zelvox
