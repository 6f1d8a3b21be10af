#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryEntryDTO.h"
#include "platform/RawValueEnum.h"

#include <QMetaType>
#include <QString>

namespace velmora {

// Whether the selected day may be written.
enum class DiaryAuthoringAccess {
    allowed,
    existingDraft,
    sealed,
    requiresPastDateConfirmation,
    futureDateUnavailable,
};
VELMORA_RAW_VALUES(DiaryAuthoringAccess, "allowed", "existingDraft", "sealed",
                   "requiresPastDateConfirmation", "futureDateUnavailable");

// What the open day is doing, for the views. Every case names its day; `saveFailed` also
// carries the message and `authoringUnavailable` the access that says why.
struct DiarySessionPhase {
    enum class Kind {
        loading,
        blank,
        editingDraft,
        saving,
        saveFailed,
        sealing,
        readingSealed,
        authoringUnavailable,
    };

    Kind kind = Kind::loading;
    DayKey day;
    QString message;
    DiaryAuthoringAccess access = DiaryAuthoringAccess::allowed;

    static DiarySessionPhase loading(DayKey day) {
        return {Kind::loading, std::move(day), {}, DiaryAuthoringAccess::allowed};
    }
    static DiarySessionPhase blank(DayKey day) {
        return {Kind::blank, std::move(day), {}, DiaryAuthoringAccess::allowed};
    }
    static DiarySessionPhase editingDraft(DayKey day) {
        return {Kind::editingDraft, std::move(day), {}, DiaryAuthoringAccess::allowed};
    }
    static DiarySessionPhase saving(DayKey day) {
        return {Kind::saving, std::move(day), {}, DiaryAuthoringAccess::allowed};
    }
    static DiarySessionPhase saveFailed(DayKey day, QString message) {
        return {Kind::saveFailed, std::move(day), std::move(message),
                DiaryAuthoringAccess::allowed};
    }
    static DiarySessionPhase sealing(DayKey day) {
        return {Kind::sealing, std::move(day), {}, DiaryAuthoringAccess::allowed};
    }
    static DiarySessionPhase readingSealed(DayKey day) {
        return {Kind::readingSealed, std::move(day), {}, DiaryAuthoringAccess::allowed};
    }
    static DiarySessionPhase authoringUnavailable(DayKey day, DiaryAuthoringAccess access) {
        return {Kind::authoringUnavailable, std::move(day), {}, access};
    }

    friend bool operator==(const DiarySessionPhase &, const DiarySessionPhase &) = default;
};

// What a day allows and shows once it is decided.
struct DiaryAuthoringDecision {
    DiaryAuthoringAccess access = DiaryAuthoringAccess::allowed;
    DiarySessionPhase phase;

    friend bool operator==(const DiaryAuthoringDecision &,
                           const DiaryAuthoringDecision &) = default;
};

// The decision for `day` holding `entry`, on the civil day `today`: a stored entry is read
// sealed or edited; a blank day is written today, asks for a confirmation in the past and is
// closed in the future.
DiaryAuthoringDecision decideAuthoring(const std::optional<DiaryEntryDTO> &entry, const DayKey &day,
                                       const DayKey &today);

} // namespace velmora

Q_DECLARE_METATYPE(velmora::DiaryAuthoringAccess)
Q_DECLARE_METATYPE(velmora::DiarySessionPhase)
