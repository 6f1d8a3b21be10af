#include "platform/Cancellation.h"

#include <utility>

namespace velmora {

CancellationToken::CancellationToken()
    : m_state(std::make_shared<State>()) {}

void CancellationToken::cancel() {
    if (m_state->cancelled)
        return;
    m_state->cancelled = true;
    // A callback may register or remove others; run the ones present now, from a detached list.
    auto callbacks = std::exchange(m_state->callbacks, {});
    for (auto &[id, callback] : callbacks)
        callback();
}

void CancellationToken::throwIfCancelled() const {
    if (m_state->cancelled)
        throw CancellationError();
}

CancellationToken::CallbackId CancellationToken::onCancel(std::function<void()> callback) {
    const CallbackId id = ++m_state->nextId;
    if (m_state->cancelled)
        callback();
    else
        m_state->callbacks.emplace(id, std::move(callback));
    return id;
}

void CancellationToken::removeCallback(CallbackId id) {
    m_state->callbacks.erase(id);
}

} // namespace velmora
