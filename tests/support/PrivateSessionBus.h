#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace velmora::test {

// A session bus of its own (dbus-daemon), started on first use and stopped with this object, or
// with the thread that started it should the test abort or be killed first. Header-only, so the
// benchmarks use it too.
class PrivateSessionBus {
public:
    enum class Activation {
        // Services installed on the machine start on demand, as on a desktop.
        installedServices,
        // Nothing starts on demand, so no notification server of the machine answers in place of
        // a test's own.
        none,
    };

    explicit PrivateSessionBus(Activation activation = Activation::installedServices)
        : m_activation(activation) {}
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    ~PrivateSessionBus() {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    // The bus's address; empty when dbus-daemon could not be started or named none.
    QString address() {
        if (m_address.isEmpty() && m_daemon.state() == QProcess::NotRunning) {
            QStringList arguments{QStringLiteral("--nofork"), QStringLiteral("--print-address")};
            arguments.prepend(m_activation == Activation::none
                                  ? QStringLiteral("--config-file=") + writeInertConfig()
                                  : QStringLiteral("--session"));
            m_daemon.setChildProcessModifier([parent = ::getpid()] {
                ::prctl(PR_SET_PDEATHSIG, SIGTERM);
                if (::getppid() != parent)
                    ::_exit(0);
            });
            m_daemon.start(QStringLiteral("dbus-daemon"), arguments);
            m_started = m_daemon.waitForStarted();
            if (m_started && m_daemon.waitForReadyRead(20000))
                m_address = QString::fromLocal8Bit(m_daemon.readLine()).trimmed();
        }
        return m_address;
    }

    // Whether dbus-daemon could be started at all, with or without an address.
    bool started() const { return m_started; }

private:
    QString writeInertConfig() {
        const QString config = m_folder.filePath(QStringLiteral("session.conf"));
        QFile file(config);
        if (file.open(QIODevice::WriteOnly))
            file.write(
                "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                "<busconfig><type>session</type><listen>unix:dir=" +
                QFile::encodeName(m_folder.path()) +
                "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                "<allow own=\"*\"/></policy></busconfig>\n");
        return config;
    }

    Activation m_activation;
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QString m_address;
    bool m_started = false;
};

} // namespace velmora::test
