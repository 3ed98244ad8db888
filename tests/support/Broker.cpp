#include "support/Broker.h"

#include "record/RowCodec.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <arpa/inet.h>
#include <csignal>
#include <map>
#include <mosquitto.h>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace zelvox::testing {

namespace {

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

} // namespace

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

Broker::Broker(const QString& dir, Options options) : dir_(dir), options_(std::move(options)) {
    port_ = FreeLoopbackPort();
}

Broker::~Broker() {
    Stop(SIGTERM);
}

bool Broker::Start(std::string* why) {
    const QString persistence = dir_ + QStringLiteral("/broker-data/");
    QDir().mkpath(persistence);
    QString config = QStringLiteral("listener %1 127.0.0.1\n"
                                    "persistence true\n"
                                    "persistence_location %2\n"
                                    "autosave_interval 1\n"
                                    // A subscriber away for a second would otherwise miss all
                                    // but the first 1000 readings queued for it.
                                    "max_queued_messages 0\n"
                                    // Each reading goes to the subscriber as it comes, not
                                    // after the first 20 in flight are acknowledged: a killed
                                    // broker then has little it acknowledged but did not pass on.
                                    "max_inflight_messages 0\n"
                                    "log_dest file %3\n")
                         .arg(port_)
                         .arg(persistence, dir_ + QStringLiteral("/mosquitto.log"));
    // Started as root, mosquitto would drop to its own user, who cannot read the test's files.
    if (::geteuid() == 0)
        config += QStringLiteral("user root\n");
    if (options_.passwordFile.isEmpty())
        config += QStringLiteral("allow_anonymous true\n");
    else
        config += QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(options_.passwordFile);
    if (!options_.certFile.isEmpty())
        config += QStringLiteral("certfile %1\nkeyfile %2\n").arg(options_.certFile, options_.keyFile);
    const QString path = dir_ + QStringLiteral("/mosquitto.conf");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(config.toUtf8());
    file.close();
    if (!mosquitto_.Start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), path})) {
        if (why)
            *why = "mosquitto did not start: cannot fork";
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && mosquitto_.Running()) {
        if (Accepts(port_))
            return true;
        QThread::msleep(20);
    }
    QFile log(dir_ + QStringLiteral("/mosquitto.log"));
    if (why)
        *why = "mosquitto did not take connections (install mosquitto, tools/deps.txt): " +
               mosquitto_.TakeErr().toStdString() +
               (log.open(QIODevice::ReadOnly) ? log.readAll().toStdString() : std::string());
    Stop(SIGKILL);
    return false;
}

void Broker::Stop(int signal) {
    if (!mosquitto_.Running())
        return;
    ::kill(mosquitto_.Pid(), signal);
    if (!mosquitto_.WaitForFinished(10000)) {
        ::kill(mosquitto_.Pid(), SIGKILL);
        mosquitto_.WaitForFinished(10000);
    }
}

Subscriber::Subscriber(int port, std::string clientId, std::string topic, std::string caFile)
    : port_(port), clientId_(std::move(clientId)), topic_(std::move(topic)), caFile_(std::move(caFile)) {
    mosquitto_lib_init();
    mosq_ = mosquitto_new(clientId_.c_str(), false, this);
    mosquitto_connect_callback_set(mosq_, &OnConnect);
    mosquitto_subscribe_callback_set(mosq_, &OnSubscribe);
    mosquitto_message_callback_set(mosq_, &OnMessage);
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    if (!caFile_.empty())
        mosquitto_tls_set(mosq_, caFile_.c_str(), nullptr, nullptr, nullptr, nullptr);
}

Subscriber::~Subscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
}

void Subscriber::Login(const std::string& user, const std::string& password) {
    mosquitto_username_pw_set(mosq_, user.c_str(), password.c_str());
}

void Subscriber::OnConnect(mosquitto* m, void* self, int rc) {
    if (rc == 0)
        mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->topic_.c_str(), 1);
}

void Subscriber::OnSubscribe(mosquitto*, void* self, int, int, const int*) {
    auto* s = static_cast<Subscriber*>(self);
    std::lock_guard lock(s->mutex_);
    s->subscribed_ = true;
    s->changed_.notify_all();
}

void Subscriber::OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto* s = static_cast<Subscriber*>(self);
    std::lock_guard lock(s->mutex_);
    s->messages_.emplace_back(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
    s->changed_.notify_all();
}

bool Subscriber::Start(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (mosquitto_connect(mosq_, "127.0.0.1", port_, 30) != MOSQ_ERR_SUCCESS) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
    mosquitto_loop_start(mosq_);
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())),
                             [&] { return subscribed_; });
}

std::vector<std::string> Subscriber::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

bool Subscriber::WaitFor(const std::function<bool(const std::vector<std::string>&)>& done, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done(messages_); });
}

std::string Delivery::Describe() const {
    return std::to_string(journalRows) + " journal rows, " + std::to_string(delivered) + " delivered (" +
           std::to_string(duplicates) + " duplicates), " + std::to_string(missing) + " missing, " +
           std::to_string(invented) + " invented, " + std::to_string(outOfOrder) + " out of order";
}

Delivery CountDelivery(const QString& journalDir, const std::vector<std::string>& messages) {
    // (run, index) -> the row's DateTime and Value texts.
    std::map<std::pair<std::string, long long>, std::pair<std::string, std::string>> rows;
    for (const QString& name : QDir(journalDir).entryList({QStringLiteral("*.csv")}, QDir::Files)) {
        QFile file(journalDir + QLatin1Char('/') + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = file.readAll();
        const std::string run = name.chopped(4).toStdString();
        const std::string_view all(text.constData(), static_cast<std::size_t>(text.size()));
        for (std::size_t at = 0, nl; (nl = all.find('\n', at)) != std::string_view::npos; at = nl + 1) {
            JournalRow row;
            if (ReadJournalLine(all.substr(at, nl - at), row) == LineKind::Row)
                rows[{run, row.index}] = {FormatIsoDateTime(row.at),
                                          MakeTableTexts(row.index, row.reading, row.at).value};
        }
    }
    Delivery d;
    d.journalRows = static_cast<int>(rows.size());
    std::set<std::pair<std::string, long long>> seen;
    std::pair<std::string, long long> last;
    for (const std::string& m : messages) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(m)).object();
        // The run is the publisher's client id and the journal's name.
        const QString run = o.value(QStringLiteral("run")).toString();
        const std::pair<std::string, long long> key{run.section(QLatin1Char('/'), -1).toStdString(),
                                                    o.value(QStringLiteral("index")).toInteger(-1)};
        if (!seen.insert(key).second) {
            ++d.duplicates;
            continue;
        }
        const auto row = rows.find(key);
        if (row == rows.end() ||
            row->second.first != o.value(QStringLiteral("time")).toString().toStdString() ||
            row->second.second != o.value(QStringLiteral("text")).toString().toStdString()) {
            ++d.invented;
            continue;
        }
        if (d.delivered > 0 && key < last)
            ++d.outOfOrder;
        last = key;
        ++d.delivered;
    }
    d.missing = d.journalRows - d.delivered;
    return d;
}

} // namespace zelvox::testing
