#include "settings/MacSettingsController.h"

#include "domain/UserDefaultsSettingsStore.h"
#include "settings/SettingsLogging.h"

#include <QCoreApplication>

#include <cmath>

namespace velmora {

MacSettingsController::MacSettingsController(UserDefaultsSettingsStore &store,
                                             std::function<bool()> syncEnabled, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_syncEnabled(std::move(syncEnabled)) {}

void MacSettingsController::load() {
    setDefaultFont(m_store.selectedFont());
    setDefaultFontSize(m_store.defaultFontSize());
    setReadingScale(m_store.readingScale());
    setRequireAuthentication(m_store.requireAuthentication());
    setUserName(m_store.userName());
    setReopensLastPage(m_store.reopensLastPage());
    qCDebug(lcSettings) << "settings loaded";
    Q_EMIT changed();
}

void MacSettingsController::setReopensLastPage(bool reopens) {
    if (reopens == m_reopensLastPage)
        return;
    m_reopensLastPage = reopens;
    m_store.setReopensLastPage(reopens);
    Q_EMIT changed();
}

void MacSettingsController::setDefaultFont(const QString &font) {
    if (font == m_defaultFont)
        return;
    m_defaultFont = font;
    m_store.setSelectedFont(font);
    Q_EMIT changed();
}

void MacSettingsController::setDefaultFontSize(double size) {
    if (size == m_defaultFontSize)
        return;
    m_defaultFontSize = size;
    m_store.setDefaultFontSize(size);
    Q_EMIT changed();
}

void MacSettingsController::setReadingScale(double scale) {
    if (scale == m_readingScale)
        return;
    m_readingScale = scale;
    m_store.setReadingScale(scale);
    Q_EMIT changed();
}

void MacSettingsController::setRequireAuthentication(bool required) {
    if (required == m_requireAuthentication)
        return;
    m_requireAuthentication = required;
    m_store.setRequireAuthentication(required);
    Q_EMIT changed();
}

void MacSettingsController::setUserName(const QString &name) {
    const QString bounded = UserDefaultsSettingsStore::boundedUserName(name);
    if (bounded == m_userName) {
        // Typed past the limit: the field goes back to the name as kept.
        if (bounded != name)
            Q_EMIT changed();
        return;
    }
    m_userName = bounded;
    m_store.setUserName(bounded);
    Q_EMIT changed();
}

QString MacSettingsController::sizeText() const {
    return QString::number(static_cast<qint64>(m_defaultFontSize));
}

QString MacSettingsController::readingSizeText() const {
    return QString::number(static_cast<qint64>(std::trunc(m_readingScale * 100))) +
           QLatin1Char('%');
}

QString MacSettingsController::storageLine() const {
    return m_syncEnabled && m_syncEnabled()
               ? QCoreApplication::translate("MacSettingsView",
                                             "Kept on this computer and in your sync folder.")
               : QCoreApplication::translate("MacSettingsView", "Stored only on this computer.");
}

QString MacSettingsController::authenticationKindText() {
    return QCoreApplication::translate("MacSettingsView", "System password");
}

QString MacSettingsController::versionText() {
    const QString version = QCoreApplication::applicationVersion();
    return QLatin1Char('v') + (version.isEmpty() ? QStringLiteral("1.0") : version);
}

} // namespace velmora
