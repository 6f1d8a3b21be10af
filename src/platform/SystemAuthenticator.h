#pragma once

#include "platform/DiaryError.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// A refused or abandoned unlock; message() is the text the lock card shows.
class AuthenticationError : public DiaryError {
public:
    enum class Case { canceled, failed, tooManyAttempts, unavailable, system };

    static AuthenticationError canceled() { return AuthenticationError(Case::canceled, {}); }
    static AuthenticationError failed() { return AuthenticationError(Case::failed, {}); }
    static AuthenticationError tooManyAttempts() {
        return AuthenticationError(Case::tooManyAttempts, {});
    }
    // The system could not ask at all (no account entry, no authentication service): the lock
    // stays shut rather than opening without a question.
    static AuthenticationError unavailable() { return AuthenticationError(Case::unavailable, {}); }
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
    // False where the machine offers no owner authentication at all; the lock then opens
    // without one. A system that has authentication but cannot use it now says so through
    // authenticate() instead.
    virtual bool canAuthenticate() const = 0;
    // Succeeds or throws AuthenticationError. `reason` says why the program asks.
    virtual QCoro::Task<void> authenticate(QString reason) = 0;
    // Answers every question still waiting as cancelled, so that nothing is left waiting for a
    // person who is no longer asked (the program is quitting).
    virtual void cancelPending() {}
};

struct PamConversationBridge;

// System authentication through PAM: the service `service` for the user running the program.
// The account lookup and every PAM call run on a worker thread; every question goes to the
// conversation on the GUI thread. Secrets are wiped from our buffers once handed over and are
// never logged.
class PamAuthenticator : public SystemAuthenticator {
public:
    static constexpr const char *defaultService = "velmora";
    // The name of the account running the program; empty when it has no entry.
    using UserLookup = std::function<QString()>;

    // An empty `userName` is looked up with `lookUpUser` (the process's own account by default)
    // each time, on the worker thread: the lookup may ask a directory server.
    PamAuthenticator(std::shared_ptr<AuthenticationConversation> conversation,
                     QString service = QString::fromLatin1(defaultService),
                     QString userName = QString(), UserLookup lookUpUser = {});
    ~PamAuthenticator() override;

    // PAM is always there to ask; a failing lookup or start is reported as unavailable.
    bool canAuthenticate() const override { return true; }
    QCoro::Task<void> authenticate(QString reason) override;
    void cancelPending() override;

private:
    std::shared_ptr<AuthenticationConversation> m_conversation;
    QString m_service;
    QString m_userName;
    UserLookup m_lookUpUser;
    // Lives on the GUI thread: the worker posts the conversation's questions to it.
    std::shared_ptr<QObject> m_guiContext;
    std::vector<std::weak_ptr<PamConversationBridge>> m_running;
};

} // namespace velmora
