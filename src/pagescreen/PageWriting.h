#pragma once

#include "pagescreen/VuzIvoduPageAnimation.h"
#include "pagescreen/VuzIvoduPageTimings.h"
#include "platform/Cancellation.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <memory>

namespace velmora {

class DiaryPageSystemStore;
class DiarySessionStore;
class PageMotion;
class SerialExecutor;
class SettingsStore;

// The writing on the open page and what makes it durable before anything irreversible happens:
// the editor's working text, font and size; Save with its note; sealing with its card; leaving
// the page, sealed or not; a retry after a failed save; a copy of the page in a file.
//
// Failures are reported (failed), never thrown; the page raises them as the "Writing Not Saved"
// alert.
class PageWriting : public QObject {
    Q_OBJECT

public:
    PageWriting(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                const SettingsStore &settings, const PageMotion &motion,
                const VuzIvoduPageTimings &timings, QObject *parent = nullptr);
    ~PageWriting() override;

    const QString &entryText() const { return m_entryText; }
    const QString &selectedFont() const { return m_selectedFont; }
    double fontSize() const { return m_fontSize; }
    bool showSavedNote() const { return m_showSavedNote; }
    bool showSealConfirmation() const { return m_showSealConfirmation; }
    bool showSealAcknowledgement() const { return m_showSealAcknowledgement; }
    bool showLeavePrompt() const { return m_showLeavePrompt; }
    // How the latest change of the saved note and of the seal card is to be animated.
    const VuzIvoduPageAnimation &savedNoteAnimation() const { return m_savedNoteAnimation; }
    const VuzIvoduPageAnimation &sealCardAnimation() const { return m_sealCardAnimation; }

    bool isCurrentEntrySealed() const;
    bool canWriteSelectedDay() const;

    // The editor takes the session's text, and its entry's font (the settings' for a new page).
    void loadEditorFromSession();
    // The editor writes every change of its whole text here.
    void setEntryTextFromEditor(const QString &text);
    void confirmPastDateWriting();

    // Save: commits the text now and shows the note once it is stored.
    void save();
    // Seal: asks with the seal card when the page may be sealed.
    void askToSeal();
    void confirmSeal();
    void hideSealConfirmation();

    // Closing the book: asks first when writing would be left unsealed.
    void requestClose();
    void dismissLeavePrompt();
    void leaveAndComeBack();
    void lockPageAndLeave();

    void retry();
    // The page copy: the proposed file name, and the write of the editor's text to the chosen
    // file, off the GUI thread.
    QString proposedCopyName() const;
    QCoro::Task<void> saveCopy(QString path);

    // The tasks. Each runs on the GUI thread and never throws.
    QCoro::Task<void> saveNowTask();
    QCoro::Task<void> sealPageTask();
    QCoro::Task<void> retrySaveTask();
    QCoro::Task<void> lockPageAndLeaveTask();
    QCoro::Task<void> leaveDiaryTask();
    QCoro::Task<void> flushPendingWriting();

Q_SIGNALS:
    void entryTextChanged(const QString &text);
    void editorFontChanged();
    void showSavedNoteChanged(bool show);
    void showSealConfirmationChanged(bool show);
    void showSealAcknowledgementChanged(bool show);
    void showLeavePromptChanged(bool show);
    void failed(const QString &message);
    // The failure shown is over: a retry saved, or the copy was written (or given up).
    void failureCleared();
    void focusWanted();
    // The day's entry was created, saved or sealed: the calendar's marks may have changed.
    void entryStored();
    // Stored writing should reach the sync folder soon.
    void syncWanted();
    void closeRequested();

private:
    void setEntryText(const QString &text);
    void setEditorFont(const QString &font, double size);
    void setShowSavedNote(bool show, VuzIvoduPageAnimation animation);
    void setShowSealConfirmation(bool show, VuzIvoduPageAnimation animation = {});
    void setShowSealAcknowledgement(bool show, VuzIvoduPageAnimation animation);
    void setShowLeavePrompt(bool show);
    void entryTextDidChange(const QString &text);
    void reportFailure(const std::exception_ptr &failure);

    QCoro::Task<bool> drainAutosave();
    void commitEditorText();
    void requireCommittedEntry(bool drained) const;
    QCoro::Task<void> hideSavedNoteAfter(std::chrono::nanoseconds hold);
    // Commits the editor's text, makes it durable and seals the day, then shows the sealed day
    // from its first leaf. False, with the failure reported, when the page stays unsealed (or
    // the page went away meanwhile).
    QCoro::Task<bool> commitAndSeal();

    DiarySessionStore &m_session;
    DiaryPageSystemStore &m_pageSystem;
    const SettingsStore &m_settings;
    const PageMotion &m_motion;
    VuzIvoduPageTimings m_timings;

    QString m_entryText;
    QString m_selectedFont = QStringLiteral("Georgia");
    double m_fontSize = 16;
    bool m_showSavedNote = false;
    bool m_showSealConfirmation = false;
    bool m_showSealAcknowledgement = false;
    bool m_showLeavePrompt = false;
    VuzIvoduPageAnimation m_savedNoteAnimation;
    VuzIvoduPageAnimation m_sealCardAnimation;
    std::unique_ptr<SerialExecutor> m_copyWriter;
    // Ended with this object, so sleeping tasks wake and find it gone.
    CancellationToken m_lifetime;
};

} // namespace velmora
