#include "backup/DiaryTransferCodec.h"

#include "backup/BackupLogging.h"
#include "backup/FastJson.h"
#include "backup/StaleStaging.h"
#include "platform/Cancellation.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"
#include "platform/GregorianCalendar.h"
#include "platform/JsonCoding.h"
#include "platform/UuidText.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocale>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTimeZone>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

const QString formatIdentifier = QStringLiteral("velmora-export");
const QString exportTemporaryPrefix = QStringLiteral(".velmora-export-");
constexpr JsonDateEncoding isoDates = JsonDateEncoding::iso8601;

// The internet date-time form: seconds required, no fraction, "Z" or a numeric offset.
std::optional<QDateTime> parseInternetDate(const QString &text) {
    static const QRegularExpression shape(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(Z|[+-]\d{2}:\d{2})$)"));
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    const QDateTime parsed = QDateTime::fromString(text, Qt::ISODate);
    if (!parsed.isValid())
        return std::nullopt;
    return parsed.toUTC();
}

QDateTime internetDate(const QJsonValue &value, const QStringList &path) {
    if (auto parsed = parseInternetDate(json::string(value, path)))
        return *parsed;
    json::throwCorrupted(path, QStringLiteral("Expected date string to be ISO8601-formatted."));
}

// The shared entry decoder reads fractions of a second too; the export file has none.
DiaryEntryDTO decodeEntry(const QJsonValue &value, const QStringList &path) {
    const JsonObjectReader reader(value, path);
    for (const char *key : {"createdAt", "updatedAt", "sealedAt"}) {
        const QString name = QString::fromLatin1(key);
        if (const auto date = reader.optional(name); date && date->isString())
            internetDate(*date, reader.pathOf(name));
    }
    return DiaryEntryDTO::fromJson(value, isoDates, path);
}

DiaryTransferInk decodeInk(const QJsonValue &value, const QStringList &path) {
    const JsonObjectReader reader(value, path);
    return {reader.decode(QStringLiteral("dayKey"), &DayKey::fromJson),
            reader.int64(QStringLiteral("leaf")), reader.base64Data(QStringLiteral("drawing"))};
}

void throwIfStopped(const std::stop_token &stop) {
    if (stop.stop_requested())
        throw CancellationError();
}

DiaryTransferDocument decodeCurrent(const QJsonValue &root, const std::stop_token &stop) {
    const JsonObjectReader reader(root);
    DiaryTransferDocument document;
    document.format = reader.string(QStringLiteral("format"));
    document.version = reader.int64(QStringLiteral("version"));
    document.exportedAt = reader.decode(QStringLiteral("exportedAt"), &internetDate);
    document.diaryID = reader.uuid(QStringLiteral("diaryID"));
    document.entries = reader.list<DiaryEntryDTO>(
        QStringLiteral("entries"), [&stop](const QJsonValue &value, const QStringList &path) {
            throwIfStopped(stop);
            return decodeEntry(value, path);
        });
    const JsonObjectReader settings(reader.required(QStringLiteral("settings")),
                                    reader.pathOf(QStringLiteral("settings")));
    document.settings = {settings.string(QStringLiteral("userName")),
                         settings.string(QStringLiteral("selectedFont")),
                         settings.number(QStringLiteral("defaultFontSize")),
                         settings.string(QStringLiteral("appAppearance"))};
    document.handwriting = reader.optionalDecode(
        QStringLiteral("handwriting"), [](const QJsonValue &value, const QStringList &path) {
            return json::list<DiaryTransferInk>(value, path, &decodeInk);
        });
    return document;
}

