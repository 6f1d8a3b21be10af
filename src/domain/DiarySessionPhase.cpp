#include "domain/DiarySessionPhase.h"

namespace velmora {

DiaryAuthoringDecision decideAuthoring(const std::optional<DiaryEntryDTO> &entry, const DayKey &day,
                                       const DayKey &today) {
    if (entry) {
        if (entry->isSealed())
            return {DiaryAuthoringAccess::sealed, DiarySessionPhase::readingSealed(day)};
        return {DiaryAuthoringAccess::existingDraft, DiarySessionPhase::editingDraft(day)};
    }
    if (day > today) {
        const auto access = DiaryAuthoringAccess::futureDateUnavailable;
        return {access, DiarySessionPhase::authoringUnavailable(day, access)};
    }
    if (day < today) {
        const auto access = DiaryAuthoringAccess::requiresPastDateConfirmation;
        return {access, DiarySessionPhase::authoringUnavailable(day, access)};
    }
    return {DiaryAuthoringAccess::allowed, DiarySessionPhase::blank(day)};
}

} // namespace velmora
