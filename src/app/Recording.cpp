#include "app/Recording.h"

#include "app/MainWindow.h"
#include "journal/AlarmKeeper.h"
#include "journal/Journal.h"
#include "journal/JournalLoader.h"
#include "journal/RecordKeeper.h"
#include "record/EventsFile.h"
#include "record/JournalFolder.h"
#include "session/MeterSession.h"
#include "session/ReadingsModel.h"

#include <QFileInfo>

namespace zelvox {

Recording::Recording(MainWindow& window, QObject* parent) : QObject(parent), window_(&window) {
    // The keeper's notices start in lower case, as the logger writes them after its name.
    window.Session().Keeper().OnNotice([this](const QString& text) {
        if (window_)
            window_->PostNotice(text.left(1).toUpper() + text.mid(1));
    });
    connect(&window, &QObject::destroyed, this, &Recording::WindowClosed);
}

Recording::~Recording() {
    WindowClosed();
}

void Recording::WindowClosed() {
    // The run ends cleanly: its rows are on disk before the program goes.
    if (journal_)
        journal_->Close();
    if (publisher_)
        publisher_->RequestStop(std::chrono::seconds(1));
}

bool Recording::Start(const QString& dir, const QString& loading, const PruneRules& keep,
                      const PublisherOptions* publishTo) {
    journal_ = std::make_unique<Journal>(dir);
    Journal* journal = journal_.get();
    const QString loaded = loading.isEmpty() ? QString() : QFileInfo(loading).canonicalFilePath();
    PruneRules rules = keep;
    // The file being loaded stays; so do rows the broker this run publishes to has not had.
    rules.keep = [loaded](const std::string& path) {
        return !loaded.isEmpty() && QFileInfo(QString::fromStdString(path)).canonicalFilePath() == loaded;
    };
    if (publishTo)
        rules.publishingTo = publishTo->target.Name();
    MeterSession& session = window_->Session();
    session.Keeper().KeepJournal(journal);
    if (AlarmKeeper* alarms = session.Alarms())
        alarms->KeepJournal(journal);
    const JournalStartup startup = journal->Start(rules);
    for (const QString& notice : startup.Notices())
        window_->PostNotice(notice);
    connect(&session, &MeterSession::dataReset, journal, &Journal::NewRun);
    connect(&session, &MeterSession::stopped, journal, &Journal::Sync);
    if (publishTo && startup.ok)
        StartPublisher(*publishTo, dir);
    else if (publishTo)
        window_->PostNotice(
            QStringLiteral("Publishing off: the publisher sends from the journal, which is off"));
    return startup.ok;
}

void Recording::StartPublisher(const PublisherOptions& given, const QString& journalDir) {
    PublisherOptions options = given;
    options.journalDir = journalDir.toStdString();
    publisher_ = std::make_unique<Publisher>(options);
    // The broker's state and backlog, pushed by the publisher's thread as they change, shown in
    // the progress pane on this one; an export holding the pane gets it when it is done.
    publisher_->OnStatus([this, said = std::string()](const PublisherStatus& status) mutable {
        const QString text = QString::fromStdString(DescribeStatus(status));
        // What the publisher says once (a sidecar it could not trust) becomes a notice.
        QString notice;
        if (status.notice != said && !status.notice.empty())
            notice = QString::fromStdString(status.notice);
        said = status.notice;
        QMetaObject::invokeMethod(
            this,
            [this, text, notice] {
                if (!window_)
                    return;
                if (!notice.isEmpty())
                    window_->PostNotice(QStringLiteral("Publishing: %1").arg(notice));
                publisherState_ = text;
                ShowPublisherState();
            },
            Qt::QueuedConnection);
    });
    std::string error;
    if (!publisher_->Start(&error)) {
        publisher_.reset();
        window_->PostNotice(QStringLiteral("Publishing off: %1").arg(QString::fromStdString(error)));
        return;
    }
    window_->Session().Keeper().KeepPublisher(publisher_.get());
    if (AlarmKeeper* alarms = window_->Session().Alarms())
        alarms->KeepPublisher(publisher_.get(), options);
}

void Recording::ShowPublisherState() {
    if (!window_ || publisherState_.isEmpty() || window_->Session().Paused())
        return;
    window_->SetStatusText(kProgressPane, publisherState_);
    publisherState_.clear();
}

void Recording::Load(const QString& path) {
    // A child of the window: closing the window cancels the load and waits for its thread.
    MainWindow* window = window_;
    auto* load = new JournalLoad(path, window);
    MeterSession& session = window->Session();
    // New readings take Indices after the file's: none is handed out twice.
    session.BeginLoad(LargestIndexInTail(path));
    connect(load, &JournalLoad::rowsRead, window,
            [&session](const std::vector<JournalRow>& rows) { session.AddLoadedRows(rows); });
    connect(load, &JournalLoad::progress, window, [window, path](int percent) {
        window->SetStatusText(kProgressPane, QStringLiteral("Loading %1: %2%").arg(path).arg(percent));
    });
    // RESET empties the table: the rest of the file is not wanted.
    connect(&session, &MeterSession::dataReset, load, &JournalLoad::Cancel);
    connect(load, &JournalLoad::finished, window, [window, load, path](const JournalReport& report) {
        const std::int64_t leftOut = window->Session().EndLoad();
        if (report.cancelled) {
            window->PostNotice(QStringLiteral("Load of %1 stopped by RESET").arg(path));
        } else {
            if (report.ok)
                ForgetInterrupted(QFileInfo(path).absoluteFilePath().toStdString());
            // The alarm events and notes beside the journal go to the live Run View with its rows.
            std::uint64_t damaged = 0;
            window->Session().Keeper().KeepLoadedEvents(ReadEventsFile(path.toStdString(), &damaged));
            QString text = report.Summary(path);
            if (leftOut > 0)
                text +=
                    QStringLiteral("; %1 of them left out: readings taken during the load have their Index")
                        .arg(leftOut);
            window->PostNotice(text);
        }
        load->deleteLater();
    });
    load->Start();
}

QString Recording::JournalFile() const {
    return journal_ ? journal_->CurrentFile() : QString();
}

} // namespace zelvox
