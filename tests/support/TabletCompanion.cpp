#include "support/TabletCompanion.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <QUuid>

#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace velmora::test {

namespace {

[[noreturn]] void fail(const QString &what) {
    throw std::runtime_error(what.toStdString());
}

// JSON text written the tablet's way: slashes as they are, two-space indent, "key": value.
QString quoted(const QString &text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += QStringLiteral("\\\"");
            break;
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out + QLatin1Char('"');
}

QString seconds(qint64 ms) {
    return QString::number(double(ms) / 1000.0, 'f', 3);
}

QString number(double value) {
    return QString::number(value, 'g', 17);
}

void writeReplacing(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString temporary = QFileInfo(path).absolutePath() + QStringLiteral("/.") +
                              QFileInfo(path).fileName() + QStringLiteral(".tablet-") +
                              QUuid::createUuid().toString(QUuid::Id128).left(8);
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        fail(QStringLiteral("cannot write ") + temporary);
    file.close();
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) !=
        0)
        fail(QStringLiteral("cannot rename into ") + path);
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The tablet's own notion of a file's version.
std::optional<QString> versionOf(const QString &path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return QStringLiteral("%1-%2.%3")
        .arg(qint64(status.st_size))
        .arg(qint64(status.st_mtim.tv_sec))
        .arg(qint64(status.st_mtim.tv_nsec));
}

qint64 sealTime(const CompanionPage &page) {
    return page.sealedAtMs.value_or(page.updatedAtMs);
}

// Two pages sealed in the same millisecond: the order both devices agree on.
auto tieOrder(const CompanionPage &page) {
    return std::tuple(
        QString::fromLatin1(
            QCryptographicHash::hash(page.content.toUtf8(), QCryptographicHash::Sha256).toHex()),
        page.id.toUpper(), page.fontName, page.bodyPointSize);
}

// The diary's rules, from the tablet's side.
bool incomingWins(const CompanionPage &local, const CompanionPage &incoming, bool localChanged) {
    if (!local.sealed && incoming.sealed)
        return true;
    if (local.sealed && !incoming.sealed)
        return false;
    if (local.sealed)
        return sealTime(incoming) != sealTime(local) ? sealTime(incoming) < sealTime(local)
                                                     : tieOrder(incoming) < tieOrder(local);
    return !localChanged || incoming.updatedAtMs > local.updatedAtMs;
}

CompanionPage preferred(const QList<CompanionPage> &versions) {
    CompanionPage chosen = versions.first();
    for (qsizetype i = 1; i < versions.size(); ++i) {
        const CompanionPage &version = versions.at(i);
        if ((version.sealed != chosen.sealed && version.sealed) ||
            (version.sealed == chosen.sealed && version.updatedAtMs > chosen.updatedAtMs))
            chosen = version;
    }
    return chosen;
}

QJsonObject pageJson(const CompanionPage &page) {
    QJsonObject object = QJsonDocument::fromJson(TabletCompanion::encodePage(page))
                             .object()
                             .value(QStringLiteral("entry"))
                             .toObject();
    return object;
}

} // namespace

bool CompanionPage::samePage(const CompanionPage &other) const {
    return content == other.content && sealed == other.sealed && fontName == other.fontName &&
           bodyPointSize == other.bodyPointSize;
}

TabletCompanion::TabletCompanion(QString root, QString stateFolder)
    : m_root(QDir::cleanPath(std::move(root)))
    , m_stateFolder(std::move(stateFolder)) {
    QDir().mkpath(m_stateFolder);
    loadState();
}

QString TabletCompanion::pagePath(const QString &dayKey) const {
    return pagesFolder() + QLatin1Char('/') + dayKey + QStringLiteral(".json");
}

