#include "platform/AsyncSleep.h"

#include <QTimer>

#include <algorithm>
#include <coroutine>
#include <memory>
#include <optional>

namespace velmora {

namespace {

// Copyable, as the coroutine machinery may copy it; the timer and the cancellation callback live
// in one shared state that goes when the last copy does.
class SleepAwaiter {
public:
    SleepAwaiter(std::chrono::nanoseconds duration, CancellationToken token)
        : m_state(std::make_shared<State>(duration, std::move(token))) {}

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> handle) {
        QTimer *timer = new QTimer();
        m_state->timer = timer;
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, timer, [handle] { handle.resume(); });
        // Whole milliseconds, rounded up, so a sleep never ends before its duration.
        timer->start(std::chrono::ceil<std::chrono::milliseconds>(
            std::max(m_state->duration, std::chrono::nanoseconds::zero())));
        m_state->callback = m_state->token.onCancel([timer] { timer->start(0); });
    }

    void await_resume() const {}

private:
    struct State {
        State(std::chrono::nanoseconds duration, CancellationToken token)
            : duration(duration)
            , token(std::move(token)) {}
        ~State() {
            if (callback)
                token.removeCallback(*callback);
            // The coroutine resumes from the timer's own signal; delete it once that returned.
            if (timer) {
                timer->stop();
                timer->deleteLater();
            }
        }
        State(const State &) = delete;
        State &operator=(const State &) = delete;

        std::chrono::nanoseconds duration;
        CancellationToken token;
        QTimer *timer = nullptr;
        std::optional<CancellationToken::CallbackId> callback;
    };
    std::shared_ptr<State> m_state;
};

} // namespace

QCoro::Task<void> sleepFor(std::chrono::nanoseconds duration, CancellationToken token) {
    token.throwIfCancelled();
    co_await SleepAwaiter(duration, token);
    token.throwIfCancelled();
}

} // namespace velmora
