#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryRepositoryFaultPoint.h"
#include "platform/DiaryError.h"

namespace velmora {

// The one error type of the store. Its messages are shown to the user verbatim.
class PersistenceError : public DiaryError {
public:
    enum class Case {
        storeLoadFailed,
        readFailed,
        writeFailed,
        invalidData,
        conflict,
        faultInjected,
        migrationFailed,
        backupFailed,
        storeUnavailable,
        revisionOverflow,
        entryAlreadySealed,
    };

    static PersistenceError storeLoadFailed(QString text) { return {Case::storeLoadFailed, text}; }
    static PersistenceError readFailed(QString text) { return {Case::readFailed, text}; }
    static PersistenceError writeFailed(QString text) { return {Case::writeFailed, text}; }
    static PersistenceError invalidData(QString text) { return {Case::invalidData, text}; }
    static PersistenceError conflict(DiaryRevision expectedRevision, DiaryRevision actual);
    // The same refusal for a write read from a diary that a restore or an import has replaced
    // since: its numbers may well be equal, so the message says what happened instead.
    static PersistenceError conflictWithReplacedDiary(DiaryRevision expectedRevision,
                                                      DiaryRevision actual);
    static PersistenceError faultInjected(DiaryRepositoryFaultPoint point);
    static PersistenceError migrationFailed(QString text) { return {Case::migrationFailed, text}; }
    static PersistenceError backupFailed(QString text) { return {Case::backupFailed, text}; }
    static PersistenceError storeUnavailable() { return {Case::storeUnavailable, {}}; }
    static PersistenceError revisionOverflow() { return {Case::revisionOverflow, {}}; }
    static PersistenceError entryAlreadySealed() { return {Case::entryAlreadySealed, {}}; }

    Case errorCase() const { return m_case; }
    // The text payload of the text cases; empty for the others.
    const QString &text() const { return m_text; }
    DiaryRevision expectedRevision() const { return m_expected; }
    DiaryRevision actualRevision() const { return m_actual; }
    bool isWithReplacedDiary() const { return m_withReplacedDiary; }
    DiaryRepositoryFaultPoint faultPoint() const { return m_faultPoint; }

    QString message() const override;

    friend bool operator==(const PersistenceError &a, const PersistenceError &b) {
        return a.m_case == b.m_case && a.m_text == b.m_text && a.m_expected == b.m_expected &&
               a.m_actual == b.m_actual && a.m_faultPoint == b.m_faultPoint &&
               a.m_withReplacedDiary == b.m_withReplacedDiary;
    }

private:
    PersistenceError(Case errorCase, QString text)
        : m_case(errorCase)
        , m_text(std::move(text)) {}

    Case m_case;
    QString m_text;
    DiaryRevision m_expected;
    DiaryRevision m_actual;
    DiaryRepositoryFaultPoint m_faultPoint = DiaryRepositoryFaultPoint::beforeRead;
    bool m_withReplacedDiary = false;
};

} // namespace velmora