QByteArray TabletCompanion::encodePage(const CompanionPage &page) {
    QStringList entry{
        QStringLiteral("\"bodyPointSize\": ") + number(page.bodyPointSize),
        QStringLiteral("\"content\": ") + quoted(page.content),
        QStringLiteral("\"createdAt\": ") + seconds(page.createdAtMs),
        QStringLiteral("\"dayKey\": ") + quoted(page.dayKey),
        QStringLiteral("\"fontName\": ") + quoted(page.fontName),
        QStringLiteral("\"id\": ") + quoted(page.id),
        QStringLiteral("\"originTimeZone\": ") + quoted(page.originTimeZone),
        QStringLiteral("\"revision\": ") + QString::number(page.revision),
    };
    if (page.sealedAtMs)
        entry.append(QStringLiteral("\"sealedAt\": ") + seconds(*page.sealedAtMs));
    entry.append(QStringLiteral("\"status\": ") +
                 quoted(page.sealed ? QStringLiteral("sealed") : QStringLiteral("draft")));
    entry.append(QStringLiteral("\"updatedAt\": ") + seconds(page.updatedAtMs));
    const QString text =
        QStringLiteral("{\n  \"entry\": {\n    ") + entry.join(QStringLiteral(",\n    ")) +
        QStringLiteral("\n  },\n  \"format\": \"velmora-page\",\n  \"version\": 1\n}\n");
    return text.toUtf8();
}

std::optional<CompanionPage> TabletCompanion::decodePage(const QByteArray &bytes) {
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(bytes, &error).object();
    if (error.error != QJsonParseError::NoError ||
        root.value(QStringLiteral("format")).toString() != u"velmora-page" ||
        root.value(QStringLiteral("version")).toInt() != 1 ||
        !root.value(QStringLiteral("entry")).isObject())
        return std::nullopt;
    const QJsonObject entry = root.value(QStringLiteral("entry")).toObject();
    for (const char *key : {"id", "dayKey", "content", "fontName", "bodyPointSize", "status",
                            "originTimeZone", "createdAt", "updatedAt", "revision"}) {
        if (!entry.contains(QLatin1String(key)))
            return std::nullopt;
    }
    const auto ms = [&](const char *key) {
        return qint64(std::llround(entry.value(QLatin1String(key)).toDouble() * 1000.0));
    };
    CompanionPage page;
    page.id = entry.value(QStringLiteral("id")).toString();
    page.dayKey = entry.value(QStringLiteral("dayKey")).toString();
    page.content = entry.value(QStringLiteral("content")).toString();
    page.fontName = entry.value(QStringLiteral("fontName")).toString();
    page.bodyPointSize = entry.value(QStringLiteral("bodyPointSize")).toDouble();
    page.sealed = entry.value(QStringLiteral("status")).toString() == u"sealed";
    page.originTimeZone = entry.value(QStringLiteral("originTimeZone")).toString();
    page.createdAtMs = ms("createdAt");
    page.updatedAtMs = ms("updatedAt");
    if (entry.contains(QStringLiteral("sealedAt")))
        page.sealedAtMs = ms("sealedAt");
    page.revision = entry.value(QStringLiteral("revision")).toInteger();
    return page;
}

QByteArray TabletCompanion::encodeDrawing(const QList<CompanionStroke> &strokes) {
    QStringList encoded;
    for (const CompanionStroke &stroke : strokes) {
        QStringList points;
        for (const auto &[x, y, force] : stroke.points)
            points.append(QStringLiteral("[%1,%2,%3]").arg(number(x), number(y), number(force)));
        encoded.append(
            QStringLiteral("{\"color\":%1,\"width\":%2,\"points\":[%3]}")
                .arg(quoted(stroke.color), number(stroke.width), points.join(QLatin1Char(','))));
    }
    return QStringLiteral("{\"format\":\"velmora-drawing\",\"version\":1,\"strokes\":[%1]}")
        .arg(encoded.join(QLatin1Char(',')))
        .toUtf8();
}

QByteArray TabletCompanion::encodeProfile(const Profile &profile) {
    return QStringLiteral("{\"userName\":%1,\"changedAt\":%2}")
        .arg(quoted(profile.userName), seconds(profile.changedAtMs))
        .toUtf8();
}

CompanionPage TabletCompanion::page(const QString &dayKey, const QString &content, bool sealed) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    CompanionPage page;
    page.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    page.dayKey = dayKey;
    page.content = content;
    page.createdAtMs = now;
    page.updatedAtMs = now;
    page.sealed = sealed;
    if (sealed)
        page.sealedAtMs = now;
    return page;
}

