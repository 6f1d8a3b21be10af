#pragma once

#include "domain/DiaryCommand.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QStackedLayout;

namespace velmora {

// The content of the book window. Shows, in this order of precedence, the load-failure card when
// the launch could not open the diary, else the open book. Answers `newEntry` (opens the book)
// and `showShortcuts` (the shortcut list) from the command router.
class VuzIvoduRootView : public QWidget {
    Q_OBJECT

public:
    static inline const QString routerConsumer = QStringLiteral("root");
    static inline const QString testModeIdentifier = QStringLiteral("velmora-test-mode");

    struct LaunchState {
        std::optional<QString> runtimeError;
        std::optional<QString> persistenceError;
        bool isTestMode = false;
    };
    // Builds the open book's view, parented by the root view, when it is first shown.
    using BookViewFactory = std::function<QWidget *(QWidget *parent)>;
    // Restores the newest valid backup and answers the line to show under the card.
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
    bool showsBook() const { return m_book != nullptr; }
    QWidget *bookView() const { return m_book; }
    QString recoveryMessage() const;

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

    LaunchState m_launch;
    QPointer<DiaryCommandRouter> m_router;
    BookViewFactory m_bookViewFactory;
    RestoreAction m_restore;
    std::function<void(const QString &)> m_presentShortcuts;
    QStackedLayout *m_stack = nullptr;
    QWidget *m_book = nullptr;
    QLabel *m_recoveryLabel = nullptr;
    QWidget *m_testModeMarker = nullptr;
};

} // namespace velmora
