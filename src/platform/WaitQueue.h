#pragma once

#include <coroutine>
#include <deque>
#include <memory>

namespace velmora {

// Coroutines of one thread waiting for something to change. wakeAll() resumes each coroutine
// that waits at that moment exactly once, in the order they began to wait, from the thread's
// event loop and never from inside wakeAll(); one that waits again meanwhile waits for the next
// wakeAll(). Unlike an awaited signal, a wake that comes while an earlier one is being delivered
// reaches nothing that has already gone. A coroutine destroyed while it waits leaves the queue;
// the queue's destruction wakes its waiters, so they can see that what they waited on is gone.
class WaitQueue {
    struct State;

public:
    class Awaiter {
    public:
        explicit Awaiter(std::shared_ptr<State> state)
            : m_state(std::move(state)) {}
        // Moved only before it waits, as the coroutine machinery hands it over.
        Awaiter(Awaiter &&other) noexcept
            : m_state(std::move(other.m_state)) {}
        Awaiter(const Awaiter &) = delete;
        Awaiter &operator=(const Awaiter &) = delete;
        Awaiter &operator=(Awaiter &&) = delete;
        ~Awaiter();

        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle);
        void await_resume() const noexcept {}

    private:
        friend WaitQueue;
        std::shared_ptr<State> m_state;
        std::coroutine_handle<> m_handle;
    };

    WaitQueue();
    ~WaitQueue();
    WaitQueue(const WaitQueue &) = delete;
    WaitQueue &operator=(const WaitQueue &) = delete;

    Awaiter wait() { return Awaiter(m_state); }
    void wakeAll();

private:
    static void deliver(const std::shared_ptr<State> &state);

    struct State {
        std::deque<Awaiter *> waiting;
        std::deque<Awaiter *> woken;
        bool deliveryPosted = false;
    };
    std::shared_ptr<State> m_state;
};

} // namespace velmora
