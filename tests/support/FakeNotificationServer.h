#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace velmora::test {

// A notification server (org.freedesktop.Notifications) that records what it is asked to show.
// Register it on a test bus under that name, at /org/freedesktop/Notifications.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString appName;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Shown> shown;

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int expireTimeout) {
        Q_UNUSED(replacesId)
        Q_UNUSED(expireTimeout)
        shown.append({appName, appIcon, summary, body, actions, hints});
        return uint(shown.size()) + 100;
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion) {
        vendor = QStringLiteral("Test");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }
};

} // namespace velmora::test
