#include "platform/SystemAuthenticator.h"

#include "platform/PlatformLogging.h"

#include <QCoreApplication>
#include <QFuture>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

#include <security/pam_appl.h>

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>

namespace velmora {

QString AuthenticationError::message() const {
    switch (m_case) {
    case Case::canceled:
        return QCoreApplication::translate("AuthenticationError", "Authentication was canceled.");
    case Case::failed:
        return QCoreApplication::translate("AuthenticationError", "Authentication failed.");
    case Case::tooManyAttempts:
        return QCoreApplication::translate("AuthenticationError", "Too many failed attempts.");
    case Case::unavailable:
        return QCoreApplication::translate("AuthenticationError",
                                           "System authentication is unavailable.");
    case Case::system:
        break;
    }
    return m_text;
}

namespace {

QString currentUserName() {
    // getpwuid_r, not the environment: USER can be set to anyone.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    QByteArray buffer(size > 0 ? size : 16384, Qt::Uninitialized);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), size_t(buffer.size()), &found) != 0 || !found)
        return {};
    return QString::fromLocal8Bit(found->pw_name);
}

void wipe(QByteArray &bytes) {
    // volatile so the compiler keeps the stores to memory that is about to be freed.
    volatile char *data = bytes.data();
    for (qsizetype index = 0; index < bytes.size(); ++index)
        data[index] = 0;
    bytes.clear();
}

void wipe(QString &text) {
    volatile char16_t *data = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype index = 0; index < text.size(); ++index)
        data[index] = 0;
    text.clear();
}

// One question to the person: answered once, by the person, by a cancel, or as cancelled when
// the conversation lets go of it unanswered (its dialog was destroyed, its event dropped).
struct PamQuestion {
    std::promise<std::optional<QString>> promise;
    std::atomic_bool answered = false;

    void answer(std::optional<QString> text) {
        if (!answered.exchange(true))
            promise.set_value(std::move(text));
    }
};

class PamAnswerGuard {
public:
    explicit PamAnswerGuard(std::shared_ptr<PamQuestion> question)
        : m_question(std::move(question)) {}
    ~PamAnswerGuard() { m_question->answer(std::nullopt); }
    PamAnswerGuard(const PamAnswerGuard &) = delete;
    PamAnswerGuard &operator=(const PamAnswerGuard &) = delete;

    PamQuestion &question() const { return *m_question; }

private:
    std::shared_ptr<PamQuestion> m_question;
};

} // namespace

// What one PAM transaction shares between the worker thread and the GUI thread.
struct PamConversationBridge {
    std::shared_ptr<AuthenticationConversation> conversation;
    std::shared_ptr<QObject> guiContext;
    std::atomic_bool canceled = false;
    std::mutex mutex;
    std::shared_ptr<PamQuestion> pending; // guarded by mutex

    // Any thread: the waiting question, and every later one, is answered as cancelled.
    void cancel() {
        std::shared_ptr<PamQuestion> question;
        {
            const std::lock_guard lock(mutex);
            canceled = true;
            question = pending;
        }
        if (question)
            question->answer(std::nullopt);
    }

    // Worker thread: asks on the GUI thread and waits for the answer.
    std::optional<QString> ask(const QString &prompt, bool echo) {
        auto question = std::make_shared<PamQuestion>();
        auto answer = question->promise.get_future();
        {
            const std::lock_guard lock(mutex);
            if (canceled)
                return std::nullopt;
            pending = question;
        }
        auto guard = std::make_shared<PamAnswerGuard>(question);
        auto target = conversation;
        QMetaObject::invokeMethod(
            guiContext.get(),
            [target, guard, prompt, echo]() mutable {
                if (guard->question().answered)
                    return; // cancelled before it could be asked
                target->ask(prompt, echo, [guard](std::optional<QString> text) {
                    guard->question().answer(std::move(text));
                });
            },
            Qt::QueuedConnection);
        guard.reset();
        std::optional<QString> text = answer.get();
        const std::lock_guard lock(mutex);
        pending.reset();
        return text;
    }

    void tell(const QString &message, bool isError) {
        auto target = conversation;
        QMetaObject::invokeMethod(
            guiContext.get(), [target, message, isError] { target->tell(message, isError); },
            Qt::QueuedConnection);
    }
};

