#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace velmora {

// The user's preferences as the session, the page system, the transfer flow and the sync read
// and change them. Reads are always safe values: whatever is stored is trimmed, clamped or
// replaced by its default.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    virtual double readingScale() const = 0;
    virtual void setReadingScale(double scale) = 0;

    virtual QString selectedFont() const = 0;
    virtual void setSelectedFont(const QString &fontName) = 0;

    virtual double defaultFontSize() const = 0;
    virtual void setDefaultFontSize(double size) = 0;

    virtual QString userName() const = 0;
    virtual void setUserName(const QString &name) = 0;

    virtual std::optional<QDateTime> userNameChangedAt() const = 0;

    virtual QString appAppearance() const = 0;
    virtual void setAppAppearance(const QString &appearance) = 0;
};

} // namespace velmora
