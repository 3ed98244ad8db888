// A meter on the broker, for the Run View: the readings it publishes, live, in order, each once
// (repeats dropped by run and index), and its status; for a lab (a prefix ending in '+'), each
// meter's apart. Messages come on libmosquitto's thread and are handed to this object's thread.
#pragma once

#include "publish/BrokerReadings.h"

#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zelvox {

// Reads url (mqtt://[USER@]HOST[:PORT]/PREFIX, PREFIX may end in '+') into target, with the
// password and TLS files as the publisher takes them. False with *error.
bool ParseViewUrl(const std::string& url, const std::string& passwordFile, const std::string& caFile,
                  const std::string& certFile, const std::string& keyFile, MqttTarget& target,
                  std::string* error);

class RunBrokerFeed : public QObject {
    Q_OBJECT
public:
    explicit RunBrokerFeed(MqttTarget target, QObject* parent = nullptr);
    ~RunBrokerFeed() override;

    // False with *error when the client cannot be made.
    bool Start(std::string* error);

signals:
    // New rows of meter (its topic prefix), run numbered per meter from 0 in order of arrival.
    void rowsRead(const QString& meter, const std::vector<zelvox::JournalRow>& rows, qint64 run);
    void statusChanged(const QString& meter, const QString& status);
    // A rule of meter went firing or ok (its retained state, each once).
    void eventRead(const QString& meter, const zelvox::EventRow& event);
    void linkChanged(const QString& text);

private:
    struct Meter {
        std::map<std::string, std::pair<qint64, std::int64_t>> runs; // run id: number, last index
    };
    void Take(const std::string& meter, const JournalRow& row, const std::string& run);

    std::map<std::string, Meter> meters_;
    std::unique_ptr<BrokerReadings> broker_;
};

} // namespace zelvox