QString TabletCompanion::writePage(const CompanionPage &page) const {
    const QString path = pagePath(page.dayKey);
    writeReplacing(path, encodePage(page));
    return path;
}

QString TabletCompanion::writeConflictCopy(const CompanionPage &page, qint64 atMs,
                                           const QString &device) const {
    const QString stamp = QDateTime::fromMSecsSinceEpoch(atMs, QTimeZone::utc())
                              .toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString path = pagesFolder() + QLatin1Char('/') + page.dayKey +
                         QStringLiteral(".sync-conflict-") + stamp + QLatin1Char('-') + device +
                         QStringLiteral(".json");
    writeReplacing(path, encodePage(page));
    setModified(QFileInfo(path).fileName().prepend(QStringLiteral("Pages/")), atMs);
    return path;
}

QString TabletCompanion::writeTornPage(const CompanionPage &page, qsizetype keep) const {
    return writeTornFile(QStringLiteral("Pages/") + page.dayKey + QStringLiteral(".json"),
                         encodePage(page), keep);
}

QString TabletCompanion::writeTornFile(const QString &relativePath, const QByteArray &bytes,
                                       qsizetype keep) const {
    const QString path = m_root + QLatin1Char('/') + relativePath;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        fail(QStringLiteral("cannot open ") + path);
    file.write(bytes.left(keep));
    return path;
}

QString TabletCompanion::writePlaceholder(const QString &relativePath, const QByteArray &bytes) {
    const QFileInfo info(m_root + QLatin1Char('/') + relativePath);
    const QString placeholder =
        info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".icloud");
    writeReplacing(placeholder, QByteArray("placeholder"));
    QFile::remove(info.filePath());
    m_heldForDownload.insert(QDir::cleanPath(info.filePath()), bytes);
    return placeholder;
}

std::function<void(const QString &)> TabletCompanion::downloader() {
    return [this](const QString &url) {
        const QString path = QDir::cleanPath(url);
        const auto held = m_heldForDownload.find(path);
        if (held == m_heldForDownload.end())
            return;
        writeReplacing(path, *held);
        const QFileInfo info(path);
        QFile::remove(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                      QStringLiteral(".icloud"));
        m_heldForDownload.erase(held);
    };
}

QString TabletCompanion::writeDrawing(const QString &fileName,
                                      const QList<CompanionStroke> &strokes) const {
    return writeFile(QStringLiteral("Handwriting/") + fileName, encodeDrawing(strokes));
}

QString TabletCompanion::writeFile(const QString &relativePath, const QByteArray &bytes) const {
    const QString path = m_root + QLatin1Char('/') + relativePath;
    writeReplacing(path, bytes);
    return path;
}

void TabletCompanion::writeProfile(const Profile &profile) const {
    writeFile(QStringLiteral("profile.json"), encodeProfile(profile));
}

std::optional<TabletCompanion::Profile> TabletCompanion::readProfile() const {
    const QJsonObject object =
        QJsonDocument::fromJson(readFile(m_root + QStringLiteral("/profile.json"))).object();
    if (!object.value(QStringLiteral("userName")).isString() ||
        !object.value(QStringLiteral("changedAt")).isDouble())
        return std::nullopt;
    return Profile{
        object.value(QStringLiteral("userName")).toString(),
        qint64(std::llround(object.value(QStringLiteral("changedAt")).toDouble() * 1000))};
}

void TabletCompanion::setModified(const QString &relativePath, qint64 msSince1970) const {
    const timespec time{msSince1970 / 1000, long(msSince1970 % 1000) * 1000000};
    const timespec times[2] = {time, time};
    const QString path = m_root + QLatin1Char('/') + relativePath;
    if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        fail(QStringLiteral("cannot set the time of ") + path);
}

void TabletCompanion::remove(const QString &relativePath) const {
    QFile::remove(m_root + QLatin1Char('/') + relativePath);
}

