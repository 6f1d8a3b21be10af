#pragma once

#include "platform/DiaryError.h"

namespace velmora {

// The session's refusals when the selected day may not be written.
class DiarySessionError : public DiaryError {
public:
    enum class Case { pastDateConfirmationRequired, futureDateUnavailable };

    explicit DiarySessionError(Case errorCase)
        : m_case(errorCase) {}

    Case errorCase() const { return m_case; }
    QString message() const override;

    friend bool operator==(const DiarySessionError &a, const DiarySessionError &b) {
        return a.m_case == b.m_case;
    }

private:
    Case m_case;
};

} // namespace velmora
