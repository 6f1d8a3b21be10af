#pragma once

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <csignal>

namespace velmora::test {

// The whole program run in a process of its own, with every user folder inside `home`.
// Header-only: only the tests that start the program link it.
class ProgramRun {
public:
    // `extra` is added to the environment and `unset` taken out of it; `bus` is the session bus,
    // none without it.
    ProgramRun(const QString &program, const QString &home, const QStringList &arguments,
               const QString &bus = {}, const QProcessEnvironment &extra = {},
               const QStringList &unset = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("velmora.*=true"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
        environment.insert(QStringLiteral("TMPDIR"), home + QStringLiteral("/tmp"));
        QDir().mkpath(home + QStringLiteral("/tmp"));
        QDir().mkpath(home + QStringLiteral("/runtime"));
        QFile::setPermissions(home + QStringLiteral("/runtime"), QFileDevice::ReadOwner |
                                                                     QFileDevice::WriteOwner |
                                                                     QFileDevice::ExeOwner);
        if (bus.isEmpty())
            environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        else
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
        for (const QString &key : extra.keys())
            environment.insert(key, extra.value(key));
        for (const QString &key : unset)
            environment.remove(key);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(program, arguments);
    }
    ~ProgramRun() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    QString errors() {
        log += QString::fromLocal8Bit(process.readAllStandardError());
        return log;
    }
    bool waitForLog(const QString &text,
                    std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        return waitUntil([&] { return errors().contains(text); }, timeout);
    }
    // Up and showing its window.
    bool waitUntilRunning() { return waitForLog(QStringLiteral("velmora.sync")); }
    // SIGTERM; true when the program then ended by itself with 0. The wait is generous: it only
    // tells an ending from a hang.
    bool terminate() {
        ::kill(pid_t(process.processId()), SIGTERM);
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    QProcess process;
    QString log;
};

} // namespace velmora::test
