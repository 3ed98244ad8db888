#include "panes/RunBrokerFeed.h"

namespace zelvox {

bool ParseViewUrl(const std::string& url, const std::string& passwordFile, const std::string& caFile,
                  const std::string& certFile, const std::string& keyFile, MqttTarget& target,
                  std::string* error) {
    // A lab's prefix ends in the wildcard, which a publisher's may not hold: checked as a
    // publisher's with a placeholder level, then put back.
    const bool lab = url.ends_with("/+");
    if (!ParseMqttUrl(lab ? url.substr(0, url.size() - 1) + "meter" : url, target, error))
        return false;
    if (lab)
        target.prefix.replace(target.prefix.size() - 5, 5, "+");
    target.caFile = caFile;
    target.certFile = certFile;
    target.keyFile = keyFile;
    return CompleteMqttTarget(target, passwordFile, error);
}

RunBrokerFeed::RunBrokerFeed(MqttTarget target, QObject* parent) : QObject(parent) {
    BrokerReadings::Callbacks callbacks;
    // Each callback runs on libmosquitto's thread; the broker is joined before this object goes.
    callbacks.reading = [this](const std::string& meter, const JournalRow& row, const std::string& run) {
        QMetaObject::invokeMethod(
            this, [this, meter, row, run] { Take(meter, row, run); }, Qt::QueuedConnection);
    };
    callbacks.status = [this](const std::string& meter, const std::string& status) {
        QMetaObject::invokeMethod(
            this,
            [this, meter, status] {
                emit statusChanged(QString::fromStdString(meter), QString::fromStdString(status));
            },
            Qt::QueuedConnection);
    };
    callbacks.alarm = [this](const std::string& meter, const EventRow& event) {
        QMetaObject::invokeMethod(
            this, [this, meter, event] { emit eventRead(QString::fromStdString(meter), event); },
            Qt::QueuedConnection);
    };
    callbacks.link = [this](const std::string& text) {
        QMetaObject::invokeMethod(
            this, [this, text] { emit linkChanged(QString::fromStdString(text)); }, Qt::QueuedConnection);
    };
    broker_ = std::make_unique<BrokerReadings>(std::move(target), std::string(), std::move(callbacks));
}

RunBrokerFeed::~RunBrokerFeed() = default;

bool RunBrokerFeed::Start(std::string* error) {
    return broker_->Start(error);
}

void RunBrokerFeed::Take(const std::string& meter, const JournalRow& row, const std::string& run) {
    Meter& m = meters_[meter];
    auto it = m.runs.find(run);
    if (it == m.runs.end())
        it = m.runs.emplace(run, std::pair<qint64, std::int64_t>{static_cast<qint64>(m.runs.size()), -1})
                 .first;
    // QoS 1 and the publisher's resends after a reconnect bring rows again: each goes once.
    if (row.index <= it->second.second)
        return;
    it->second.second = row.index;
    emit rowsRead(QString::fromStdString(meter), {row}, it->second.first);
}

} // namespace zelvox
