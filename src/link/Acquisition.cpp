#include "link/Acquisition.h"

#include <QSocketNotifier>

namespace zelvox {

Acquisition::Acquisition(ReadingHistory& history, QObject* parent) : Acquisition(history, {}, parent) {}

Acquisition::Acquisition(ReadingHistory& history, WorkerStarter startWorker, QObject* parent)
    : QObject(parent), core_(history, std::move(startWorker)),
      wake_(std::make_unique<QSocketNotifier>(core_.WakeFd(), QSocketNotifier::Read)) {
    qRegisterMetaType<zelvox::Frame>("zelvox::Frame");
    qRegisterMetaType<zelvox::LinkEvent>("zelvox::LinkEvent");
    connect(wake_.get(), &QSocketNotifier::activated, this, &Acquisition::Deliver);
}

Acquisition::~Acquisition() {
    StopAcquisition();
}

Acquisition::StartResult Acquisition::StartAcquisition(const QString& portName, int samplingRate) {
    AcquisitionCore::Options options;
    options.samplingRate = std::max(samplingRate, 1);
    return core_.Start(portName.toLocal8Bit().toStdString(), options);
}

void Acquisition::StopAcquisition() {
    core_.Stop();
}

// One event at a time, so a slot that runs a nested event loop cannot reorder them.
void Acquisition::Deliver() {
    core_.Deliver([this](const AcquisitionCore::Event& event) {
        switch (event.kind) {
        case AcquisitionCore::Event::kDispatch:
            emit dispatchRequested();
            break;
        case AcquisitionCore::Event::kFrame:
            emit frameAccepted(event.frame);
            break;
        case AcquisitionCore::Event::kLink:
            emit linkChanged(event.link, event.error);
            break;
        }
    });
}

} // namespace zelvox
