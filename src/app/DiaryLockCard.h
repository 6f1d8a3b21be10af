#pragma once

#include "platform/SystemAuthenticator.h"

#include <QDialog>
#include <QList>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora {

// The card that stands in for the diary while the lock is up: "My Diary", "Authenticate to
// unlock", the last failure, the wait before the next try and the "Unlock" button.
class DiaryLockCard : public QWidget {
    Q_OBJECT

public:
    explicit DiaryLockCard(QWidget *parent = nullptr);

    // The failure text under the subtitle; empty hides it.
    void setError(const QString &error);
    QString error() const;
    // How long Unlock waits after wrong answers, under the failure; Unlock is off meanwhile.
    // Empty hides it and turns Unlock on.
    void setRetryText(const QString &text);
    QString retryText() const;
    QPushButton *unlockButton() const { return m_unlock; }
    // What a prompt over the card must leave in sight, in global coordinates: the lock, the
    // title, the subtitle and the lines under it (not the Unlock button).
    QRect headingArea() const;

Q_SIGNALS:
    void unlockRequested();

protected:
    // Return and Enter press Unlock, as they would the default button of a dialog.
    void keyPressEvent(QKeyEvent *event) override;

private:
    QLabel *m_error;
    QLabel *m_retry;
    QPushButton *m_unlock;
    QList<QWidget *> m_heading;
};

// The unlock's conversation as a modal password dialog over `parent`: why the program asks, the
// authentication system's own prompts and messages, Cancel to stop. What was typed is wiped from
// the field as soon as it is handed over and when the dialog closes.
class DiaryPasswordDialog : public QDialog, public AuthenticationConversation {
    Q_OBJECT

public:
    explicit DiaryPasswordDialog(QWidget *parent = nullptr);
    ~DiaryPasswordDialog() override;

    void begin(const QString &reason) override;
    void ask(const QString &prompt, bool echo, Answer answer) override;
    void tell(const QString &message, bool isError) override;
    void finish() override;

    QLineEdit *field() const { return m_field; }
    QString messages() const;

    // This dialog as the authentication system talks to it, for as long as the dialog lives: a
    // transaction that outlasts it (the book window that owns it goes while PAM still works) finds
    // nobody to talk to, and a question it asks then is answered as cancelled.
    std::shared_ptr<AuthenticationConversation> conversation();

    // Global rectangle the dialog is to leave uncovered when it shows; none lets the window
    // manager place it.
    void keepClearOf(std::function<QRect()> area) { m_clearOf = std::move(area); }
    // Where a frame of `frameSize` goes on `screen` (both global): centred across `owner`, just
    // below `clearOf`; above it when the screen has no room below, else as low as the screen
    // allows.
    static QPoint origin(const QRect &screen, const QRect &owner, const QRect &clearOf,
                         const QSize &frameSize);

protected:
    void reject() override;

private:
    void submit();
    void wipe();
    // Shows the dialog, once the window it belongs to is on screen.
    void present();

    QLabel *m_reason;
    QLabel *m_messages;
    QLabel *m_prompt;
    QLineEdit *m_field;
    QPushButton *m_ok;
    Answer m_answer;
    std::function<QRect()> m_clearOf;
    // Between begin() and finish() or a cancel: the dialog is to be shown.
    bool m_wanted = false;
};

} // namespace velmora
