#pragma once

#include "domain/DayKey.h"
#include "platform/GregorianCalendar.h"
#include "store/DiaryHandwritingStore.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <QCoroTask>

#include <optional>

namespace velmora {

class DiaryRepository;

// The same calendar day in an earlier year on which something was written.
struct DiaryOnThisDayItem {
    DayKey day;
    int yearsAgo = 1;
    // The day's first line of typed text; none when the day is listed for its handwriting.
    std::optional<QString> preview;

    friend bool operator==(const DiaryOnThisDayItem &, const DiaryOnThisDayItem &) = default;
};

struct DiaryOnThisDay {
    // The year of the earliest writing; none when nothing was ever written.
    std::optional<int> firstYear;
    // Most recent year first.
    QList<DiaryOnThisDayItem> items;

    friend bool operator==(const DiaryOnThisDay &, const DiaryOnThisDay &) = default;
};

// The earliest year with writing, and each earlier year whose same calendar day has typed text
// or a drawing on its first leaf. A 29 February looks back only to leap years. Never throws.
QCoro::Task<DiaryOnThisDay> loadOnThisDayItems(DiaryRepository &repository,
                                               DiaryHandwritingStore handwriting, QDateTime date,
                                               GregorianCalendar calendar);

// The first line of text that is not empty, after trimming the whole; none for blank text.
std::optional<QString> onThisDayPreview(const QString &content);

} // namespace velmora
