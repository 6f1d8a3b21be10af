#include "sync/DiaryCloudSyncManifest.h"

#include "platform/FileSystemError.h"
#include "platform/JsonCoding.h"
#include "sync/SyncLogging.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace velmora {

namespace {

QJsonObject marksJson(const QMap<QString, DiaryCloudSyncMark> &marks) {
    QJsonObject object;
    for (auto it = marks.cbegin(); it != marks.cend(); ++it)
        object.insert(it.key(), it.value().toJson());
    return object;
}

QMap<QString, DiaryCloudSyncMark> marksFromJson(const QJsonValue &value, const QStringList &path) {
    const QJsonObject object = json::object(value, path);
    QMap<QString, DiaryCloudSyncMark> marks;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        marks.insert(it.key(),
                     DiaryCloudSyncMark::fromJson(it.value(), path + QStringList{it.key()}));
    return marks;
}

} // namespace

QJsonObject DiaryCloudSyncMark::toJson() const {
    QJsonObject object{{QStringLiteral("local"), local}, {QStringLiteral("remote"), remote}};
    if (localInk)
        object.insert(QStringLiteral("localInk"), *localInk);
    return object;
}

DiaryCloudSyncMark DiaryCloudSyncMark::fromJson(const QJsonValue &value,
                                                const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    DiaryCloudSyncMark mark;
    mark.local = reader.int64(QStringLiteral("local"));
    mark.remote = reader.string(QStringLiteral("remote"));
    mark.localInk = reader.optionalString(QStringLiteral("localInk"));
    return mark;
}

DiaryCloudSyncManifest DiaryCloudSyncManifest::fresh(const QString &rootPath) {
    return DiaryCloudSyncManifest{rootPath, {}, {}};
}

QString DiaryCloudSyncManifest::rootPath(const QString &root) {
    return QDir::cleanPath(QDir::isAbsolutePath(root) ? root
                                                      : QDir::current().absoluteFilePath(root));
}

QJsonObject DiaryCloudSyncManifest::toJson() const {
    return QJsonObject{
        {QStringLiteral("root"), root},
        {QStringLiteral("pages"), marksJson(pages)},
        {QStringLiteral("ink"), marksJson(ink)},
    };
}

DiaryCloudSyncManifest DiaryCloudSyncManifest::fromJson(const QJsonValue &value) {
    const JsonObjectReader reader(value);
    DiaryCloudSyncManifest manifest;
    manifest.root = reader.string(QStringLiteral("root"));
    manifest.pages = reader.decode(QStringLiteral("pages"), &marksFromJson);
    manifest.ink = reader.decode(QStringLiteral("ink"), &marksFromJson);
    return manifest;
}

DiaryCloudSyncManifest DiaryCloudSyncManifest::load(const QString &manifestURL,
                                                    const QString &root) {
    const QString path = rootPath(root);
    try {
        DiaryCloudSyncManifest manifest =
            fromJson(parseJson(readRegularFile(manifestURL, fileByteLimit)));
        if (manifest.root == path)
            return manifest;
        qCInfo(lcSync) << "the sync manifest was made for" << manifest.root << "not" << path;
    } catch (const FileSystemError &error) {
        if (error.errorNumber() != ENOENT)
            qCWarning(lcSync) << "the sync manifest could not be read, starting afresh:"
                              << error.message();
    } catch (const DiaryError &error) {
        qCWarning(lcSync) << "the sync manifest could not be decoded, starting afresh:"
                          << error.message();
    }
    return fresh(path);
}

void DiaryCloudSyncManifest::save(const QString &manifestURL) const {
    try {
        createDirectories(QFileInfo(manifestURL).absolutePath());
        writeFileAtomically(manifestURL, writeJson(toJson(), {.escapeSlashes = true}));
    } catch (const DiaryError &error) {
        qCWarning(lcSync) << "the sync manifest could not be saved:" << error.message();
    }
}

void DiaryCloudSyncManifest::forgetLocalRevisions() {
    for (DiaryCloudSyncMark &mark : pages)
        mark.local = DiaryCloudSyncMark::replacedLocal;
}

void DiaryCloudSyncManifest::forgetLocalRevisions(const QString &manifestURL) {
    try {
        DiaryCloudSyncManifest manifest =
            fromJson(parseJson(readRegularFile(manifestURL, fileByteLimit)));
        const DiaryCloudSyncManifest before = manifest;
        manifest.forgetLocalRevisions();
        if (manifest != before)
            manifest.save(manifestURL);
    } catch (const FileSystemError &) {
        // No manifest here to forget marks in.
    } catch (const DiaryError &error) {
        // A manifest that cannot be decoded is read as a fresh one anyway.
        qCInfo(lcSync) << "the sync manifest holds no page marks to forget:" << error.message();
    }
}

} // namespace velmora
