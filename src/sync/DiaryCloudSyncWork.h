#pragma once

// The awaiting helpers of a sync pass, for the engine's own sources.

#include "sync/DiaryCloudSync.h"

#include <QCoroFuture>
#include <QFuture>
#include <QtConcurrent>

#include <exception>
#include <type_traits>

namespace velmora {

template <typename F> QCoro::Task<std::invoke_result_t<F &>> DiaryCloudSync::offThread(F work) {
    using T = std::invoke_result_t<F &>;
    struct Outcome {
        std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
        std::exception_ptr error;
    };
    // Exceptions cross back as they are, not wrapped the way QtConcurrent wraps them.
    QFuture<Outcome> future = QtConcurrent::run([work = std::move(work)]() mutable {
        Outcome outcome;
        try {
            if constexpr (std::is_void_v<T>) {
                work();
                outcome.value = true;
            } else {
                outcome.value.emplace(work());
            }
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    });
    Outcome outcome = co_await future;
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*outcome.value);
}

template <typename F> QCoro::Task<std::invoke_result_t<F &>> DiaryCloudSync::folderWork(F work) {
    using T = std::invoke_result_t<F &>;
    const QPointer<DiaryCloudSync> self(this);
    QCoro::Task<T> running = offThread(std::move(work));
    if constexpr (std::is_void_v<T>) {
        co_await std::move(running);
        if (!self)
            throw CancellationError();
    } else {
        T result = co_await std::move(running);
        if (!self)
            throw CancellationError();
        co_return result;
    }
}

template <typename T> QCoro::Task<T> DiaryCloudSync::awaited(QCoro::Task<T> task) {
    const QPointer<DiaryCloudSync> self(this);
    if constexpr (std::is_void_v<T>) {
        co_await std::move(task);
        if (!self)
            throw CancellationError();
    } else {
        T result = co_await std::move(task);
        if (!self)
            throw CancellationError();
        co_return result;
    }
}

} // namespace velmora
