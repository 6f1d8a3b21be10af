#pragma once

#include "platform/Sha256.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QRegularExpression>
#include <QString>

// JSON that nests deep, made at run time: every reader is tried at the same depths.
namespace velmora::test {

struct NestingDepth {
    const char *name;
    qsizetype depth;
    bool readable; // within the limit every reader keeps
};

inline constexpr NestingDepth nestingDepths[] = {
    {"nested 1,000 deep", 1000, true},
    {"nested 1,024 deep", 1024, true},
    {"nested 1,025 deep", 1025, false},
    {"nested 100,000 deep", 100000, false},
};

// `levels` arrays, one inside the next, around a zero: "[[0]]" for two.
inline QByteArray nestedArrays(qsizetype levels) {
    return QByteArray(levels, '[') + '0' + QByteArray(levels, ']');
}

// The text of a JSON object that holds at least one member, with a first member added that makes
// the whole text nest `depth` deep; for readers that pass over members they do not know.
inline QByteArray withNestedMember(const QByteArray &object, qsizetype depth) {
    const qsizetype open = object.indexOf('{') + 1;
    return object.left(open) + "\"nested\":" + nestedArrays(depth - 1) + ',' + object.mid(open);
}

inline QByteArray fileContents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Nests line `line` (from 1) of a backup package's records `depth` deep and gives the manifest
// the new byte count and digest, as a package made to look sound would have them.
inline void nestBackupRecord(const QString &package, int line, qsizetype depth) {
    const QString recordsPath = package + QStringLiteral("/records.ndjson");
    QList<QByteArray> lines = fileContents(recordsPath).split('\n');
    QVERIFY(lines.size() > line);
    lines[line - 1] = withNestedMember(lines.at(line - 1), depth);
    const QByteArray records = lines.join('\n');
    writeBytes(recordsPath, records);
    const QString manifestPath = package + QStringLiteral("/manifest.json");
    QString manifest = QString::fromUtf8(fileContents(manifestPath));
    manifest.replace(QRegularExpression(QStringLiteral("\"recordsByteCount\":\\d+")),
                     QStringLiteral("\"recordsByteCount\":%1").arg(records.size()));
    manifest.replace(QRegularExpression(QStringLiteral("\"recordsSHA256\":\"[0-9a-f]{64}\"")),
                     QStringLiteral("\"recordsSHA256\":\"%1\"").arg(sha256Hex(records)));
    writeBytes(manifestPath, manifest.toUtf8());
}

inline void nestBackupManifest(const QString &package, qsizetype depth) {
    const QString manifestPath = package + QStringLiteral("/manifest.json");
    writeBytes(manifestPath, withNestedMember(fileContents(manifestPath), depth));
}

} // namespace velmora::test
