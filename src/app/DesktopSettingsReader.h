#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QStringList>
#include <QVariant>

namespace velmora {

// The desktop's colour scheme and animation preference, read from the settings portal without
// blocking: light and full motion until (and unless) the portal answers. The launch flag for
// reduced motion always wins.
class DesktopSettingsReader : public QObject {
    Q_OBJECT

public:
    static inline const QString reduceMotionArgument = QStringLiteral("--velmora-reduce-motion");

    DesktopSettingsReader(QDBusConnection bus, QStringList arguments, QObject *parent = nullptr);

    // Sends the reads; the answers arrive later through the signals.
    void start();

    bool prefersDark() const { return m_prefersDark; }
    bool reduceMotion() const;

    // A portal answer, which may come wrapped in one or more variants.
    void applySetting(const QString &group, const QString &key, const QVariant &value);

Q_SIGNALS:
    void prefersDarkChanged(bool prefersDark);
    void reduceMotionChanged(bool reduceMotion);

private Q_SLOTS:
    void settingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    void read(const QString &group, const QString &key);

    QDBusConnection m_bus;
    QStringList m_arguments;
    bool m_prefersDark = false;
    bool m_animationsEnabled = true;
};

} // namespace velmora
