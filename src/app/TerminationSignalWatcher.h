#pragma once

#include <QObject>

class QSocketNotifier;

namespace velmora {

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the GUI thread. The handler only writes one
// byte to a pipe; everything else happens in the event loop. One per process.
class TerminationSignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignalWatcher(QObject *parent = nullptr);
    ~TerminationSignalWatcher() override;

    bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace velmora
