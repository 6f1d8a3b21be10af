#pragma once

#include <QDateTime>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

namespace velmora {

// The user's preferences: one settings domain kept as an INI file. The standard domain is the
// file "Velmora.ini" in the folder "Velmora" of the configuration location, each named suite a
// file in its folder "Suites" (QStandardPaths test mode moves all of them away from the real
// settings). The typed reads turn whatever
// is stored into a value of the asked type: a missing key or a value of another type reads as
// that type's empty value, and text is converted to a number the way the diary always has
// (text that holds no number reads as 0).
//
// Used on the GUI thread only. Objects over the same file see each other's writes.
class UserDefaults {
public:
    // The domain kept at this file path.
    explicit UserDefaults(const QString &filePath);
    ~UserDefaults();
    UserDefaults(const UserDefaults &) = delete;
    UserDefaults &operator=(const UserDefaults &) = delete;

    static std::shared_ptr<UserDefaults> standard();
    static std::shared_ptr<UserDefaults> suite(const QString &name);

    // The folder that holds the domains, and the file of one suite.
    static QString settingsDirectory();
    static QString suiteFilePath(const QString &name);
    static QString standardFilePath();

    QString filePath() const;

    bool contains(const QString &key) const;
    // Every key of the domain, as its full dictionary representation lists them.
    QStringList keys() const;
    std::optional<QVariant> object(const QString &key) const;

    // 0 when missing or not a number; text is parsed as a C-locale number ("inf" and "nan"
    // included).
    double doubleValue(const QString &key) const;
    qint64 integerValue(const QString &key) const;
    // Numbers are true when not 0; text is true for "true", "yes" or a non-zero number.
    bool boolValue(const QString &key) const;
    // Text, or the text form of a stored number or flag; none for anything else.
    std::optional<QString> stringValue(const QString &key) const;
    // A stored date, else none.
    std::optional<QDateTime> dateValue(const QString &key) const;

    void setDouble(const QString &key, double value);
    void setInteger(const QString &key, qint64 value);
    void setBool(const QString &key, bool value);
    void setString(const QString &key, const QString &value);
    void setDate(const QString &key, const QDateTime &value);
    void setObject(const QString &key, const QVariant &value);
    void remove(const QString &key);

    // Writes pending changes to the file now (they are also written from the event loop and
    // when the object goes away).
    void synchronize();

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace velmora