DiaryEntryDTO convertLegacyEntry(const QJsonValue &value, qsizetype index) {
    const JsonObjectReader reader(
        value, {QStringLiteral("entries"), QStringLiteral("Index %1").arg(index)});
    const QString id = reader.string(QStringLiteral("id"));
    const QString date = reader.string(QStringLiteral("date"));
    const QString content = reader.string(QStringLiteral("content"));
    const QString fontName = reader.string(QStringLiteral("fontName"));
    const bool isLocked = reader.boolean(QStringLiteral("isLocked"));
    const QString createdAtText = reader.string(QStringLiteral("createdAt"));
    const auto uuid = uuidFromText(id);
    const auto moment = parseInternetDate(date);
    const auto createdAt = parseInternetDate(createdAtText);
    if (!uuid || !moment || !createdAt)
        throw DiaryTransferError::malformedDocument(
            QCoreApplication::translate("DiaryTransferError", "invalid entry at index %1")
                .arg(index));
    const auto components = GregorianCalendar::utc().components(*moment);
    return {*uuid,
            DayKey::fromCivilDate(components.year, components.month, components.day),
            content,
            fontName,
            16.0,
            isLocked ? DiaryEntryStatus::sealed : DiaryEntryStatus::draft,
            QStringLiteral("Etc/UTC"),
            *createdAt,
            *createdAt,
            isLocked ? std::optional(*createdAt) : std::nullopt,
            DiaryRevision{1}};
}

DiaryTransferDocument decodeLegacyValue(const QJsonValue &root, bool isVersion2) {
    struct Legacy {
        QString exportDate;
        QJsonArray entries;
        std::optional<QJsonObject> settings;
        std::optional<QString> userName, selectedFont, appAppearance;
        std::optional<double> defaultFontSize;
    } legacy;
    // The whole layout is decoded before anything is converted, as one decoder would.
    try {
        const JsonObjectReader reader(root);
        reader.string(QStringLiteral("version"));
        legacy.exportDate = reader.string(QStringLiteral("exportDate"));
        legacy.entries = reader.decode(QStringLiteral("entries"), &json::array);
        for (qsizetype i = 0; i < legacy.entries.size(); ++i) {
            const JsonObjectReader entry(legacy.entries.at(i), {QStringLiteral("entries"),
                                                                QStringLiteral("Index %1").arg(i)});
            for (const char *key : {"id", "date", "content", "fontName", "createdAt"})
                entry.string(QString::fromLatin1(key));
            entry.boolean(QStringLiteral("isLocked"));
        }
        legacy.settings = reader.optionalDecode(QStringLiteral("settings"), &json::object);
        if (legacy.settings) {
            const JsonObjectReader settings(*legacy.settings, {QStringLiteral("settings")});
            legacy.userName = settings.optionalString(QStringLiteral("userName"));
            legacy.selectedFont = settings.optionalString(QStringLiteral("selectedFont"));
            legacy.appAppearance = settings.optionalString(QStringLiteral("appAppearance"));
            legacy.defaultFontSize =
                settings.optionalDecode(QStringLiteral("defaultFontSize"), &json::number);
        }
    } catch (const JsonDecodingError &error) {
        throw DiaryTransferError::malformedDocument(error.message());
    }

    const auto exportedAt = parseInternetDate(legacy.exportDate);
    if (!exportedAt)
        throw DiaryTransferError::malformedDocument(
            QCoreApplication::translate("DiaryTransferError", "invalid export date"));
    DiaryTransferDocument document;
    document.exportedAt = *exportedAt;
    document.diaryID = QUuid::createUuid();
    document.entries.reserve(legacy.entries.size());
    for (qsizetype i = 0; i < legacy.entries.size(); ++i)
        document.entries.append(convertLegacyEntry(legacy.entries.at(i), i));
    document.settings = {QString(), QStringLiteral("Georgia"), 16.0, QStringLiteral("System")};
    if (isVersion2) {
        document.settings.userName = legacy.userName.value_or(document.settings.userName);
        document.settings.selectedFont =
            legacy.selectedFont.value_or(document.settings.selectedFont);
        document.settings.defaultFontSize =
            legacy.defaultFontSize.value_or(document.settings.defaultFontSize);
        document.settings.appAppearance =
            legacy.appAppearance.value_or(document.settings.appAppearance);
    }
    return document;
}

