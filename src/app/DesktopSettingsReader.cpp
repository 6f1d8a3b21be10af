#include "app/DesktopSettingsReader.h"

#include "app/AppLogging.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace velmora {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");
const QString interfaceGroup = QStringLiteral("org.gnome.desktop.interface");
const QString animationsKey = QStringLiteral("enable-animations");

QVariant unwrapped(QVariant value) {
    for (int depth = 0; depth < 4; ++depth) {
        if (value.canConvert<QDBusVariant>() && value.typeId() == qMetaTypeId<QDBusVariant>())
            value = value.value<QDBusVariant>().variant();
        else if (value.typeId() == qMetaTypeId<QDBusArgument>()) {
            const auto argument = value.value<QDBusArgument>();
            if (argument.currentType() != QDBusArgument::VariantType)
                break;
            value = qdbus_cast<QDBusVariant>(argument).variant();
        } else
            break;
    }
    return value;
}

} // namespace

DesktopSettingsReader::DesktopSettingsReader(QDBusConnection bus, QStringList arguments,
                                             QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_arguments(std::move(arguments)) {}

bool DesktopSettingsReader::reduceMotion() const {
    return m_arguments.contains(reduceMotionArgument) || !m_animationsEnabled;
}

void DesktopSettingsReader::start() {
    if (!m_bus.isConnected()) {
        qCInfo(lcApp) << "no session bus: light appearance and full motion";
        return;
    }
    m_bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                  this, SLOT(settingChanged(QString, QString, QDBusVariant)));
    read(appearanceGroup, colorSchemeKey);
    read(interfaceGroup, animationsKey);
}

void DesktopSettingsReader::read(const QString &group, const QString &key) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        portalService, portalPath, settingsInterface, QStringLiteral("Read"));
    message << group << key;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, group, key](QDBusPendingCallWatcher *call) {
                call->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *call;
                if (reply.isError()) {
                    qCInfo(lcApp) << "the settings portal did not answer" << group << key << ':'
                                  << reply.error().message();
                    return;
                }
                applySetting(group, key, reply.value().variant());
            });
}

void DesktopSettingsReader::settingChanged(const QString &group, const QString &key,
                                           const QDBusVariant &value) {
    applySetting(group, key, value.variant());
}

void DesktopSettingsReader::applySetting(const QString &group, const QString &key,
                                         const QVariant &value) {
    const QVariant plain = unwrapped(value);
    if (group == appearanceGroup && key == colorSchemeKey) {
        // 1 asks for dark; 0 (no preference) and 2 (light) mean light.
        const bool dark = plain.toUInt() == 1;
        if (dark != m_prefersDark) {
            m_prefersDark = dark;
            Q_EMIT prefersDarkChanged(dark);
        }
    } else if (group == interfaceGroup && key == animationsKey) {
        const bool before = reduceMotion();
        m_animationsEnabled = plain.toBool();
        if (reduceMotion() != before)
            Q_EMIT reduceMotionChanged(reduceMotion());
    }
}

} // namespace velmora
