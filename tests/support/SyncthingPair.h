#pragma once

// Two Syncthing daemons on this machine sharing one folder, each with its own home, talking only
// over 127.0.0.1: discovery, relays, NAT traversal, usage and crash reporting off. The pair
// starts and stops its daemons itself. Header-only, for tests that link Qt Network.

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QUuid>
#include <QtTest/QTest>

#include <arpa/inet.h>
#include <chrono>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::test {

class SyncthingPair {
public:
    static inline const QString folderID = QStringLiteral("diary");

    struct Daemon {
        QString home;
        QString folder;
        QString deviceID;
        QString apiKey;
        int guiPort = 0;
        int listenPort = 0;
        std::unique_ptr<QProcess> process;
    };

    static QString binary() { return QStandardPaths::findExecutable(QStringLiteral("syncthing")); }

    // `work` holds both homes and both shared folders ("a" and "b").
    explicit SyncthingPair(const QString &work) {
        for (int i = 0; i < 2; ++i) {
            Daemon &daemon = m_daemons[i];
            const QString name = i == 0 ? QStringLiteral("a") : QStringLiteral("b");
            daemon.home = work + QStringLiteral("/home-") + name;
            daemon.folder = work + QLatin1Char('/') + name;
            daemon.apiKey = QUuid::createUuid().toString(QUuid::Id128);
        }
    }
    ~SyncthingPair() { stop(); }
    SyncthingPair(const SyncthingPair &) = delete;
    SyncthingPair &operator=(const SyncthingPair &) = delete;

    const QString &sideA() const { return m_daemons[0].folder; }
    const QString &sideB() const { return m_daemons[1].folder; }
    const Daemon &daemon(int side) const { return m_daemons[side]; }

