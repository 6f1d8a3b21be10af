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

namespace velmora {

QString AuthenticationError::message() const {
    switch (m_case) {
    case Case::canceled:
        return QCoreApplication::translate("AuthenticationError", "Authentication was canceled.");
    case Case::failed:
        return QCoreApplication::translate("AuthenticationError", "Authentication failed.");
    case Case::tooManyAttempts:
        return QCoreApplication::translate("AuthenticationError", "Too many failed attempts.");
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

// What one PAM transaction shares between the worker thread and the GUI thread.
struct ConversationBridge {
    std::shared_ptr<AuthenticationConversation> conversation;
    std::shared_ptr<QObject> guiContext;
    std::atomic_bool canceled = false;

    // Runs `work` on the GUI thread and waits for the value it promises.
    template <typename T, typename Work> std::optional<T> onGuiThread(Work work) {
        auto promise = std::make_shared<std::promise<std::optional<T>>>();
        auto future = promise->get_future();
        const bool posted = QMetaObject::invokeMethod(
            guiContext.get(), [promise, work = std::move(work)]() mutable { work(promise); },
            Qt::QueuedConnection);
        if (!posted)
            return std::nullopt;
        return future.get();
    }

    std::optional<QString> ask(const QString &prompt, bool echo) {
        auto target = conversation;
        return onGuiThread<QString>([target, prompt, echo](auto promise) {
            auto answered = std::make_shared<std::atomic_bool>(false);
            target->ask(prompt, echo, [promise, answered](std::optional<QString> answer) {
                if (answered->exchange(true))
                    return;
                promise->set_value(std::move(answer));
            });
        });
    }

    void tell(const QString &message, bool isError) {
        auto target = conversation;
        QMetaObject::invokeMethod(
            guiContext.get(), [target, message, isError] { target->tell(message, isError); },
            Qt::QueuedConnection);
    }
};

char *copyForPam(const QByteArray &bytes) {
    // PAM frees each response with free().
    char *copy = static_cast<char *>(std::malloc(size_t(bytes.size()) + 1));
    if (copy)
        std::memcpy(copy, bytes.constData(), size_t(bytes.size()) + 1);
    return copy;
}

int converse(int count, const struct pam_message **messages, struct pam_response **responses,
             void *data) {
    auto *bridge = static_cast<ConversationBridge *>(data);
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
};

PamOutcome runTransaction(const QByteArray &service, const QByteArray &user,
                          ConversationBridge *bridge) {
    const pam_conv conversation{&converse, bridge};
    pam_handle_t *handle = nullptr;
    PamOutcome outcome;
    outcome.code = pam_start(service.constData(), user.constData(), &conversation, &handle);
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
                                   QString service, QString userName)
    : m_conversation(std::move(conversation))
    , m_service(std::move(service))
    , m_userName(userName.isEmpty() ? currentUserName() : std::move(userName))
    , m_guiContext(std::make_shared<QObject>()) {}

bool PamAuthenticator::canAuthenticate() const {
    if (m_userName.isEmpty())
        return false;
    // Starting a transaction reads the service's configuration; no question is asked.
    const pam_conv conversation{nullptr, nullptr};
    pam_handle_t *handle = nullptr;
    const QByteArray service = m_service.toLocal8Bit();
    const QByteArray user = m_userName.toLocal8Bit();
    const int code = pam_start(service.constData(), user.constData(), &conversation, &handle);
    if (handle)
        pam_end(handle, code);
    if (code != PAM_SUCCESS)
        qCWarning(lcPlatform) << "system authentication is unavailable: pam_start gave" << code;
    return code == PAM_SUCCESS;
}

QCoro::Task<void> PamAuthenticator::authenticate(QString reason) {
    if (m_userName.isEmpty())
        throw AuthenticationError::system(QCoreApplication::translate(
            "AuthenticationError", "The user of this program could not be determined."));
    auto bridge = std::make_shared<ConversationBridge>();
    bridge->conversation = m_conversation;
    bridge->guiContext = m_guiContext;
    m_conversation->begin(reason);
    const QByteArray service = m_service.toLocal8Bit();
    const QByteArray user = m_userName.toLocal8Bit();
    QFuture<PamOutcome> running = QtConcurrent::run(
        [service, user, bridge] { return runTransaction(service, user, bridge.get()); });
    const PamOutcome outcome = co_await running;
    m_conversation->finish();
    if (outcome.code == PAM_SUCCESS)
        co_return;
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
