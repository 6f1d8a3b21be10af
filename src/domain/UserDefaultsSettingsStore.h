#pragma once

#include "domain/Clock.h"
#include "domain/SettingsStore.h"
#include "platform/UserDefaults.h"

#include <QObject>

#include <algorithm>
#include <memory>
#include <optional>

namespace velmora {

// One user setting: the key the user defaults keep it under, what it reads as when missing or
// unreadable, and the clamp that brings any other value into range (none: every value is kept).
// Reads are always clamped; writes store what they are given, so each writer clamps as its
// setting asks.
//
// How a stored value is read, by type:
//   double   a finite number (text holding one included); anything else is missing.
//   int      a whole number within range (text holding one included); anything else is missing.
//   bool     a flag or the text "true" or "false" as written; anything else switches on a setting
//            that is off by default the way UserDefaults::boolValue reads it ("yes", a non-zero
//            number) and never switches off one that is on by default.
//   QString  text, or the text form of a number or flag.
//   QDateTime a stored date; anything else is missing.
template <typename T> struct UserSetting {
    QString key;
    T fallback{};
    T (*clamp)(const T &) = nullptr;

    T clamped(const T &value) const { return clamp ? clamp(value) : value; }
    // The stored value as it reads before clamping; none when missing or unreadable.
    std::optional<T> stored(const UserDefaults &defaults) const;
    T read(const UserDefaults &defaults) const {
        const std::optional<T> value = stored(defaults);
        return value ? clamped(*value) : fallback;
    }
    void write(UserDefaults &defaults, const T &value) const;
};

template <> std::optional<double> UserSetting<double>::stored(const UserDefaults &defaults) const;
template <> std::optional<int> UserSetting<int>::stored(const UserDefaults &defaults) const;
template <> std::optional<bool> UserSetting<bool>::stored(const UserDefaults &defaults) const;
template <> std::optional<QString> UserSetting<QString>::stored(const UserDefaults &defaults) const;
template <>
std::optional<QDateTime> UserSetting<QDateTime>::stored(const UserDefaults &defaults) const;
template <> void UserSetting<double>::write(UserDefaults &defaults, const double &value) const;
template <> void UserSetting<int>::write(UserDefaults &defaults, const int &value) const;
template <> void UserSetting<bool>::write(UserDefaults &defaults, const bool &value) const;
template <> void UserSetting<QString>::write(UserDefaults &defaults, const QString &value) const;
template <>
void UserSetting<QDateTime>::write(UserDefaults &defaults, const QDateTime &value) const;

// The settings store over the user defaults, and the one place each user setting is defined:
// everything that reads or writes a setting does so through its definition here. Every write of
// the store announces the change first (objectWillChange, while reads still give the old value),
// then writes, then emits the property's changed signal where it has one.
class UserDefaultsSettingsStore : public QObject, public SettingsStore {
    Q_OBJECT
    Q_PROPERTY(
        double readingScale READ readingScale WRITE setReadingScale NOTIFY readingScaleChanged)
    Q_PROPERTY(
        QString selectedFont READ selectedFont WRITE setSelectedFont NOTIFY selectedFontChanged)
    Q_PROPERTY(double defaultFontSize READ defaultFontSize WRITE setDefaultFontSize NOTIFY
                   defaultFontSizeChanged)
    Q_PROPERTY(QString userName READ userName WRITE setUserName NOTIFY userNameChanged)
    Q_PROPERTY(
        QString appAppearance READ appAppearance WRITE setAppAppearance NOTIFY appAppearanceChanged)

public:
    static constexpr double minimumReadingScale = 0.8;
    static constexpr double maximumReadingScale = 1.4;
    static constexpr double minimumBodyPointSize = 12;
    static constexpr double maximumBodyPointSize = 24;
    // In UTF-16 code units. The name is drawn on the cover and woven into prompts and reminders;
    // a name from a settings file, an import or the other device is cut to this length wherever
    // it comes in, so no text laid out from it can grow without end.
    static constexpr qsizetype maximumUserNameLength = 100;

    // `name` as kept: unchanged when it fits, else cut at the last character boundary within
    // the limit, so that no letter with its marks, surrogate pair or emoji sequence is split.
    static QString boundedUserName(const QString &name);

