#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryRepository.h"
#include "platform/GregorianCalendar.h"
#include "store/DiaryHandwritingStore.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <memory>

namespace velmora {

// What the reminders of the coming fortnight are worded from.
struct DiaryReminderContext {
    bool writtenToday = false;
    // A coming day → years back to the nearest earlier year whose same date has writing.
    QHash<DayKey, qint64> memories;
    // The stored name, untrimmed.
    QString name;
};

// True when the day's first leaf has a drawing file, or its typed entry is not blank. A failing
// repository counts as no entry. Never throws.
QCoro::Task<bool> dayHasWriting(DayKey day, DiaryHandwritingStore handwriting,
                                std::shared_ptr<DiaryRepository> repository);

// Looks at today and the next 13 days; for each, the nearest earlier year with writing on the
// same date wins. Costs at most 1 + 14 × (years since the earliest writing) day checks. Never
// throws.
QCoro::Task<DiaryReminderContext> makeReminderContext(std::shared_ptr<DiaryRepository> repository,
                                                      DiaryHandwritingStore handwriting,
                                                      QString userName, QDateTime now,
                                                      GregorianCalendar calendar);

} // namespace velmora
