#pragma once

#include "app/DiaryLockController.h"
#include "domain/DiaryCommand.h"
#include "platform/SystemAuthenticator.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QStackedLayout;

namespace velmora {

class DiaryBookStage;
class DiaryLockCard;
class UserDefaultsSettingsStore;

// The content of the book window. Shows the lock card while the diary is locked, whatever state
// the store is in; once passed, the load-failure card when the launch could not open the diary,
// else the book stage: the closed cover that swings open onto the open book. Nothing behind the
// lock card is built before the lock is passed, so nothing of the diary can be reached around
// it. Answers `newEntry` (opens the cover) and `showShortcuts` (the shortcut list) from the
// command router.
class VuzIvoduRootView : public QWidget {
    Q_OBJECT

public:
    static inline const QString routerConsumer = QStringLiteral("root");
    static inline const QString testModeIdentifier = QStringLiteral("velmora-test-mode");

    struct LaunchState {
        std::optional<QString> runtimeError;
        std::optional<QString> persistenceError;
        bool isTestMode = false;
        // The user's settings: the lock, the name on the cover, whether it was opened before.
        std::shared_ptr<UserDefaultsSettingsStore> settingsStore;
        // Unlocks the diary; none opens the lock without asking.
        std::shared_ptr<SystemAuthenticator> authenticator;
        // How long Unlock waits after wrong answers.
        DiaryLockRetryDelays lockRetryDelays;
        // Dates the wrong answers; the system clock when none is given.
        std::shared_ptr<const Clock> clock;
    };
    // Builds the open book's view, parented by the root view, when it is first shown.
    using BookViewFactory = std::function<QWidget *(QWidget *parent)>;
    // Restores the newest valid backup and answers the line to show under the card; not offered
    // with a configuration error, as there is no diary location to restore into.
    using RestoreAction = std::function<void(std::function<void(QString)> done)>;

    VuzIvoduRootView(LaunchState launch, DiaryCommandRouter &router,
                     BookViewFactory bookViewFactory = {}, QWidget *parent = nullptr);

    void setRestoreAction(RestoreAction restore) { m_restore = std::move(restore); }
    // Replaces the modal shortcut alert, for tests.
    void setShortcutPresenter(std::function<void(const QString &)> presenter) {
        m_presentShortcuts = std::move(presenter);
    }

    // The text of the card, when the card is what the window shows.
    std::optional<QString> loadFailureMessage() const;
    // The book stage (the cover or the open book) is what the window shows.
    bool showsBook() const;
    bool showsLockCard() const;
    bool isLocked() const;
    QWidget *bookView() const;
    // None until the lock is passed.
    DiaryBookStage *stage() const { return m_stage; }
    DiaryLockController *lock() const { return m_lock; }
    DiaryLockCard *lockCard() const { return m_lockCard; }
    QString recoveryMessage() const;
    bool isRestoring() const { return m_isRestoring; }

    // Swings the cover open, unless the lock is up, the card shows, or the cover is already
    // moving or open.
    void openDiary();
    // The open book asks to be closed: the cover swings shut.
    void closeDiary();
    void setReduceMotion(bool reduce);

    static QString shortcutsText();

Q_SIGNALS:
    void openDiaryRequested();
    void appeared();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void handle(const DiaryCommandRouter::Event &event);
    QWidget *makeLoadFailureCard(const QString &message);
    void showShortcutsAlert();
    void showContent();
    // What the window shows once the lock is passed, made the first time it is needed.
    QWidget *unlockedContent();

    LaunchState m_launch;
    QPointer<DiaryCommandRouter> m_router;
    BookViewFactory m_bookViewFactory;
    RestoreAction m_restore;
    std::function<void(const QString &)> m_presentShortcuts;
    QStackedLayout *m_stack = nullptr;
    DiaryBookStage *m_stage = nullptr;
    QWidget *m_loadFailureCard = nullptr;
    DiaryLockController *m_lock = nullptr;
    DiaryLockCard *m_lockCard = nullptr;
    QLabel *m_recoveryLabel = nullptr;
    bool m_reduceMotion = false;
    bool m_isRestoring = false;
    QWidget *m_testModeMarker = nullptr;
};

} // namespace velmora
