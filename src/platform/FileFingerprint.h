#pragma once

#include <QString>

#include <optional>

namespace velmora {

// A version stamp of one file: its size in bytes, "-", and its content modification time as
// whole milliseconds since 2001-01-01 00:00:00 UTC, rounded half away from zero. It changes
// whenever the file's size or modification time does. Read afresh from the file system on every
// call; none when the file's attributes cannot be read (for instance when there is no file).
std::optional<QString> fileFingerprint(const QString &path);

// The milliseconds since 2001-01-01 00:00:00 UTC of a moment given as seconds and nanoseconds
// since 1970, rounded half away from zero.
qint64 millisecondsSinceReferenceDate(qint64 secondsSince1970, qint64 nanoseconds);

} // namespace velmora
