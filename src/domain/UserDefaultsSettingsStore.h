#pragma once

#include "domain/Clock.h"
#include "domain/SettingsStore.h"
#include "platform/UserDefaults.h"

#include <QObject>

#include <memory>

namespace velmora {

// The settings store over the user defaults. Every write announces the change first
// (objectWillChange, while reads still give the old value), then writes, then emits the
// property's changed signal.
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
    static inline const QString readingScaleKey = QStringLiteral("readingScale");
    static inline const QString selectedFontKey = QStringLiteral("selectedFont");
    static inline const QString defaultFontSizeKey = QStringLiteral("defaultFontSize");
    static inline const QString userNameKey = QStringLiteral("userName");
    static inline const QString userNameChangedAtKey = QStringLiteral("userNameChangedAt");
    static inline const QString appAppearanceKey = QStringLiteral("appAppearance");

    static constexpr double defaultReadingScale = 1.0;
    static constexpr double minimumReadingScale = 0.8;
    static constexpr double maximumReadingScale = 1.4;
    static constexpr double defaultBodyPointSize = 16;
    static constexpr double minimumBodyPointSize = 12;
    static constexpr double maximumBodyPointSize = 24;

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

Q_SIGNALS:
    void objectWillChange();
    void readingScaleChanged();
    void selectedFontChanged();
    void defaultFontSizeChanged();
    void userNameChanged();
    void appAppearanceChanged();

private:
    double boundedNumber(const QString &key, double fallback, double minimum, double maximum) const;

    std::shared_ptr<UserDefaults> m_defaults;
    QString m_defaultFont;
    std::shared_ptr<const Clock> m_clock;
};

} // namespace velmora
