#pragma once

#include <QProcess>
#include <QString>

namespace velmora::test {

// A session bus of its own (dbus-daemon), started on first use and stopped with this object.
// Header-only, so the benchmarks use it too.
class PrivateSessionBus {
public:
    PrivateSessionBus() = default;
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    ~PrivateSessionBus() {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    // The bus's address; empty when dbus-daemon could not be started or named none.
    QString address() {
        if (m_address.isEmpty() && m_daemon.state() == QProcess::NotRunning) {
            m_daemon.start(QStringLiteral("dbus-daemon"),
                           {QStringLiteral("--session"), QStringLiteral("--nofork"),
                            QStringLiteral("--print-address")});
            m_started = m_daemon.waitForStarted();
            if (m_started && m_daemon.waitForReadyRead(20000))
                m_address = QString::fromLocal8Bit(m_daemon.readLine()).trimmed();
        }
        return m_address;
    }

    // Whether dbus-daemon could be started at all, with or without an address.
    bool started() const { return m_started; }

private:
    QProcess m_daemon;
    QString m_address;
    bool m_started = false;
};

} // namespace velmora::test
