#pragma once

#include "domain/DiarySessionStore.h"

#include <QCoroTask>
#include <QPointer>

#include <exception>
#include <optional>

namespace velmora {

// Keeps the open page in step when the whole diary is replaced underneath it (a restore or an
// import): pending writing is stored before the current diary is taken, the page is held (it
// takes no writing, and quitting or closing waits) until the new diary is in place, and the open
// day is then read again, so an old draft never saves over it unseen.
class DiaryOpenDayReloader {
public:
    explicit DiaryOpenDayReloader(DiarySessionStore *session = nullptr);

    // Runs `work()` with the page held: the writing still pending is stored first (a failure to
    // store is logged and the replacement goes on; what was not stored is kept beside the new
    // diary), and the hold ends however the work ends, reading the open day again when the store
    // was replaced meanwhile.
    template <typename Work>
    auto whileHeld(DiaryReplacementKind kind, Work work) -> decltype(work());

private:
    QCoro::Task<void> prepare(DiaryReplacementKind kind);
    QCoro::Task<void> reload();

    QPointer<DiarySessionStore> m_session;
};

template <typename Work>
auto DiaryOpenDayReloader::whileHeld(DiaryReplacementKind kind, Work work) -> decltype(work()) {
    using Result = typename decltype(work())::value_type;
    co_await prepare(kind);
    std::exception_ptr failure;
    std::optional<Result> result;
    try {
        auto working = work();
        result = co_await working;
    } catch (...) {
        failure = std::current_exception();
    }
    co_await reload();
    if (failure)
        std::rethrow_exception(failure);
    co_return std::move(*result);
}

} // namespace velmora
