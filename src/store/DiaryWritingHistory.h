#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryRepository.h"
#include "platform/GregorianCalendar.h"
#include "store/DiaryHandwritingStore.h"

#include <QCoroTask>

#include <memory>
#include <optional>

namespace velmora {

// The calendar year of the earliest writing: the smaller year of the earliest typed entry
// strictly before `before` (from 1900-01-01 on) and of the first drawing file, whatever its day.
// A failing repository or folder counts as having nothing. Never throws.
QCoro::Task<std::optional<int>> earliestWrittenYear(std::shared_ptr<DiaryRepository> repository,
                                                    DiaryHandwritingStore handwriting,
                                                    DayKey before, GregorianCalendar calendar);

} // namespace velmora
