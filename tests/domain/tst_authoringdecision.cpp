#include "domain/DiarySessionPhase.h"
#include "support/TestSupport.h"

using namespace velmora;

namespace {

const DayKey today = *DayKey::fromRawValue(QStringLiteral("2024-03-15"));

DayKey day(const char *text) {
    return *DayKey::fromRawValue(QString::fromLatin1(text));
}

} // namespace

// The decision alone, without a session or an event loop.
class AuthoringDecisionTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decides_data() {
        QTest::addColumn<DayKey>("day");
        QTest::addColumn<int>("stored"); // 0 none, 1 draft, 2 sealed
        QTest::addColumn<DiaryAuthoringAccess>("access");
        QTest::addColumn<DiarySessionPhase::Kind>("phase");
        using A = DiaryAuthoringAccess;
        using P = DiarySessionPhase::Kind;
        QTest::newRow("blank today") << today << 0 << A::allowed << P::blank;
        QTest::newRow("blank yesterday")
            << day("2024-03-14") << 0 << A::requiresPastDateConfirmation << P::authoringUnavailable;
        QTest::newRow("blank tomorrow")
            << day("2024-03-16") << 0 << A::futureDateUnavailable << P::authoringUnavailable;
        QTest::newRow("draft long ago")
            << day("2001-01-01") << 1 << A::existingDraft << P::editingDraft;
        QTest::newRow("draft in the future")
            << day("2024-04-01") << 1 << A::existingDraft << P::editingDraft;
        QTest::newRow("sealed today") << today << 2 << A::sealed << P::readingSealed;
        QTest::newRow("sealed in the future")
            << day("2030-01-01") << 2 << A::sealed << P::readingSealed;
    }

    void decides() {
        QFETCH(DayKey, day);
        QFETCH(int, stored);
        QFETCH(DiaryAuthoringAccess, access);
        QFETCH(DiarySessionPhase::Kind, phase);
        std::optional<DiaryEntryDTO> entry;
        if (stored) {
            entry = DiaryEntryDTO{};
            entry->dayKey = day;
            entry->status = stored == 2 ? DiaryEntryStatus::sealed : DiaryEntryStatus::draft;
        }
        const DiaryAuthoringDecision decision = decideAuthoring(entry, day, today);
        QCOMPARE(decision.access, access);
        QCOMPARE(decision.phase.kind, phase);
        QCOMPARE(decision.phase.day, day);
        if (phase == DiarySessionPhase::Kind::authoringUnavailable)
            QCOMPARE(decision.phase.access, access);
    }
};

VELMORA_TEST_MAIN(AuthoringDecisionTest)
#include "tst_authoringdecision.moc"
