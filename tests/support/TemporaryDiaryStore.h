#pragma once

#include "domain/Clock.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryPersistenceStack.h"
#include "support/ScriptedDiaryRepository.h"

#include <QTemporaryDir>

#include <memory>

namespace velmora::test {

// The real store in a temporary folder, made as a launch makes it (metadata included), and a
// scripted repository over it for the code under test.
struct TemporaryDiaryStore {
    explicit TemporaryDiaryStore(std::shared_ptr<const Clock> clock = nullptr);

    QString storeURL() const { return stack->storeURL(); }

    QTemporaryDir folder;
    std::shared_ptr<DiaryPersistenceStack> stack;
    std::shared_ptr<CoreDataDiaryRepository> store;
    std::shared_ptr<ScriptedDiaryRepository> repository;
};

} // namespace velmora::test