    // Generates both homes, starts both daemons and waits until they are connected. On failure
    // `why` says what did not happen.
    bool start(QString *why) {
        for (Daemon &daemon : m_daemons) {
            QDir().mkpath(daemon.folder + QStringLiteral("/.stfolder"));
            QProcess generate;
            generate.setProcessChannelMode(QProcess::MergedChannels);
            generate.start(binary(),
                           {QStringLiteral("generate"), QStringLiteral("--no-default-folder"),
                            QStringLiteral("--home=") + daemon.home});
            if (!generate.waitForFinished(60000) || generate.exitCode() != 0) {
                *why = QStringLiteral("syncthing generate failed: ") +
                       QString::fromUtf8(generate.readAllStandardError());
                return false;
            }
            const QString output = QString::fromUtf8(generate.readAll());
            const auto id =
                QRegularExpression(QStringLiteral("Device ID: ([A-Z0-9-]+)")).match(output);
            if (!id.hasMatch()) {
                *why = QStringLiteral("no device id in: ") + output;
                return false;
            }
            daemon.deviceID = id.captured(1);
            daemon.guiPort = freePort();
            daemon.listenPort = freePort();
        }
        for (int i = 0; i < 2; ++i) {
            if (!configure(m_daemons[i], m_daemons[1 - i], why))
                return false;
        }
        for (Daemon &daemon : m_daemons) {
            daemon.process = std::make_unique<QProcess>();
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("STNOUPGRADE"), QStringLiteral("1"));
            environment.insert(QStringLiteral("STNODEFAULTFOLDER"), QStringLiteral("1"));
            daemon.process->setProcessEnvironment(environment);
            daemon.process->setProcessChannelMode(QProcess::MergedChannels);
            daemon.process->setStandardOutputFile(daemon.home + QStringLiteral("/log.txt"));
            daemon.process->start(binary(),
                                  {QStringLiteral("serve"), QStringLiteral("--home=") + daemon.home,
                                   QStringLiteral("--no-browser"), QStringLiteral("--no-restart"),
                                   QStringLiteral("--no-upgrade"),
                                   QStringLiteral("--gui-address=127.0.0.1:%1").arg(daemon.guiPort),
                                   QStringLiteral("--gui-apikey=") + daemon.apiKey});
            if (!daemon.process->waitForStarted(10000)) {
                *why = QStringLiteral("syncthing did not start");
                return false;
            }
        }
        // A loaded two-core machine can take a while to bring both up.
        for (int i = 0; i < 2; ++i) {
            if (!waitUntil(
                    [&] {
                        return get(i, QStringLiteral("/rest/system/ping"))
                                   .value(QStringLiteral("ping"))
                                   .toString() == u"pong";
                    },
                    std::chrono::seconds(30))) {
                *why =
                    QStringLiteral("syncthing %1 never answered; its log: %2").arg(i).arg(log(i));
                return false;
            }
        }
        if (!waitUntil([&] { return connected(0) && connected(1); }, std::chrono::seconds(30))) {
            *why = QStringLiteral("the daemons never connected; logs: %1 / %2").arg(log(0), log(1));
            return false;
        }
        return true;
    }

    void stop() {
        for (int i = 0; i < 2; ++i) {
            Daemon &daemon = m_daemons[i];
            if (!daemon.process || daemon.process->state() == QProcess::NotRunning)
                continue;
            request(i, "POST", QStringLiteral("/rest/system/shutdown"));
            if (!daemon.process->waitForFinished(5000)) {
                daemon.process->terminate();
                if (!daemon.process->waitForFinished(5000))
                    daemon.process->kill();
                daemon.process->waitForFinished(5000);
            }
        }
    }

    bool connected(int side) {
        const QJsonObject connections = get(side, QStringLiteral("/rest/system/connections"))
                                            .value(QStringLiteral("connections"))
                                            .toObject();
        return connections.value(m_daemons[1 - side].deviceID)
            .toObject()
            .value(QStringLiteral("connected"))
            .toBool();
    }

    // Both daemons done: each has scanned, pulled everything it needs and seen the other take
    // everything it offers. Files are moved into place only on the way to this.
    bool settled() {
        for (int side = 0; side < 2; ++side) {
            const QJsonObject status =
                get(side, QStringLiteral("/rest/db/status?folder=") + folderID);
            const QJsonObject completion =
                get(side, QStringLiteral("/rest/db/completion?folder=%1&device=%2")
                              .arg(folderID, m_daemons[1 - side].deviceID));
            if (status.value(QStringLiteral("state")).toString() != u"idle" ||
                status.value(QStringLiteral("needTotalItems")).toInteger(-1) != 0 ||
                completion.value(QStringLiteral("needItems")).toInteger(-1) != 0 ||
                completion.value(QStringLiteral("completion")).toDouble() < 100)
                return false;
        }
        return true;
    }

    // Whether a side has scanned its own version of a file (a path inside the shared folder).
    bool knowsLocally(int side, const QString &relativePath) {
        const QJsonObject local =
            get(side,
                QStringLiteral("/rest/db/file?folder=%1&file=%2")
                    .arg(folderID, QString::fromLatin1(QUrl::toPercentEncoding(relativePath, "/"))))
                .value(QStringLiteral("local"))
                .toObject();
        return !local.isEmpty() && !local.value(QStringLiteral("deleted")).toBool();
    }

    // Asks a side to look at its folder now, rather than when its watcher gets to it.
    void rescan(int side) {
        request(side, "POST", QStringLiteral("/rest/db/scan?folder=") + folderID);
    }
    // Stops and resumes the exchange between the two.
    void pause(int side) {
        request(side, "POST",
                QStringLiteral("/rest/system/pause?device=") + m_daemons[1 - side].deviceID);
    }
    void resume(int side) {
        request(side, "POST",
                QStringLiteral("/rest/system/resume?device=") + m_daemons[1 - side].deviceID);
    }

    QJsonObject get(int side, const QString &path) {
        return QJsonDocument::fromJson(request(side, "GET", path)).object();
    }

    QString log(int side) const {
        QFile file(m_daemons[side].home + QStringLiteral("/log.txt"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(2000))
                                              : QString();
    }

    template <typename Predicate>
    static bool waitUntil(Predicate predicate, std::chrono::milliseconds timeout) {
        return QTest::qWaitFor(predicate, int(timeout.count()));
    }

private:
    static int freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(fd);
        return port;
    }

    static bool configure(const Daemon &self, const Daemon &other, QString *why) {
        QFile file(self.home + QStringLiteral("/config.xml"));
        if (!file.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("no config.xml in ") + self.home;
            return false;
        }
        QString config = QString::fromUtf8(file.readAll());
        file.close();
        const auto set = [&](const QString &element, const QString &value) {
            config.replace(
                QRegularExpression(QStringLiteral("<%1(\\s[^>]*)?>[^<]*</%1>").arg(element)),
                QStringLiteral("<%1\\1>%2</%1>").arg(element, value));
        };
        set(QStringLiteral("listenAddress"),
            QStringLiteral("tcp://127.0.0.1:%1").arg(self.listenPort));
        set(QStringLiteral("globalAnnounceEnabled"), QStringLiteral("false"));
        set(QStringLiteral("localAnnounceEnabled"), QStringLiteral("false"));
        set(QStringLiteral("relaysEnabled"), QStringLiteral("false"));
        set(QStringLiteral("natEnabled"), QStringLiteral("false"));
        set(QStringLiteral("urAccepted"), QStringLiteral("-1"));
        set(QStringLiteral("startBrowser"), QStringLiteral("false"));
        set(QStringLiteral("crashReportingEnabled"), QStringLiteral("false"));
        set(QStringLiteral("autoUpgradeIntervalH"), QStringLiteral("0"));
        // The tool stops below 1 % of the disk free, which a shared machine's disk may well be.
        set(QStringLiteral("minHomeDiskFree"), QStringLiteral("0"));
        const QString shared =
            QStringLiteral("    <folder id=\"%1\" label=\"%1\" path=\"%2\" type=\"sendreceive\" "
                           "rescanIntervalS=\"2\" fsWatcherEnabled=\"true\" fsWatcherDelayS=\"1\" "
                           "ignorePerms=\"false\" autoNormalize=\"true\">\n"
                           "        <device id=\"%3\" introducedBy=\"\"></device>\n"
                           "        <device id=\"%4\" introducedBy=\"\"></device>\n"
                           "        <maxConflicts>10</maxConflicts>\n"
                           "        <minDiskFree unit=\"%\">0</minDiskFree>\n"
                           "    </folder>\n"
                           "    <device id=\"%4\" name=\"other\" compression=\"metadata\" "
                           "introducer=\"false\" "
                           "skipIntroductionRemovals=\"false\" introducedBy=\"\">\n"
                           "        <address>tcp://127.0.0.1:%5</address>\n"
                           "        <paused>false</paused>\n"
                           "        <autoAcceptFolders>false</autoAcceptFolders>\n"
                           "    </device>\n")
                .arg(folderID, self.folder, self.deviceID, other.deviceID)
                .arg(other.listenPort);
        const qsizetype start = config.indexOf(QStringLiteral("<configuration"));
        const qsizetype lineEnd = config.indexOf(QLatin1Char('\n'), start);
        if (start < 0 || lineEnd < 0) {
            *why = QStringLiteral("an unexpected config.xml");
            return false;
        }
        config.insert(lineEnd + 1, shared);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *why = QStringLiteral("cannot write config.xml");
            return false;
        }
        file.write(config.toUtf8());
        return true;
    }

    QByteArray request(int side, const QByteArray &method, const QString &path) {
        QNetworkRequest request(
            QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_daemons[side].guiPort).arg(path)));
        request.setRawHeader("X-API-Key", m_daemons[side].apiKey.toUtf8());
        request.setTransferTimeout(5000);
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    }

    Daemon m_daemons[2];
    QNetworkAccessManager m_network;
};

} // namespace velmora::test