// How a version that is not supported reads in the message: a number by its digits, a text
// without its quotes.
QString versionDescription(const QJsonValue &value) {
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double: {
        const double number = value.toDouble();
        if (std::trunc(number) == number && std::fabs(number) < 9.0e15)
            return QString::number(qint64(number));
        return QString::number(number, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return QStringLiteral("<null>");
    case QJsonValue::Array:
    case QJsonValue::Object:
        break;
    }
    return QString::fromUtf8(writeJson(value));
}

// UTF-8 length without making the UTF-8 copy; a lone surrogate counts as its replacement.
qint64 utf8Length(const QString &text) {
    qint64 length = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x80) {
            length += 1;
        } else if (c < 0x800) {
            length += 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < size &&
                   QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            length += 4;
            ++i;
        } else {
            length += 3;
        }
    }
    return length;
}

QJsonObject entryJson(DiaryEntryDTO entry) {
    entry.createdAt = DiaryTransferCodec::wholeSeconds(entry.createdAt);
    entry.updatedAt = DiaryTransferCodec::wholeSeconds(entry.updatedAt);
    if (entry.sealedAt)
        entry.sealedAt = DiaryTransferCodec::wholeSeconds(*entry.sealedAt);
    return entry.toJson(isoDates);
}

// Everything of the document but its diary's id and its entries.
QJsonObject documentJsonAfterEntries(const DiaryTransferDocument &document) {
    QJsonObject object{
        {QStringLiteral("format"), document.format},
        {QStringLiteral("version"), document.version},
        {QStringLiteral("exportedAt"),
         encodeDate(DiaryTransferCodec::wholeSeconds(document.exportedAt), isoDates)},
        {QStringLiteral("settings"),
         QJsonObject{{QStringLiteral("userName"), document.settings.userName},
                     {QStringLiteral("selectedFont"), document.settings.selectedFont},
                     {QStringLiteral("defaultFontSize"), document.settings.defaultFontSize},
                     {QStringLiteral("appAppearance"), document.settings.appAppearance}}},
    };
    if (document.handwriting) {
        QJsonArray inks;
        for (const DiaryTransferInk &ink : *document.handwriting)
            inks.append(QJsonObject{
                {QStringLiteral("dayKey"), ink.dayKey.toJson()},
                {QStringLiteral("leaf"), ink.leaf},
                {QStringLiteral("drawing"), QString::fromLatin1(ink.drawing.toBase64())}});
        object.insert(QStringLiteral("handwriting"), inks);
    }
    return object;
}

// The document as the canonical writer writes it, entry by entry, so that a stop is heard between
// entries and a document past `byteLimit` is refused as soon as it is. The writer sorts keys:
// "diaryID" comes before "entries", every other key after them.
QByteArray encodeDocument(const DiaryTransferDocument &document, const std::stop_token &stop,
                          qint64 byteLimit) {
    QByteArray bytes =
        writeJson(QJsonObject{{QStringLiteral("diaryID"), uuidText(document.diaryID)}});
    bytes.chop(1);
    bytes.append(",\"entries\":[");
    for (qsizetype i = 0; i < document.entries.size(); ++i) {
        throwIfStopped(stop);
        if (i > 0)
            bytes.append(',');
        bytes.append(writeJson(entryJson(document.entries.at(i))));
        if (bytes.size() > byteLimit)
            throw DiaryTransferError::exportTooLarge();
    }
    bytes.append(']');
    QByteArray after = writeJson(documentJsonAfterEntries(document));
    after[0] = ',';
    bytes.append(after);
    if (bytes.size() > byteLimit)
        throw DiaryTransferError::exportTooLarge();
    return bytes;
}

