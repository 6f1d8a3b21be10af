#include "domain/UserDefaultsSettingsStore.h"

#include "domain/DiaryUserName.h"

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

// Like std::clamp, except that a NaN passes through: it is stored as it came and reads back as
// the default.
double clampedKeepingNaN(double value, double minimum, double maximum) {
    if (std::isnan(value))
        return value;
    return std::min(std::max(value, minimum), maximum);
}

} // namespace

UserDefaultsSettingsStore::UserDefaultsSettingsStore(std::shared_ptr<UserDefaults> defaults,
                                                     QString defaultFont,
                                                     std::shared_ptr<const Clock> clock,
                                                     QObject *parent)
    : QObject(parent)
    , m_defaults(std::move(defaults))
    , m_defaultFont(std::move(defaultFont))
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>()) {}

double UserDefaultsSettingsStore::boundedNumber(const QString &key, double fallback, double minimum,
                                                double maximum) const {
    if (!m_defaults->contains(key))
        return fallback;
    const double stored = m_defaults->doubleValue(key);
    if (!std::isfinite(stored))
        return fallback;
    return std::clamp(stored, minimum, maximum);
}

double UserDefaultsSettingsStore::readingScale() const {
    return boundedNumber(readingScaleKey, defaultReadingScale, minimumReadingScale,
                         maximumReadingScale);
}

void UserDefaultsSettingsStore::setReadingScale(double scale) {
    Q_EMIT objectWillChange();
    m_defaults->setDouble(readingScaleKey, scale);
    Q_EMIT readingScaleChanged();
}

QString UserDefaultsSettingsStore::selectedFont() const {
    const QString stored = m_defaults->stringValue(selectedFontKey).value_or(QString()).trimmed();
    return stored.isEmpty() ? m_defaultFont : stored;
}

void UserDefaultsSettingsStore::setSelectedFont(const QString &fontName) {
    const QString trimmed = fontName.trimmed();
    Q_EMIT objectWillChange();
    if (trimmed.isEmpty())
        m_defaults->remove(selectedFontKey);
    else
        m_defaults->setString(selectedFontKey, trimmed);
    Q_EMIT selectedFontChanged();
}

double UserDefaultsSettingsStore::defaultFontSize() const {
    return boundedNumber(defaultFontSizeKey, defaultBodyPointSize, minimumBodyPointSize,
                         maximumBodyPointSize);
}

void UserDefaultsSettingsStore::setDefaultFontSize(double size) {
    Q_EMIT objectWillChange();
    m_defaults->setDouble(defaultFontSizeKey,
                          clampedKeepingNaN(size, minimumBodyPointSize, maximumBodyPointSize));
    Q_EMIT defaultFontSizeChanged();
}

QString UserDefaultsSettingsStore::userName() const {
    // A name stored before names were bounded, or written into the file by hand, reads bounded.
    return boundedUserName(m_defaults->stringValue(userNameKey).value_or(QString()));
}

void UserDefaultsSettingsStore::setUserName(const QString &name) {
    const QString bounded = boundedUserName(name);
    const QString previous = userName();
    Q_EMIT objectWillChange();
    m_defaults->setString(userNameKey, bounded);
    if (bounded != previous)
        m_defaults->setDate(userNameChangedAtKey, m_clock->now());
    Q_EMIT userNameChanged();
}

void UserDefaultsSettingsStore::setUserName(const QString &name, const QDateTime &changedAt) {
    Q_EMIT objectWillChange();
    m_defaults->setString(userNameKey, boundedUserName(name));
    m_defaults->setDate(userNameChangedAtKey, changedAt);
    Q_EMIT userNameChanged();
}

std::optional<QDateTime> UserDefaultsSettingsStore::userNameChangedAt() const {
    return m_defaults->dateValue(userNameChangedAtKey);
}

QString UserDefaultsSettingsStore::appAppearance() const {
    return m_defaults->stringValue(appAppearanceKey).value_or(QStringLiteral("system"));
}

void UserDefaultsSettingsStore::setAppAppearance(const QString &appearance) {
    Q_EMIT objectWillChange();
    m_defaults->setString(appAppearanceKey, appearance);
    Q_EMIT appAppearanceChanged();
}

} // namespace velmora
