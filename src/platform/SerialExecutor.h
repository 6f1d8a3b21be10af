#pragma once

#include <QObject>
#include <QString>

#include <condition_variable>
#include <coroutine>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <utility>

namespace velmora {

// One worker thread that runs jobs one at a time, in the order they were handed over.
// `co_await executor.run(fn)` runs fn on the worker and resumes the awaiting coroutine on the
// thread it awaited from (which needs a running event loop); an exception thrown by fn is
// rethrown there.
class SerialExecutor {
public:
    template <typename T> class Operation;

    explicit SerialExecutor(const QString &threadName = QStringLiteral("SerialExecutor"));
    // Runs every job already handed over, then stops the thread.
    ~SerialExecutor();
    // The same, for an owner that must release what the jobs use once the worker is gone. Work
    // handed over afterwards fails with std::logic_error.
    void stop();
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    // Bind the result to a name and await that: GCC 12.2 destroys aggregate temporaries of a
    // co_await operand twice (capturing lambdas and brace-initialised structs), so
    //     auto work = executor.run([value] { … });
    //     co_await work;
    template <typename F> Operation<std::invoke_result_t<F &>> run(F fn) {
        return Operation<std::invoke_result_t<F &>>(this, std::move(fn));
    }

    // Blocks the caller until fn has run on the worker; for opening and closing, never for work
    // the GUI thread would wait on during normal use.
    template <typename F> std::invoke_result_t<F &> runAndWait(F fn) {
        using T = std::invoke_result_t<F &>;
        if (isWorkerThread())
            return fn();
        std::exception_ptr error;
        std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};
        postAndWait([&] {
            try {
                if constexpr (std::is_void_v<T>)
                    fn();
                else
                    result.emplace(fn());
            } catch (...) {
                error = std::current_exception();
            }
        });
        if (error)
            std::rethrow_exception(error);
        if constexpr (!std::is_void_v<T>)
            return std::move(*result);
    }

    bool isWorkerThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

    // Hands job over without waiting for it, for owners that bring the answer back themselves.
    // False when the executor has stopped and the job will never run.
    bool post(std::function<void()> job);

private:
    void postAndWait(const std::function<void()> &job);
    // Hands control back to `handle` on the thread that owns `resumer`.
    static void resumeOn(QObject *resumer, std::coroutine_handle<> handle);

    void work();

    // A plain thread and queue: waking it is cheaper than a Qt event loop, and it needs no
    // application object, so it also stops cleanly during static teardown.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

template <typename T> class SerialExecutor::Operation {
public:
    bool await_ready() const noexcept { return false; }

    bool await_suspend(std::coroutine_handle<> handle) {
        // Made on the awaiting thread, so a queued call to it comes back to that thread.
        auto *resumer = new QObject;
        const bool queued = m_executor->post([state = m_state, resumer, handle] {
            try {
                if constexpr (std::is_void_v<T>)
                    state->job();
                else
                    state->result.emplace(state->job());
            } catch (...) {
                state->error = std::current_exception();
            }
            state->job = nullptr;
            resumeOn(resumer, handle);
        });
        if (!queued) {
            // A stopped executor runs nothing: fail at once rather than never resume.
            delete resumer;
            m_state->error = std::make_exception_ptr(
                std::logic_error("SerialExecutor: work handed over after stop()"));
        }
        return queued;
    }

    T await_resume() {
        if (m_state->error)
            std::rethrow_exception(m_state->error);
        if constexpr (!std::is_void_v<T>)
            return std::move(*m_state->result);
    }

private:
    friend class SerialExecutor;

    struct State {
        std::function<T()> job;
        std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};
        std::exception_ptr error;
    };

    template <typename F>
    Operation(SerialExecutor *executor, F fn)
        : m_executor(executor)
        , m_state(std::make_shared<State>()) {
        // std::function needs a copyable callable; the job may own move-only values.
        m_state->job = [fn = std::make_shared<F>(std::move(fn))]() -> T { return (*fn)(); };
    }

    SerialExecutor *m_executor;
    std::shared_ptr<State> m_state;
};

} // namespace velmora
