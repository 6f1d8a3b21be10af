#pragma once

#include <QCoroTask>
#include <QEventLoop>

#include <exception>
#include <optional>

namespace velmora::bench {

// Runs the event loop until the task is done; the store resumes its callers through it.
template <typename T> T await(QCoro::Task<T> task) {
    std::optional<T> result;
    std::exception_ptr error;
    bool done = false;
    QEventLoop loop;
    auto runner = [](QCoro::Task<T> task, std::optional<T> *result, std::exception_ptr *error,
                     bool *done, QEventLoop *loop) -> QCoro::Task<void> {
        try {
            result->emplace(co_await std::move(task));
        } catch (...) {
            *error = std::current_exception();
        }
        *done = true;
        loop->quit();
    };
    auto running = runner(std::move(task), &result, &error, &done, &loop);
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

inline void await(QCoro::Task<void> task) {
    auto wrapped = [](QCoro::Task<void> task) -> QCoro::Task<bool> {
        co_await std::move(task);
        co_return true;
    };
    await(wrapped(std::move(task)));
}

} // namespace velmora::bench
