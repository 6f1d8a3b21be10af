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
// strictly before `before` and of the first drawing file, whatever its day; both from
// 1900-01-01 on. A failing repository or folder counts as having nothing. Never throws.
QCoro::Task<std::optional<int>> earliestWrittenYear(std::shared_ptr<DiaryRepository> repository,
                                                    DiaryHandwritingStore handwriting,
                                                    DayKey before, GregorianCalendar calendar);

} // namespace velmora