// At most `size` bytes of an open file from its start, with room after them, so that the parser
// reads them where they lie.
QByteArray readOpenFile(int fd, qint64 size, const QString &path) {
    QByteArray bytes;
    bytes.reserve(qsizetype(size) + fastJsonPadding);
    bytes.resize(qsizetype(size));
    readFromStart(fd, bytes, path);
    return bytes;
}

bool validSize(double size) {
    return std::isfinite(size) && size >= 12.0 && size <= 24.0;
}

} // namespace

QString DiaryTransferError::message() const {
    switch (m_case) {
    case Case::unsupportedVersion:
        return QCoreApplication::translate("DiaryTransferError",
                                           "Import version %1 is not supported.")
            .arg(shownExcerpt(m_text));
    case Case::malformedDocument:
        return QCoreApplication::translate("DiaryTransferError", "The import file is malformed: ") +
               shownExcerpt(m_text);
    case Case::recordTooLarge:
        return QCoreApplication::translate("DiaryTransferError",
                                           "Entry %1 exceeds the 8 MiB text limit.")
            .arg(m_index + 1);
    case Case::inputTooLarge:
        return QCoreApplication::translate("DiaryTransferError",
                                           "The import file is larger than 256 MiB.");
    case Case::missingVersion:
        return QCoreApplication::translate("DiaryTransferError",
                                           "The import file does not declare a version.");
    case Case::tooManyRecords:
        return QCoreApplication::translate("DiaryTransferError",
                                           "The import contains more than 100,000 entries.");
    case Case::duplicateIdentifier:
        return QCoreApplication::translate("DiaryTransferError",
                                           "The import contains duplicate entry identifiers.");
    case Case::duplicateDay:
        return QCoreApplication::translate(
            "DiaryTransferError", "The import contains more than one entry for a civil day.");
    case Case::destinationExists:
        return QCoreApplication::translate("DiaryTransferError",
                                           "A file already exists at the export location.");
    case Case::notAFile:
        return QCoreApplication::translate(
                   "DiaryTransferError",
                   "“%1” is not an ordinary file. Choose a Velmora export file.")
            .arg(shownExcerpt(m_text));
    case Case::diaryStore:
        return QCoreApplication::translate(
                   "DiaryTransferError",
                   "“%1” is the diary’s own store, not an export. Choose a Velmora export file.")
            .arg(shownExcerpt(m_text));
    case Case::exportReplaced:
        return QCoreApplication::translate(
            "DiaryTransferError",
            "The export was replaced by another file while it was being saved, so nothing was "
            "exported. Export to a folder only you can write to.");
    case Case::exportTooLarge:
        return QCoreApplication::translate(
            "DiaryTransferError",
            "The export would be larger than 256 MiB, more than an import can read, so nothing "
            "was exported.");
    }
    return {};
}

QDateTime DiaryTransferCodec::wholeSeconds(const QDateTime &moment) {
    const qint64 ms = moment.toMSecsSinceEpoch();
    return QDateTime::fromMSecsSinceEpoch(ms - ((ms % 1000) + 1000) % 1000, QTimeZone::utc());
}

