#include "platform/UserDefaults.h"

#include "platform/FileSystemError.h"
#include "platform/PlatformLogging.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QLockFile>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmora {

namespace {

// INI files keep numbers as text; a text value is read back as a number when it holds one.
std::optional<double> numberFromVariant(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toDouble();
    case QMetaType::Bool:
        return value.toBool() ? 1.0 : 0.0;
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = value.toString().trimmed();
        bool ok = false;
        const double number = QLocale::c().toDouble(text, &ok);
        if (ok)
            return number;
        const QString lower = text.toLower();
        if (lower == u"inf" || lower == u"+inf" || lower == u"infinity")
            return std::numeric_limits<double>::infinity();
        if (lower == u"-inf" || lower == u"-infinity")
            return -std::numeric_limits<double>::infinity();
        if (lower == u"nan")
            return std::numeric_limits<double>::quiet_NaN();
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// A process killed between creating the settings lock and writing its owner into it leaves the
// lock empty, and QSettings waits 30 s before it calls such a lock stale. A live holder keeps an
// advisory lock on the file, which the removal takes first, so only an abandoned lock goes.
void removeAbandonedLock(const QString &settingsPath) {
    const QString lockPath = settingsPath + QStringLiteral(".lock");
    const QFileInfo lock(lockPath);
    if (lock.exists() && lock.size() == 0 && !QLockFile(lockPath).removeStaleLockFile())
        qCWarning(lcPlatform) << "Could not remove the abandoned settings lock" << lockPath
                              << "- its holder may still live";
}

// QSettings writes a new file with the process's umask and keeps the mode of an existing one, so
// the file is made, or made again, for its owner only before QSettings first writes it.
void prepareOwnerOnlyFile(const QString &filePath) {
    try {
        createDirectories(QFileInfo(filePath).absolutePath());
    } catch (const FileSystemError &error) {
        // QSettings reports the same fault as its status when it writes.
        qCWarning(lcPlatform) << "Settings folder unavailable:" << error.message();
        return;
    }
    makeOwnerOnlyFile(filePath);
}

std::unique_ptr<QSettings> openSettings(const QString &filePath) {
    removeAbandonedLock(filePath);
    prepareOwnerOnlyFile(filePath);
    return std::make_unique<QSettings>(filePath, QSettings::IniFormat);
}

} // namespace

UserDefaults::UserDefaults(const QString &filePath)
    : m_settings(openSettings(filePath)) {}

UserDefaults::~UserDefaults() = default;

std::shared_ptr<UserDefaults> UserDefaults::standard() {
    return std::make_shared<UserDefaults>(standardFilePath());
}

std::shared_ptr<UserDefaults> UserDefaults::suite(const QString &name) {
    return std::make_shared<UserDefaults>(suiteFilePath(name));
}

QString UserDefaults::settingsDirectory() {
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/Velmora"));
}

QString UserDefaults::suiteFilePath(const QString &name) {
    // Suites live in a folder of their own under names with every separator encoded, so no
    // suite name (a test suite called "Velmora" included) reaches the standard domain's file.
    return settingsDirectory() + QStringLiteral("/Suites/") +
           QString::fromLatin1(QUrl::toPercentEncoding(name)) + QStringLiteral(".ini");
}

QString UserDefaults::standardFilePath() {
    return settingsDirectory() + QStringLiteral("/Velmora.ini");
}

QString UserDefaults::filePath() const {
    return m_settings->fileName();
}

bool UserDefaults::contains(const QString &key) const {
    return m_settings->contains(key);
}

QStringList UserDefaults::keys() const {
    return m_settings->allKeys();
}

std::optional<QVariant> UserDefaults::object(const QString &key) const {
    if (!m_settings->contains(key))
        return std::nullopt;
    return m_settings->value(key);
}

double UserDefaults::doubleValue(const QString &key) const {
    const auto stored = object(key);
    if (!stored)
        return 0;
    return numberFromVariant(*stored).value_or(0);
}

qint64 UserDefaults::integerValue(const QString &key) const {
    const double number = doubleValue(key);
    if (!std::isfinite(number))
        return 0;
    return qint64(std::clamp(number, double(std::numeric_limits<qint64>::min()),
                             double(std::numeric_limits<qint64>::max())));
}

bool UserDefaults::boolValue(const QString &key) const {
    const auto stored = object(key);
    if (!stored)
        return false;
    if (stored->typeId() == QMetaType::QString) {
        const QString text = stored->toString().trimmed().toLower();
        if (text == u"true" || text == u"yes")
            return true;
    }
    const auto number = numberFromVariant(*stored);
    return number && *number != 0 && !std::isnan(*number);
}

std::optional<QString> UserDefaults::stringValue(const QString &key) const {
    const auto stored = object(key);
    if (!stored)
        return std::nullopt;
    switch (stored->typeId()) {
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::Bool:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        // As the file keeps it, so a value reads the same before and after a restart.
        return stored->toString();
    default:
        return std::nullopt;
    }
}

std::optional<QDateTime> UserDefaults::dateValue(const QString &key) const {
    const auto stored = object(key);
    if (!stored || stored->typeId() != QMetaType::QDateTime)
        return std::nullopt;
    return stored->toDateTime().toUTC();
}

void UserDefaults::setDouble(const QString &key, double value) {
    m_settings->setValue(key, value);
}

void UserDefaults::setInteger(const QString &key, qint64 value) {
    m_settings->setValue(key, value);
}

void UserDefaults::setBool(const QString &key, bool value) {
    m_settings->setValue(key, value);
}

void UserDefaults::setString(const QString &key, const QString &value) {
    m_settings->setValue(key, value);
}

void UserDefaults::setDate(const QString &key, const QDateTime &value) {
    m_settings->setValue(key, value.toUTC());
}

void UserDefaults::setObject(const QString &key, const QVariant &value) {
    m_settings->setValue(key, value);
}

void UserDefaults::remove(const QString &key) {
    m_settings->remove(key);
}

void UserDefaults::synchronize() {
    m_settings->sync();
}

} // namespace velmora
