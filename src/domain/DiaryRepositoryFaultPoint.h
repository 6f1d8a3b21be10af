#pragma once

#include "platform/RawValueEnum.h"

#include <QCoroTask>

namespace velmora {

// Named points in the life of the store. The shipped program only marks them: its injectors do
// nothing. Test helpers use them to stop a process at a known step.
enum class DiaryRepositoryFaultPoint {
    beforeRead,
    beforeSave,
    afterCommitBeforeAcknowledgement,
    beforeSeal,
    beforeSnapshot,
    beforeMigrationQuarantine,
    afterMigrationQuarantine,
    afterMigrationStageWrite,
    afterMigrationStageReopen,
    afterMigrationAdoption,
    afterMigrationFinalReopen,
    beforeRestoreQuarantine,
    afterRestoreQuarantine,
    afterRestoreAdoption,
    afterRestoreReopen,
};
VELMORA_RAW_VALUES(DiaryRepositoryFaultPoint, "beforeRead", "beforeSave",
                   "afterCommitBeforeAcknowledgement", "beforeSeal", "beforeSnapshot",
                   "beforeMigrationQuarantine", "afterMigrationQuarantine",
                   "afterMigrationStageWrite", "afterMigrationStageReopen",
                   "afterMigrationAdoption", "afterMigrationFinalReopen", "beforeRestoreQuarantine",
                   "afterRestoreQuarantine", "afterRestoreAdoption", "afterRestoreReopen");

class PersistenceFaultInjecting {
public:
    virtual ~PersistenceFaultInjecting() = default;
    virtual QCoro::Task<void> inject(DiaryRepositoryFaultPoint point) = 0;
};

class MigrationFaultInjecting {
public:
    virtual ~MigrationFaultInjecting() = default;
    virtual void inject(DiaryRepositoryFaultPoint point) = 0;
};

class NoPersistenceFaultInjector final : public PersistenceFaultInjecting {
public:
    QCoro::Task<void> inject(DiaryRepositoryFaultPoint) override { co_return; }
};

class NoMigrationFaultInjector final : public MigrationFaultInjecting {
public:
    void inject(DiaryRepositoryFaultPoint) override {}
};

} // namespace velmora
