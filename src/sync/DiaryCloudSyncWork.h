#pragma once

// The awaiting helpers of a sync pass, for the engine's own sources.

#include "sync/DiaryCloudSync.h"

#include <QCoroFuture>
#include <QFuture>
#include <QtConcurrent>

#include <exception>
#include <optional>
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
    QCoro::Task<std::invoke_result_t<F &>> running = offThread(std::move(work));
    co_return co_await awaited(std::move(running));
}

template <typename T> QCoro::Task<T> DiaryCloudSync::awaited(QCoro::Task<T> task) {
    const QPointer<DiaryCloudSync> self(this);
    // However the task ended, an engine that went away meanwhile ends the pass as cancelled: a
    // failure of its work must not reach a handler that goes on with the engine.
    const auto throwIfGone = [&self] {
        if (!self)
            throw CancellationError();
    };
    if constexpr (std::is_void_v<T>) {
        try {
            co_await std::move(task);
        } catch (...) {
            throwIfGone();
            throw;
        }
        throwIfGone();
    } else {
        std::optional<T> result;
        try {
            result.emplace(co_await std::move(task));
        } catch (...) {
            throwIfGone();
            throw;
        }
        throwIfGone();
        co_return std::move(*result);
    }
}

} // namespace velmora
