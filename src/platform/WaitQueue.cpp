#include "platform/WaitQueue.h"

#include <QTimer>

#include <algorithm>

namespace velmora {

WaitQueue::Awaiter::~Awaiter() {
    // Only a coroutine destroyed while it waits is still listed.
    if (!m_state)
        return;
    std::erase(m_state->waiting, this);
    std::erase(m_state->woken, this);
}

void WaitQueue::Awaiter::await_suspend(std::coroutine_handle<> handle) {
    m_handle = handle;
    m_state->waiting.push_back(this);
}

WaitQueue::WaitQueue()
    : m_state(std::make_shared<State>()) {}

WaitQueue::~WaitQueue() {
    wakeAll();
}

void WaitQueue::wakeAll() {
    const std::shared_ptr<State> &state = m_state;
    if (state->waiting.empty())
        return;
    state->woken.insert(state->woken.end(), state->waiting.begin(), state->waiting.end());
    state->waiting.clear();
    if (state->deliveryPosted)
        return;
    state->deliveryPosted = true;
    // Held weakly: once every waiter has gone there is nobody to resume.
    QTimer::singleShot(0, [weak = std::weak_ptr<State>(state)] {
        if (const std::shared_ptr<State> held = weak.lock())
            deliver(held);
    });
}

void WaitQueue::deliver(const std::shared_ptr<State> &state) {
    state->deliveryPosted = false;
    // One at a time, taken off the list before it runs: a resumed coroutine may wake the queue
    // again, wait again, or end other waiters, and each of those sees the list as it now is.
    while (!state->woken.empty()) {
        Awaiter *next = state->woken.front();
        state->woken.pop_front();
        next->m_handle.resume();
    }
}

} // namespace velmora
