#pragma once

#include "platform/DiaryError.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace velmora {

// A refused or abandoned unlock; message() is the text the lock card shows.
class AuthenticationError : public DiaryError {
public:
    enum class Case { canceled, failed, tooManyAttempts, system };

    static AuthenticationError canceled() { return AuthenticationError(Case::canceled, {}); }
    static AuthenticationError failed() { return AuthenticationError(Case::failed, {}); }
    static AuthenticationError tooManyAttempts() {
        return AuthenticationError(Case::tooManyAttempts, {});
    }
    // The authentication system's own words for anything else.
    static AuthenticationError system(QString text) {
        return AuthenticationError(Case::system, std::move(text));
    }

    Case kind() const { return m_case; }
    QString message() const override;

private:
    AuthenticationError(Case kind, QString text)
        : m_case(kind)
        , m_text(std::move(text)) {}

    Case m_case;
    QString m_text;
};

// The person at the keyboard, as the authentication system talks to them. Called on the GUI
// thread; an answer may come later, from the GUI thread, exactly once.
class AuthenticationConversation {
public:
    using Answer = std::function<void(std::optional<QString>)>;

    virtual ~AuthenticationConversation() = default;
    // A conversation starts; `reason` says why the program asks ("Unlock your diary").
    virtual void begin(const QString &reason) = 0;
    // A question such as "Password: "; `echo` false for secrets. No answer (nullopt) cancels.
    virtual void ask(const QString &prompt, bool echo, Answer answer) = 0;
    // A message to show while the conversation goes on (a fingerprint reader's hint, an error).
    virtual void tell(const QString &message, bool isError) = 0;
    // The conversation is over, whatever its outcome.
    virtual void finish() = 0;
};

// Proves that the person at the keyboard owns this account.
class SystemAuthenticator {
public:
    virtual ~SystemAuthenticator() = default;
    // False where the machine offers no owner authentication; the lock then opens without one.
    virtual bool canAuthenticate() const = 0;
    // Succeeds or throws AuthenticationError. `reason` says why the program asks.
    virtual QCoro::Task<void> authenticate(QString reason) = 0;
};

// System authentication through PAM: the service `service` for the user running the program.
// The PAM calls run on a worker thread; every question goes to the conversation on the GUI
// thread. Secrets are wiped from our buffers once handed over and are never logged.
class PamAuthenticator : public SystemAuthenticator {
public:
    static constexpr const char *defaultService = "velmora";

    PamAuthenticator(std::shared_ptr<AuthenticationConversation> conversation,
                     QString service = QString::fromLatin1(defaultService),
                     QString userName = QString());

    bool canAuthenticate() const override;
    QCoro::Task<void> authenticate(QString reason) override;

    const QString &userName() const { return m_userName; }

private:
    std::shared_ptr<AuthenticationConversation> m_conversation;
    QString m_service;
    QString m_userName;
    // Lives on the GUI thread: the worker posts the conversation's questions to it.
    std::shared_ptr<QObject> m_guiContext;
};

} // namespace velmora
