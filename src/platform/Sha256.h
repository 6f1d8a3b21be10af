#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace velmora {

// The 32-byte SHA-256 digest of the bytes.
QByteArray sha256Digest(const QByteArray &bytes);

// Each byte of a digest as two lowercase hexadecimal digits, in order; joined they make the
// 64-digit text that recovery records, backups and fingerprints carry.
QStringList sha256DigestHexBytes(const QByteArray &digest);

// The 64 lowercase hexadecimal digits of the SHA-256 of the bytes.
QString sha256Hex(const QByteArray &bytes);
// The same of the pieces taken one after the other, as if joined.
QString sha256HexOfPieces(const QList<QByteArray> &pieces);

} // namespace velmora
