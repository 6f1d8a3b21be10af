#pragma once

#include <QString>

#include <functional>

namespace velmora {

// The points a replacement passes; a test stops a process there.
enum class StoreReplacementStep {
    // The new store is complete, closed and alone beside the old one (reported by its maker).
    staged,
    // The plan is on disk: from here on the next launch finishes it.
    journalWritten,
    // The old store and its side files lie in the set-aside folder.
    setAside,
    // The new store is in place; only the journal is left.
    replaced,
};

struct StoreReplacementPlan {
    QString storeURL;
    // In storeReplacementDirectory(storeURL).
    QString stagedStoreURL;
    // Inside the store's "Recovery" folder; receives the old store and its side files under
    // their own names.
    QString setAsideDirectory;
};

// The most a launch reads of a journal it finishes, a replacement's or a migration's: far more
// than any plan takes.
inline constexpr qint64 journalByteLimit = 16 * 1024 * 1024;

// "Recovery/Restores" beside the store: staged stores and the journal of a replacement.
QString storeReplacementDirectory(const QString &storeURL);

// Removes the staged stores a replacement that never got to its journal left behind.
void removeStagedStores(const QString &storeURL);

// Puts the staged store in the store's place so that a process killed at any moment leaves the
// next launch the old store or the new one, never neither and never a mix: the plan is
// journalled first, then the old store and its side files are moved (never deleted) into the
// set-aside folder, and the staged store is renamed to the store's name. The staged store must
// be closed and without side files. A failure before the plan is on disk removes the staged store
// and changes nothing; one after it leaves the plan for the next launch to finish.
void replaceStore(const StoreReplacementPlan &plan,
                  const std::function<void(StoreReplacementStep)> &observer = {});

// Finishes a replacement that a killed process left journalled for the store at `storeURL`; runs
// before anything opens the store. Whether there was one.
bool settleInterruptedStoreReplacement(const QString &storeURL);

} // namespace velmora
