#include "pagescreen/PageWriting.h"

#include "book/theme/DiaryTheme.h"
#include "domain/DiarySessionStore.h"
#include "domain/SettingsStore.h"
#include "pages/DiaryPageSystemStore.h"
#include "pagescreen/PageMotion.h"
#include "pagescreen/PageScreenLogging.h"
#include "pagescreen/PageTaskFailure.h"
#include "platform/AsyncSleep.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"
#include "platform/SerialExecutor.h"

#include <QPointer>
#include <QStringEncoder>

namespace velmora {

PageWriting::PageWriting(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                         const SettingsStore &settings, const PageMotion &motion,
                         const VuzIvoduPageTimings &timings, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_pageSystem(pageSystem)
    , m_settings(settings)
    , m_motion(motion)
    , m_timings(timings) {}

PageWriting::~PageWriting() {
    m_lifetime.cancel();
}

// --- State ------------------------------------------------------------------------------------

void PageWriting::setEntryText(const QString &text) {
    if (m_entryText == text)
        return;
    m_entryText = text;
    Q_EMIT entryTextChanged(m_entryText);
}

void PageWriting::setEditorFont(const QString &font, double size) {
    if (m_selectedFont == font && m_fontSize == size)
        return;
    m_selectedFont = font;
    m_fontSize = size;
    Q_EMIT editorFontChanged();
}

void PageWriting::setShowSavedNote(bool show, VuzIvoduPageAnimation animation) {
    if (m_showSavedNote == show)
        return;
    m_showSavedNote = show;
    m_savedNoteAnimation = animation;
    Q_EMIT showSavedNoteChanged(show);
}

void PageWriting::setShowSealConfirmation(bool show, VuzIvoduPageAnimation animation) {
    if (m_showSealConfirmation == show)
        return;
    // The card is drawn under nothing: a saved note still showing goes at once.
    if (show)
        setShowSavedNote(false, {});
    m_showSealConfirmation = show;
    m_sealCardAnimation = animation;
    Q_EMIT showSealConfirmationChanged(show);
}

void PageWriting::setShowSealAcknowledgement(bool show, VuzIvoduPageAnimation animation) {
    if (m_showSealAcknowledgement == show)
        return;
    if (show)
        setShowSavedNote(false, {});
    m_showSealAcknowledgement = show;
    m_sealCardAnimation = animation;
    Q_EMIT showSealAcknowledgementChanged(show);
}

void PageWriting::setShowLeavePrompt(bool show) {
    if (m_showLeavePrompt == show)
        return;
    m_showLeavePrompt = show;
    Q_EMIT showLeavePromptChanged(show);
}

void PageWriting::reportFailure(const std::exception_ptr &failure) {
    Q_EMIT failed(describePageFailure(failure));
}

bool PageWriting::isCurrentEntrySealed() const {
    const auto &entry = m_session.currentEntry();
    return entry && entry->isSealed();
}

bool PageWriting::canWriteSelectedDay() const {
    const auto access = m_session.authoringAccess();
    return access == DiaryAuthoringAccess::allowed || access == DiaryAuthoringAccess::existingDraft;
}

// --- The edit road ------------------------------------------------------------------------------

void PageWriting::loadEditorFromSession() {
    setEntryText(m_session.currentText());
    if (const auto &entry = m_session.currentEntry())
        setEditorFont(resolvedFontName(entry->fontName), entry->bodyPointSize);
    else
        setEditorFont(resolvedFontName(m_settings.selectedFont()), m_settings.defaultFontSize());
}

void PageWriting::setEntryTextFromEditor(const QString &text) {
    if (text == m_entryText)
        return;
    setEntryText(text);
    entryTextDidChange(text);
}

void PageWriting::entryTextDidChange(const QString &text) {
    if (isCurrentEntrySealed())
        return;
    const bool hadNoEntry = !m_session.currentEntry();
    // Emptying a page that was never stored creates no draft. Once anything of the day is on its
    // way to the store, though, the empty text must follow it, or the deleted words come back.
    if (hadNoEntry && text.isEmpty()) {
        const DayKey &day = m_session.selectedDay();
        const auto &draft = m_session.pendingDraft();
        const auto &edit = m_session.autosave().pendingEdit();
        const bool pending = (draft && draft->dayKey == day) || (edit && edit->draft.dayKey == day);
        if (!pending && !m_session.autosave().inFlight())
            return;
    }
    try {
        m_session.updateDraft(text, m_selectedFont, m_fontSize);
    } catch (...) {
        reportFailure(std::current_exception());
        return;
    }
    if (hadNoEntry)
        Q_EMIT entryStored();
}

void PageWriting::confirmPastDateWriting() {
    m_session.confirmWritingForPastDay();
    Q_EMIT focusWanted();
}

// --- Save, seal, leave -------------------------------------------------------------------------

void PageWriting::save() {
    if (isCurrentEntrySealed() || m_entryText.isEmpty() || m_session.replacement())
        return;
    launchPageTask(saveNowTask());
}

void PageWriting::askToSeal() {
    // Counts characters: a page of spaces may be sealed.
    if (!isCurrentEntrySealed() && canWriteSelectedDay() && !m_entryText.isEmpty() &&
        !m_session.replacement())
        setShowSealConfirmation(true);
}

void PageWriting::confirmSeal() {
    if (m_entryText.isEmpty())
        return;
    setShowSealConfirmation(false);
    launchPageTask(sealPageTask());
}

void PageWriting::hideSealConfirmation() {
    setShowSealConfirmation(false, m_motion.animation(VuzIvoduPageAnimation::Curve::easeOut, 0.28));
}

void PageWriting::requestClose() {
    // Its question would be about a page that is about to be replaced.
    if (m_session.replacement())
        return;
    if (canWriteSelectedDay() && !isCurrentEntrySealed() && !m_entryText.trimmed().isEmpty())
        setShowLeavePrompt(true);
    else
        launchPageTask(leaveDiaryTask());
}

void PageWriting::dismissLeavePrompt() {
    setShowLeavePrompt(false);
}

void PageWriting::leaveAndComeBack() {
    setShowLeavePrompt(false);
    launchPageTask(leaveDiaryTask());
}

void PageWriting::lockPageAndLeave() {
    setShowLeavePrompt(false);
    launchPageTask(lockPageAndLeaveTask());
}

void PageWriting::retry() {
    launchPageTask(retrySaveTask());
}

QString PageWriting::proposedCopyName() const {
    return QStringLiteral("Velmora - ") + m_session.selectedDay().rawValue() +
           QStringLiteral(".txt");
}

QCoro::Task<void> PageWriting::saveCopy(QString path) {
    const QPointer<PageWriting> self(this);
    QStringEncoder encoder(QStringConverter::Utf8);
    const QByteArray bytes = encoder.encode(m_entryText);
    // Text that UTF-8 cannot carry unchanged (a lone surrogate) is not written half-right.
    if (encoder.hasError()) {
        qCWarning(lcPageScreen) << "The page copy was not written: its text is not valid Unicode";
        Q_EMIT failureCleared();
        co_return;
    }
    if (!m_copyWriter)
        m_copyWriter = std::make_unique<SerialExecutor>(QStringLiteral("PageCopy"));
    std::exception_ptr failure;
    try {
        auto work = m_copyWriter->run(
            [target = standardizedPath(path), bytes] { writeFileAtomically(target, bytes); });
        co_await work;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure)
        reportFailure(failure);
    else
        Q_EMIT failureCleared();
}

// --- Commit, flush, seal and leave ---------------------------------------------------------------

QCoro::Task<bool> PageWriting::drainAutosave() {
    co_return co_await m_session.flushPendingWriting();
}

void PageWriting::commitEditorText() {
    m_session.updateDraft(m_entryText, m_selectedFont, std::nullopt);
}

void PageWriting::requireCommittedEntry(bool drained) const {
    if (drained && m_session.currentEntry())
        return;
    if (const auto &failure = m_session.autosave().lastFailure())
        throw *failure;
    throw PersistenceError::writeFailed(tr("The draft could not be committed."));
}

QCoro::Task<void> PageWriting::hideSavedNoteAfter(std::chrono::nanoseconds hold) {
    const QPointer<PageWriting> self(this);
    try {
        co_await sleepFor(hold, m_lifetime);
    } catch (const CancellationError &) {
        // Going away: nothing is left to hide.
    }
    if (self)
        setShowSavedNote(false, m_motion.animation(VuzIvoduPageAnimation::Curve::easeOut, 0.25));
}

QCoro::Task<void> PageWriting::saveNowTask() {
    const QPointer<PageWriting> self(this);
    try {
        commitEditorText();
    } catch (...) {
        reportFailure(std::current_exception());
        co_return;
    }
    const bool drained = co_await drainAutosave();
    if (!self)
        co_return;
    try {
        requireCommittedEntry(drained);
    } catch (...) {
        reportFailure(std::current_exception());
        co_return;
    }
    m_pageSystem.reloadDescriptors(m_pageSystem.selectedLeafIndex());
    Q_EMIT entryStored();
    Q_EMIT syncWanted();
    // A seal card asked for while the save was stored keeps the page to itself.
    if (m_showSealConfirmation || m_showSealAcknowledgement)
        co_return;
    setShowSavedNote(true, m_motion.spring(0.42, 0.8));
    co_await hideSavedNoteAfter(m_motion.isReducedMotion() ? m_timings.savedNoteReducedMotion
                                                           : m_timings.savedNote);
}

QCoro::Task<bool> PageWriting::commitAndSeal() {
    const QPointer<PageWriting> self(this);
    // The words on the page now are the ones the user agreed to seal: should a restore or an
    // import replace them while this waits, the seal is refused.
    const quint64 shown = m_session.shownGeneration();
    try {
        commitEditorText();
    } catch (...) {
        reportFailure(std::current_exception());
        co_return false;
    }
    const bool drained = co_await drainAutosave();
    if (!self)
        co_return false;
    std::exception_ptr failure;
    try {
        requireCommittedEntry(drained);
        co_await m_session.seal(shown);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return false;
    if (failure) {
        reportFailure(failure);
        co_return false;
    }
    loadEditorFromSession();
    m_pageSystem.reloadDescriptors(0);
    Q_EMIT entryStored();
    co_return true;
}

QCoro::Task<void> PageWriting::sealPageTask() {
    const QPointer<PageWriting> self(this);
    const bool sealed = co_await commitAndSeal();
    if (!sealed)
        co_return;
    setShowSealAcknowledgement(true,
                               m_motion.animation(VuzIvoduPageAnimation::Curve::easeOut, 0.28));
    try {
        co_await sleepFor(m_timings.sealAcknowledgement, m_lifetime);
    } catch (const CancellationError &) {
        // Going away: nothing is left to hide.
    }
    if (self)
        setShowSealAcknowledgement(false,
                                   m_motion.animation(VuzIvoduPageAnimation::Curve::easeIn, 0.28));
}

QCoro::Task<void> PageWriting::retrySaveTask() {
    const QPointer<PageWriting> self(this);
    const bool drained = co_await drainAutosave();
    if (!self)
        co_return;
    if (drained)
        Q_EMIT failureCleared();
    else
        Q_EMIT failed(tr("The draft still could not be saved. Keep this page open or save a "
                         "separate copy."));
}

QCoro::Task<void> PageWriting::lockPageAndLeaveTask() {
    const bool sealed = co_await commitAndSeal();
    if (!sealed)
        co_return;
    Q_EMIT syncWanted();
    launchPageTask(leaveDiaryTask());
}

QCoro::Task<void> PageWriting::leaveDiaryTask() {
    const QPointer<PageWriting> self(this);
    const bool drained = co_await drainAutosave();
    if (!self)
        co_return;
    if (drained)
        Q_EMIT closeRequested();
    else
        Q_EMIT failed(tr("Your latest writing could not be saved. The diary will remain open so "
                         "nothing is discarded."));
}

QCoro::Task<void> PageWriting::flushPendingWriting() {
    const QPointer<PageWriting> self(this);
    const bool drained = co_await drainAutosave();
    if (self && !drained)
        Q_EMIT failed(tr("Your latest writing is still on this page but could not be saved to "
                         "disk."));
}

} // namespace velmora
