#pragma once

#include <QString>

namespace velmora {

// An absolute path with "." and ".." resolved and no trailing separator; relative paths are taken
// from the current directory. Symbolic links are left as they are.
QString standardizedPath(const QString &path);

// The real path: symbolic links of the deepest existing ancestor resolved, and the part that does
// not exist yet appended to it.
QString canonicalPathOfPossiblyMissing(const QString &path);

} // namespace velmora
