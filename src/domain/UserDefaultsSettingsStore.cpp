#include "domain/UserDefaultsSettingsStore.h"

#include <QTextBoundaryFinder>

#include <cmath>
#include <limits>

namespace velmora {

template <> std::optional<double> UserSetting<double>::stored(const UserDefaults &defaults) const {
    if (!defaults.contains(key))
        return std::nullopt;
    const double value = defaults.doubleValue(key);
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

template <> std::optional<int> UserSetting<int>::stored(const UserDefaults &defaults) const {
    // The settings file keeps numbers as text.
    const auto value = defaults.object(key);
    if (!value)
        return std::nullopt;
    switch (value->typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        const qint64 number = value->toString().toLongLong(&ok);
        if (ok && number >= std::numeric_limits<int>::min() &&
            number <= std::numeric_limits<int>::max())
            return int(number);
        return std::nullopt;
    }
    case QMetaType::Double: {
        const double number = value->toDouble();
        if (number == double(int(number)))
            return int(number);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

template <> std::optional<bool> UserSetting<bool>::stored(const UserDefaults &defaults) const {
    const auto value = defaults.object(key);
    if (!value)
        return std::nullopt;
    if (value->typeId() == QMetaType::Bool)
        return value->toBool();
    // The settings file keeps a flag as text once it has been written out.
    if (value->typeId() == QMetaType::QString) {
        const QString text = value->toString();
        if (text == u"true")
            return true;
        if (text == u"false")
            return false;
    }
    // Written by hand: a lock someone switched on with "yes" or 1 stays on.
    return fallback || defaults.boolValue(key);
}

template <>
std::optional<QString> UserSetting<QString>::stored(const UserDefaults &defaults) const {
    return defaults.stringValue(key);
}

template <>
std::optional<QDateTime> UserSetting<QDateTime>::stored(const UserDefaults &defaults) const {
    return defaults.dateValue(key);
}

template <> void UserSetting<double>::write(UserDefaults &defaults, const double &value) const {
    defaults.setDouble(key, value);
}

template <> void UserSetting<int>::write(UserDefaults &defaults, const int &value) const {
    defaults.setInteger(key, value);
}

template <> void UserSetting<bool>::write(UserDefaults &defaults, const bool &value) const {
    defaults.setBool(key, value);
}

template <> void UserSetting<QString>::write(UserDefaults &defaults, const QString &value) const {
    defaults.setString(key, value);
}

template <>
void UserSetting<QDateTime>::write(UserDefaults &defaults, const QDateTime &value) const {
    defaults.setDate(key, value);
}

QString UserDefaultsSettingsStore::boundedUserName(const QString &name) {
    if (name.size() <= maximumUserNameLength)
        return name;
    // Whether the limit is a boundary depends only on the characters around it.
    const QString head = name.left(maximumUserNameLength + 1);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, head);
    finder.setPosition(int(maximumUserNameLength));
    qsizetype end = finder.isAtBoundary() ? maximumUserNameLength : finder.toPreviousBoundary();
    if (end <= 0) {
        // One "character" longer than the limit (a letter under endless marks): cut between
        // code points instead.
        end = maximumUserNameLength;
        if (head.at(end - 1).isHighSurrogate())
            --end;
    }
    return head.left(end);
}

UserDefaultsSettingsStore::UserDefaultsSettingsStore(std::shared_ptr<UserDefaults> defaults,
                                                     QString defaultFont,
                                                     std::shared_ptr<const Clock> clock,
                                                     QObject *parent)
    : QObject(parent)
    , m_defaults(std::move(defaults))
    , m_defaultFont(std::move(defaultFont))
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>()) {}

double UserDefaultsSettingsStore::readingScale() const {
    return readingScaleSetting.read(*m_defaults);
}

void UserDefaultsSettingsStore::setReadingScale(double scale) {
    Q_EMIT objectWillChange();
    readingScaleSetting.write(*m_defaults, scale);
    Q_EMIT readingScaleChanged();
}

QString UserDefaultsSettingsStore::selectedFont() const {
    const QString stored = selectedFontSetting.read(*m_defaults);
    return stored.isEmpty() ? m_defaultFont : stored;
}

void UserDefaultsSettingsStore::setSelectedFont(const QString &fontName) {
    const QString trimmed = selectedFontSetting.clamped(fontName);
    Q_EMIT objectWillChange();
    if (trimmed.isEmpty())
        m_defaults->remove(selectedFontSetting.key);
    else
        selectedFontSetting.write(*m_defaults, trimmed);
    Q_EMIT selectedFontChanged();
}

double UserDefaultsSettingsStore::defaultFontSize() const {
    return defaultFontSizeSetting.read(*m_defaults);
}

void UserDefaultsSettingsStore::setDefaultFontSize(double size) {
    Q_EMIT objectWillChange();
    // A NaN is stored as it came and reads back as the default.
    defaultFontSizeSetting.write(*m_defaults,
                                 std::isnan(size) ? size : defaultFontSizeSetting.clamped(size));
    Q_EMIT defaultFontSizeChanged();
}

QString UserDefaultsSettingsStore::userName() const {
    // A name stored before names were bounded, or written into the file by hand, reads bounded.
    return userNameSetting.read(*m_defaults);
}

void UserDefaultsSettingsStore::setUserName(const QString &name) {
    const QString bounded = userNameSetting.clamped(name);
    const QString previous = userName();
    Q_EMIT objectWillChange();
    userNameSetting.write(*m_defaults, bounded);
    if (bounded != previous)
        userNameChangedAtSetting.write(*m_defaults, m_clock->now());
    Q_EMIT userNameChanged();
}

void UserDefaultsSettingsStore::setUserName(const QString &name, const QDateTime &changedAt) {
    Q_EMIT objectWillChange();
    userNameSetting.write(*m_defaults, userNameSetting.clamped(name));
    userNameChangedAtSetting.write(*m_defaults, changedAt);
    Q_EMIT userNameChanged();
}

std::optional<QDateTime> UserDefaultsSettingsStore::userNameChangedAt() const {
    return userNameChangedAtSetting.stored(*m_defaults);
}

QString UserDefaultsSettingsStore::appAppearance() const {
    return appAppearanceSetting.read(*m_defaults);
}

void UserDefaultsSettingsStore::setAppAppearance(const QString &appearance) {
    Q_EMIT objectWillChange();
    appAppearanceSetting.write(*m_defaults, appearance);
    Q_EMIT appAppearanceChanged();
}

bool UserDefaultsSettingsStore::reopensLastPage() const {
    return reopensLastPageSetting.read(*m_defaults);
}

void UserDefaultsSettingsStore::setReopensLastPage(bool reopens) {
    Q_EMIT objectWillChange();
    reopensLastPageSetting.write(*m_defaults, reopens);
}

bool UserDefaultsSettingsStore::requireAuthentication() const {
    return requireAuthenticationSetting.read(*m_defaults);
}

void UserDefaultsSettingsStore::setRequireAuthentication(bool required) {
    Q_EMIT objectWillChange();
    requireAuthenticationSetting.write(*m_defaults, required);
}

bool UserDefaultsSettingsStore::hasLaunchedBefore() const {
    return hasLaunchedBeforeSetting.read(*m_defaults);
}

void UserDefaultsSettingsStore::setHasLaunchedBefore(bool launched) {
    Q_EMIT objectWillChange();
    hasLaunchedBeforeSetting.write(*m_defaults, launched);
}

} // namespace velmora