void TabletCompanion::makeUnreadable(const QString &relativeFolder) const {
    // Permissions do not stop the superuser, so the folder is moved aside and a file takes its
    // place: listing it fails for everyone.
    const QString path = m_root + QLatin1Char('/') + relativeFolder;
    if (!QDir().rename(path, path + QStringLiteral(".aside")))
        fail(QStringLiteral("cannot move ") + path);
    writeReplacing(path, QByteArray("not a folder"));
}

void TabletCompanion::makeReadable(const QString &relativeFolder) const {
    const QString path = m_root + QLatin1Char('/') + relativeFolder;
    QFile::remove(path);
    if (!QDir().rename(path + QStringLiteral(".aside"), path))
        fail(QStringLiteral("cannot move back ") + path);
}

void TabletCompanion::vanish() const {
    if (!QDir().rename(m_root, m_root + QStringLiteral(".vanished")))
        fail(QStringLiteral("cannot move ") + m_root);
}

void TabletCompanion::reappear() const {
    if (!QDir().rename(m_root + QStringLiteral(".vanished"), m_root))
        fail(QStringLiteral("cannot move back ") + m_root);
}

std::optional<CompanionPage> TabletCompanion::readPageFile(const QString &dayKey) const {
    return decodePage(readFile(pagePath(dayKey)));
}

QStringList TabletCompanion::pageDays() const {
    QStringList days;
    for (const QString &name :
         QDir(pagesFolder()).entryList({QStringLiteral("*.json")}, QDir::Files)) {
        if (name.size() == 15 && QDate::fromString(name.left(10), Qt::ISODate).isValid())
            days.append(name.left(10));
    }
    return days;
}

QStringList TabletCompanion::conflictCopies(const QString &dayKey) const {
    QStringList copies;
    for (const QString &name :
         QDir(pagesFolder())
             .entryList({dayKey + QStringLiteral("?*.json")}, QDir::Files, QDir::Name)) {
        if (name != dayKey + QStringLiteral(".json") &&
            QStringLiteral(" ._-").contains(name.at(10)))
            copies.append(pagesFolder() + QLatin1Char('/') + name);
    }
    return copies;
}

CompanionPage &TabletCompanion::edit(const QString &dayKey, const QString &content, qint64 atMs) {
    const qint64 now = atMs ? atMs : QDateTime::currentMSecsSinceEpoch();
    auto it = m_pages.find(dayKey);
    if (it == m_pages.end()) {
        CompanionPage made = page(dayKey, content);
        made.createdAtMs = made.updatedAtMs = now;
        it = m_pages.insert(dayKey, made);
    } else {
        it->content = content;
        it->updatedAtMs = now;
        it->revision += 1;
    }
    saveState();
    return *it;
}

CompanionPage &TabletCompanion::seal(const QString &dayKey, qint64 atMs) {
    CompanionPage &page = m_pages[dayKey];
    page.sealed = true;
    page.sealedAtMs = atMs ? atMs : QDateTime::currentMSecsSinceEpoch();
    page.revision += 1;
    saveState();
    return page;
}