    // The page text's scale; stored as given, read held to the range.
    static inline const UserSetting<double> readingScaleSetting{
        QStringLiteral("readingScale"), 1.0, [](const double &scale) {
            return std::clamp(scale, minimumReadingScale, maximumReadingScale);
        }};
    // Empty reads as the store's default font, which the platform chooses.
    static inline const UserSetting<QString> selectedFontSetting{
        QStringLiteral("selectedFont"), QString(),
        [](const QString &font) { return font.trimmed(); }};
    static inline const UserSetting<double> defaultFontSizeSetting{
        QStringLiteral("defaultFontSize"), 16.0, [](const double &size) {
            return std::clamp(size, minimumBodyPointSize, maximumBodyPointSize);
        }};
    static inline const UserSetting<QString> userNameSetting{QStringLiteral("userName"), QString(),
                                                             &boundedUserName};
    // When the name last changed, so that the newer of two devices' names wins.
    static inline const UserSetting<QDateTime> userNameChangedAtSetting{
        QStringLiteral("userNameChangedAt"), QDateTime()};
    // "light", "dark" or anything else for the desktop's choice.
    static inline const UserSetting<QString> appAppearanceSetting{QStringLiteral("appAppearance"),
                                                                  QStringLiteral("system")};
    static inline const UserSetting<bool> reopensLastPageSetting{QStringLiteral("reopensLastPage"),
                                                                 false};
    // The day of the page last opened, as its DayKey's text; read when reopensLastPage is on.
    static inline const UserSetting<QString> lastOpenedDaySetting{QStringLiteral("lastOpenedDay"),
                                                                  QString()};
    static inline const UserSetting<bool> requireAuthenticationSetting{
        QStringLiteral("requireAuthentication"), false};
    // Wrong answers to the lock since its last success, and when the last one was given, so
    // that the wait they earn outlasts a restart. Never negative; far past the count at which the
    // waits stop growing, a larger one changes nothing.
    static inline const UserSetting<int> lockFailureCountSetting{
        QStringLiteral("Velmora.lock.failures"), 0,
        [](const int &count) { return std::clamp(count, 0, 1000); }};
    static inline const UserSetting<QDateTime> lockLastFailureSetting{
        QStringLiteral("Velmora.lock.lastFailure"), QDateTime()};
    // Set once the cover with its privacy note has been opened.
    static inline const UserSetting<bool> hasLaunchedBeforeSetting{
        QStringLiteral("hasLaunchedBefore"), false};
    static inline const UserSetting<bool> reminderEnabledSetting{
        QStringLiteral("Velmora.reminder.enabled"), false};
    // The reminder's time of day; an hour or minute that is no whole number reads as its default.
    static inline const UserSetting<int> reminderHourSetting{
        QStringLiteral("Velmora.reminder.hour"), 21};
    static inline const UserSetting<int> reminderMinuteSetting{
        QStringLiteral("Velmora.reminder.minute"), 0};
    // Set once the user has been asked for permission to notify.
    static inline const UserSetting<bool> reminderOfferedSetting{
        QStringLiteral("Velmora.reminder.offered"), false};
    static inline const UserSetting<bool> syncEnabledSetting{QStringLiteral("Velmora.sync.enabled"),
                                                             true};

    // `clock` stamps a changed user name; the system clock when none is given.
    UserDefaultsSettingsStore(std::shared_ptr<UserDefaults> defaults, QString defaultFont,
                              std::shared_ptr<const Clock> clock = nullptr,
                              QObject *parent = nullptr);

    const std::shared_ptr<UserDefaults> &defaults() const { return m_defaults; }
    const QString &defaultFont() const { return m_defaultFont; }

    double readingScale() const override;
    void setReadingScale(double scale) override;

    QString selectedFont() const override;
    void setSelectedFont(const QString &fontName) override;

    double defaultFontSize() const override;
    void setDefaultFontSize(double size) override;

    // The name is kept to boundedUserName() both ways, whatever the file holds.
    QString userName() const override;
    void setUserName(const QString &name) override;
    // Stores the name and the given time whatever was stored before: a newer name from the
    // other device wins with its own time.
    void setUserName(const QString &name, const QDateTime &changedAt);

    std::optional<QDateTime> userNameChangedAt() const override;

    QString appAppearance() const override;
    void setAppAppearance(const QString &appearance) override;

    bool reopensLastPage() const;
    void setReopensLastPage(bool reopens);

    bool requireAuthentication() const;
    void setRequireAuthentication(bool required);

    bool hasLaunchedBefore() const;
    void setHasLaunchedBefore(bool launched);

Q_SIGNALS:
    void objectWillChange();
    void readingScaleChanged();
    void selectedFontChanged();
    void defaultFontSizeChanged();
    void userNameChanged();
    void appAppearanceChanged();

private:
    std::shared_ptr<UserDefaults> m_defaults;
    QString m_defaultFont;
    std::shared_ptr<const Clock> m_clock;
};

} // namespace velmora
