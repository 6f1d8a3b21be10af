#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace velmora {

// What the migration needs of the user defaults in which an older version kept unsaved drafts.
class MigrationUserDefaults {
public:
    virtual ~MigrationUserDefaults() = default;
    // Every key of the full dictionary representation.
    virtual QStringList keys() const = 0;
    // The value as text; none when it is missing or is not text.
    virtual std::optional<QString> string(const QString &key) const = 0;
    virtual void removeObject(const QString &key) = 0;
    // Puts the removals on disk before the caller lets go of its own record of them.
    virtual void synchronize() = 0;
};

} // namespace velmora