TabletCompanion::PassResult TabletCompanion::sync() {
    PassResult result;
    QStringList days = pageDays();
    for (const QString &day : m_pages.keys()) {
        if (!days.contains(day))
            days.append(day);
    }
    std::sort(days.begin(), days.end());
    const auto keep = [this](const CompanionPage &page) {
        if (page.content.isEmpty())
            return;
        for (const CompanionPage &kept : std::as_const(m_recoveries)) {
            if (kept.samePage(page) && kept.id == page.id)
                return;
        }
        m_recoveries.append(page);
    };
    const auto upload = [&](const QString &day) {
        writePage(m_pages.value(day));
        m_marks.insert(day, Mark{m_pages.value(day).revision, *versionOf(pagePath(day))});
        result.uploaded.append(day);
    };
    for (const QString &day : std::as_const(days)) {
        const std::optional<CompanionPage> local =
            m_pages.contains(day) ? std::optional(m_pages.value(day)) : std::nullopt;
        const std::optional<QString> version = versionOf(pagePath(day));
        const QStringList copies = conflictCopies(day);
        const std::optional<Mark> mark =
            m_marks.contains(day) ? std::optional(m_marks.value(day)) : std::nullopt;
        const bool localChanged = local && (!mark || mark->local != local->revision);
        const bool remoteChanged =
            version && (!mark || mark->remote != *version || !copies.isEmpty());
        if (!remoteChanged) {
            if (localChanged)
                upload(day);
            continue;
        }
        const std::optional<CompanionPage> current = readPageFile(day);
        if (!current) {
            result.skipped.append(day);
            continue;
        }
        QList<CompanionPage> versions{*current};
        for (const QString &copy : copies) {
            if (const auto decoded = decodePage(readFile(copy)); decoded && decoded->dayKey == day)
                versions.append(*decoded);
        }
        const CompanionPage incoming = preferred(versions);
        for (const CompanionPage &version : std::as_const(versions)) {
            if (!version.samePage(incoming))
                keep(version);
        }
        if (local && local->samePage(incoming)) {
            m_marks.insert(day, Mark{local->revision, *version});
            if (!incoming.samePage(*current))
                upload(day);
        } else if (!local || incomingWins(*local, incoming, localChanged)) {
            if (local && (localChanged || local->sealed))
                keep(*local);
            CompanionPage stored = incoming;
            stored.revision = local ? local->revision + 1 : 1;
            m_pages.insert(day, stored);
            m_marks.insert(day, Mark{stored.revision, *version});
            result.stored.append(day);
            // A version chosen from a conflict copy goes back into the file, so both sides end
            // on it.
            if (!incoming.samePage(*current))
                upload(day);
        } else {
            keep(incoming);
            upload(day);
        }
        for (const QString &copy : copies)
            QFile::remove(copy);
    }
    saveState();
    return result;
}

QString TabletCompanion::statePath() const {
    return m_stateFolder + QStringLiteral("/tablet-state.json");
}

void TabletCompanion::saveState() const {
    QJsonObject pages;
    for (auto it = m_pages.cbegin(); it != m_pages.cend(); ++it)
        pages.insert(it.key(), pageJson(*it));
    QJsonArray recoveries;
    for (const CompanionPage &page : m_recoveries)
        recoveries.append(pageJson(page));
    QJsonObject marks;
    for (auto it = m_marks.cbegin(); it != m_marks.cend(); ++it)
        marks.insert(it.key(), QJsonObject{{QStringLiteral("local"), it->local},
                                           {QStringLiteral("remote"), it->remote}});
    writeReplacing(statePath(),
                   QJsonDocument(QJsonObject{{QStringLiteral("pages"), pages},
                                             {QStringLiteral("recoveries"), recoveries},
                                             {QStringLiteral("marks"), marks}})
                       .toJson());
}

void TabletCompanion::loadState() {
    const QJsonObject state = QJsonDocument::fromJson(readFile(statePath())).object();
    const auto fromEntry = [](const QJsonValue &entry) {
        return decodePage(QJsonDocument(QJsonObject{{QStringLiteral("entry"), entry},
                                                    {QStringLiteral("format"), "velmora-page"},
                                                    {QStringLiteral("version"), 1}})
                              .toJson());
    };
    const QJsonObject pages = state.value(QStringLiteral("pages")).toObject();
    for (auto it = pages.constBegin(); it != pages.constEnd(); ++it) {
        if (const auto page = fromEntry(it.value()))
            m_pages.insert(it.key(), *page);
    }
    for (const QJsonValue &entry : state.value(QStringLiteral("recoveries")).toArray()) {
        if (const auto page = fromEntry(entry))
            m_recoveries.append(*page);
    }
    const QJsonObject marks = state.value(QStringLiteral("marks")).toObject();
    for (auto it = marks.constBegin(); it != marks.constEnd(); ++it) {
        const QJsonObject mark = it.value().toObject();
        m_marks.insert(it.key(), Mark{mark.value(QStringLiteral("local")).toInteger(),
                                      mark.value(QStringLiteral("remote")).toString()});
    }
}

} // namespace velmora::test