QByteArray DiaryTransferCodec::readFile(const QString &source, const QStringList &neverOpened,
                                        const std::function<void()> &beforeOpening) {
    const QString name = QFileInfo(source).fileName();
    if (beforeOpening)
        beforeOpening();
    // Looked at through a descriptor that reads nothing and whose closing keeps this process's
    // locks, and then read as that very file, whatever the path names by then.
    const int found = ::open(QFile::encodeName(source).constData(), O_PATH | O_CLOEXEC);
    if (found < 0)
        throw FileSystemError(QStringLiteral("Could not read"), source, errno);
    const auto forgetting = qScopeGuard([found] { ::close(found); });
    struct stat status {};
    if (::fstat(found, &status) != 0)
        throw FileSystemError(QStringLiteral("Could not read"), source, errno);
    for (const QString &kept : neverOpened) {
        struct stat keptStatus {};
        if (::stat(QFile::encodeName(kept).constData(), &keptStatus) == 0 &&
            keptStatus.st_dev == status.st_dev && keptStatus.st_ino == status.st_ino)
            throw DiaryTransferError::diaryStore(name);
    }
    if (!S_ISREG(status.st_mode))
        throw DiaryTransferError::notAFile(name);
    const QByteArray same = "/proc/self/fd/" + QByteArray::number(found);
    const int fd = ::open(same.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        throw FileSystemError(QStringLiteral("Could not read"), source, errno);
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    if (qint64(status.st_size) > DiaryTransferCodec::inputByteLimit)
        throw DiaryTransferError::inputTooLarge();
    return readOpenFile(fd, status.st_size, source);
}

DiaryTransferDocument DiaryTransferCodec::decode(const QByteArray &data, std::stop_token stop) {
    if (data.size() > inputByteLimit)
        throw DiaryTransferError::inputTooLarge();
    QJsonValue root;
    try {
        root = parseJsonFast(data, {}, stop);
    } catch (const JsonDecodingError &error) {
        throw DiaryTransferError::malformedDocument(error.message());
    }
    if (!root.isObject() || !root.toObject().contains(QStringLiteral("version")))
        throw DiaryTransferError::missingVersion();
    const QJsonValue version = root.toObject().value(QStringLiteral("version"));
    const QString text = version.toString();
    DiaryTransferDocument document;
    if (version.isDouble() && version.toDouble() == 3.0) {
        try {
            document = decodeCurrent(root, stop);
        } catch (const JsonDecodingError &error) {
            throw DiaryTransferError::malformedDocument(error.message());
        }
        if (document.format != formatIdentifier)
            throw DiaryTransferError::malformedDocument(
                QCoreApplication::translate("DiaryTransferError", "invalid format identifier"));
    } else if (version.isString() &&
               (text == QLatin1String("1") || text.startsWith(QLatin1String("1.")))) {
        document = decodeLegacyValue(root, false);
    } else if (version.isString() &&
               (text == QLatin1String("2") || text.startsWith(QLatin1String("2.")))) {
        document = decodeLegacyValue(root, true);
    } else {
        throw DiaryTransferError::unsupportedVersion(versionDescription(version));
    }
    validate(document, stop);
    return document;
}

DiaryTransferDocument DiaryTransferCodec::decodeLegacy(const QByteArray &data, bool isVersion2) {
    QJsonValue root;
    try {
        root = parseJsonFast(data);
    } catch (const JsonDecodingError &error) {
        throw DiaryTransferError::malformedDocument(error.message());
    }
    return decodeLegacyValue(root, isVersion2);
}

void DiaryTransferCodec::validate(const DiaryTransferDocument &document, std::stop_token stop) {
    if (document.version != 3)
        throw DiaryTransferError::unsupportedVersion(QString::number(document.version));
    if (document.entries.size() > entryLimit)
        throw DiaryTransferError::tooManyRecords();
    QSet<QUuid> ids;
    QSet<DayKey> days;
    ids.reserve(document.entries.size());
    days.reserve(document.entries.size());
    for (qsizetype index = 0; index < document.entries.size(); ++index) {
        throwIfStopped(stop);
        const DiaryEntryDTO &entry = document.entries.at(index);
        if (utf8Length(entry.content) > contentByteLimit)
            throw DiaryTransferError::recordTooLarge(index);
        if (!validSize(entry.bodyPointSize) || entry.fontName.trimmed().isEmpty() ||
            entry.updatedAt < entry.createdAt || entry.revision.rawValue < 1)
            throw DiaryTransferError::malformedDocument(
                QCoreApplication::translate("DiaryTransferError",
                                            "invalid style, timestamp, or revision at index %1")
                    .arg(index));
        ids.insert(entry.id);
        days.insert(entry.dayKey);
    }
    if (ids.size() != document.entries.size())
        throw DiaryTransferError::duplicateIdentifier();
    if (days.size() != document.entries.size())
        throw DiaryTransferError::duplicateDay();
    if (!validSize(document.settings.defaultFontSize))
        throw DiaryTransferError::malformedDocument(
            QCoreApplication::translate("DiaryTransferError", "invalid default font size"));
}

QByteArray DiaryTransferCodec::encode(const DiaryTransferDocument &document) {
    validate(document);
    return encodeDocument(document, {}, std::numeric_limits<qint64>::max());
}

void DiaryTransferCodec::write(const DiaryTransferDocument &document, const QString &destination,
                               const WriteStepObserver &observer, std::stop_token stop) {
    const auto passed = [&](DiaryTransferWriteStep step, const QString &temporary) {
        if (observer)
            observer(step, temporary);
        throwIfStopped(stop);
    };
    const QString target = standardizedPath(destination);
    struct stat existing {};
    if (::lstat(QFile::encodeName(target).constData(), &existing) == 0)
        throw DiaryTransferError::destinationExists();
    validate(document, stop);
    const QByteArray bytes = encodeDocument(document, stop, inputByteLimit);
    throwIfStopped(stop);
    const QString folder = QFileInfo(target).path();
    removeStaleStaging(StagingKind::file, folder, exportTemporaryPrefix, QStringLiteral(".json"));
    // And what a write killed before its rename leaves of the temporary file itself.
    removeStaleStaging(StagingKind::file, folder, QLatin1Char('.') + exportTemporaryPrefix);
    const FileDescriptor folderFd(
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0)
        throw FileSystemError(QStringLiteral("Could not create a file in"), folder, errno);
    const QString name =
        exportTemporaryPrefix + uuidText(QUuid::createUuid()) + QStringLiteral(".json");
    const QByteArray temporary = QFile::encodeName(name);
    const QByteArray moved = QFile::encodeName(QFileInfo(target).fileName());
    const QString temporaryPath = folder + QLatin1Char('/') + name;
    // Whoever can write into the folder can put anything in the temporary file's place, a link
    // to the diary's store among them; closing any descriptor of one of the store's files would
    // drop this process's locks on it. So the file is read back through the descriptor it was
    // written with, and moved into place only if the name still led to it.
    FileDescriptor written = createFileAt(folderFd.get(), folder, name, {bytes});
    try {
        struct stat status {};
        if (::fstat(written.get(), &status) != 0)
            throw FileSystemError(QStringLiteral("Could not read the attributes of"), temporaryPath,
                                  errno);
        passed(DiaryTransferWriteStep::written, temporaryPath);
        decode(readOpenFile(written.get(), status.st_size, temporaryPath), stop);
        passed(DiaryTransferWriteStep::readBack, temporaryPath);
        if (::renameat2(folderFd.get(), temporary.constData(), folderFd.get(), moved.constData(),
                        RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                throw DiaryTransferError::destinationExists();
            throw FileSystemError(QStringLiteral("Could not move the export into place at"), target,
                                  errno);
        }
        struct stat placed {};
        if (::fstatat(folderFd.get(), moved.constData(), &placed, AT_SYMLINK_NOFOLLOW) != 0 ||
            placed.st_dev != status.st_dev || placed.st_ino != status.st_ino) {
            // Only the name goes: what it leads to is left as it is.
            ::unlinkat(folderFd.get(), moved.constData(),
                       S_ISDIR(placed.st_mode) ? AT_REMOVEDIR : 0);
            throw DiaryTransferError::exportReplaced();
        }
    } catch (...) {
        if (::unlinkat(folderFd.get(), temporary.constData(), 0) != 0 && errno != ENOENT)
            qCWarning(lcBackup) << "Could not remove the temporary export" << temporaryPath;
        throw;
    }
    if (::fsync(folderFd.get()) != 0)
        qCWarning(lcBackup) << "The export may not survive a power cut: could not flush" << folder
                            << std::strerror(errno);
}

} // namespace velmora