namespace {

char *copyForPam(const QByteArray &bytes) {
    // PAM frees each response with free().
    char *copy = static_cast<char *>(std::malloc(size_t(bytes.size()) + 1));
    if (copy)
        std::memcpy(copy, bytes.constData(), size_t(bytes.size()) + 1);
    return copy;
}

int converse(int count, const struct pam_message **messages, struct pam_response **responses,
             void *data) {
    auto *bridge = static_cast<PamConversationBridge *>(data);
    if (count <= 0 || count > PAM_MAX_NUM_MSG)
        return PAM_CONV_ERR;
    auto *replies = static_cast<pam_response *>(std::calloc(size_t(count), sizeof(pam_response)));
    if (!replies)
        return PAM_BUF_ERR;
    auto fail = [&](int code) {
        for (int index = 0; index < count; ++index) {
            if (replies[index].resp) {
                std::memset(replies[index].resp, 0, std::strlen(replies[index].resp));
                std::free(replies[index].resp);
            }
        }
        std::free(replies);
        return code;
    };
    for (int index = 0; index < count; ++index) {
        const pam_message *message = messages[index];
        const QString text = QString::fromLocal8Bit(message->msg ? message->msg : "");
        switch (message->msg_style) {
        case PAM_PROMPT_ECHO_OFF:
        case PAM_PROMPT_ECHO_ON: {
            auto answer = bridge->ask(text, message->msg_style == PAM_PROMPT_ECHO_ON);
            if (!answer) {
                bridge->canceled = true;
                return fail(PAM_CONV_ERR);
            }
            QByteArray bytes = answer->toUtf8();
            wipe(*answer);
            replies[index].resp = copyForPam(bytes);
            wipe(bytes);
            if (!replies[index].resp)
                return fail(PAM_BUF_ERR);
            break;
        }
        case PAM_ERROR_MSG:
            bridge->tell(text, true);
            break;
        case PAM_TEXT_INFO:
            bridge->tell(text, false);
            break;
        default:
            return fail(PAM_CONV_ERR);
        }
    }
    *responses = replies;
    return PAM_SUCCESS;
}

// The outcome of one transaction: PAM's code and, for unexpected codes, its own text.
struct PamOutcome {
    int code = PAM_SUCCESS;
    QString text;
    bool canceled = false;
    // No account to ask for, or no PAM transaction could be started.
    bool unavailable = false;
};

PamOutcome runTransaction(const QByteArray &service, QString userName,
                          const PamAuthenticator::UserLookup &lookUpUser,
                          PamConversationBridge *bridge) {
    PamOutcome outcome;
    if (userName.isEmpty())
        userName = lookUpUser ? lookUpUser() : currentUserName();
    if (userName.isEmpty()) {
        qCWarning(lcPlatform) << "system authentication is unavailable: the account running the "
                                 "program has no entry";
        outcome.unavailable = true;
        return outcome;
    }
    const QByteArray user = userName.toLocal8Bit();
    const pam_conv conversation{&converse, bridge};
    pam_handle_t *handle = nullptr;
    outcome.code = pam_start(service.constData(), user.constData(), &conversation, &handle);
    if (outcome.code != PAM_SUCCESS) {
        qCWarning(lcPlatform) << "system authentication is unavailable: pam_start gave"
                              << outcome.code;
        outcome.unavailable = true;
    }
    if (outcome.code == PAM_SUCCESS)
        outcome.code = pam_authenticate(handle, 0);
    if (outcome.code == PAM_SUCCESS)
        outcome.code = pam_acct_mgmt(handle, 0);
    if (outcome.code != PAM_SUCCESS)
        outcome.text = QString::fromLocal8Bit(pam_strerror(handle, outcome.code));
    if (handle)
        pam_end(handle, outcome.code);
    outcome.canceled = bridge->canceled;
    return outcome;
}

} // namespace

PamAuthenticator::PamAuthenticator(std::shared_ptr<AuthenticationConversation> conversation,
                                   QString service, QString userName, UserLookup lookUpUser)
    : m_conversation(std::move(conversation))
    , m_service(std::move(service))
    , m_userName(std::move(userName))
    , m_lookUpUser(std::move(lookUpUser))
    , m_guiContext(std::make_shared<QObject>()) {}

PamAuthenticator::~PamAuthenticator() {
    cancelPending();
}

void PamAuthenticator::cancelPending() {
    for (const auto &running : std::exchange(m_running, {}))
        if (const auto bridge = running.lock())
            bridge->cancel();
}

QCoro::Task<void> PamAuthenticator::authenticate(QString reason) {
    auto bridge = std::make_shared<PamConversationBridge>();
    bridge->conversation = m_conversation;
    bridge->guiContext = m_guiContext;
    std::erase_if(m_running, [](const auto &running) { return running.expired(); });
    m_running.push_back(bridge);
    // Nothing of this object is touched after the wait: it may be gone by then.
    const auto conversation = m_conversation;
    conversation->begin(reason);
    QFuture<PamOutcome> running = QtConcurrent::run(
        [service = m_service.toLocal8Bit(), user = m_userName, lookUp = m_lookUpUser, bridge] {
            return runTransaction(service, user, lookUp, bridge.get());
        });
    const PamOutcome outcome = co_await running;
    conversation->finish();
    if (outcome.code == PAM_SUCCESS && !outcome.unavailable)
        co_return;
    if (outcome.unavailable)
        throw AuthenticationError::unavailable();
    if (outcome.canceled || outcome.code == PAM_CONV_ERR || outcome.code == PAM_ABORT)
        throw AuthenticationError::canceled();
    if (outcome.code == PAM_MAXTRIES)
        throw AuthenticationError::tooManyAttempts();
    if (outcome.code == PAM_AUTH_ERR || outcome.code == PAM_USER_UNKNOWN ||
        outcome.code == PAM_CRED_INSUFFICIENT)
        throw AuthenticationError::failed();
    qCInfo(lcPlatform) << "system authentication refused:" << outcome.text;
    throw AuthenticationError::system(outcome.text);
}

} // namespace velmora
