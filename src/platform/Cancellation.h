#pragma once

#include <QtGlobal>

#include <exception>
#include <functional>
#include <map>
#include <memory>

namespace velmora {

// Thrown when work stops because it was cancelled or overtaken by newer work. It is not a
// failure to show: callers that present errors let it pass silently.
class CancellationError : public std::exception {
public:
    const char *what() const noexcept override { return "The operation was cancelled."; }
};

// A cancellation flag shared by every copy, checked by work after each suspension. Confined to
// the thread that made it, like the work it cancels.
class CancellationToken {
public:
    using CallbackId = quint64;

    CancellationToken();

    // Sets the flag and runs the registered callbacks once, in registration order.
    void cancel();
    bool isCancelled() const { return m_state->cancelled; }
    void throwIfCancelled() const;

    // The callback runs when the token is cancelled; at once when it already is.
    CallbackId onCancel(std::function<void()> callback);
    void removeCallback(CallbackId id);

    friend bool operator==(const CancellationToken &a, const CancellationToken &b) {
        return a.m_state == b.m_state;
    }

private:
    struct State {
        bool cancelled = false;
        CallbackId nextId = 0;
        std::map<CallbackId, std::function<void()>> callbacks;
    };
    std::shared_ptr<State> m_state;
};

} // namespace velmora
