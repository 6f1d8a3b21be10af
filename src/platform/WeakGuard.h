#pragma once

#include <QObject>
#include <QPointer>

#include <concepts>
#include <memory>
#include <type_traits>
#include <utility>

namespace velmora {

// Callbacks that hold their owner weakly, so that handing a callback to an object the owner
// itself keeps never makes a cycle. While the owner lives the callback runs `function(owner,
// arguments...)`; once it is gone it runs `whenGone(arguments...)`, or, without one, does nothing
// and returns a default value. The owner is a QObject (held by QPointer) or a shared_ptr (held by
// weak_ptr, and kept alive for the length of the call).

namespace detail {

template <typename Owner>
requires std::derived_from<Owner, QObject> QPointer<Owner> weakHandle(Owner *owner) {
    return QPointer<Owner>(owner);
}

template <typename Owner> std::weak_ptr<Owner> weakHandle(const std::shared_ptr<Owner> &owner) {
    return owner;
}

template <typename Owner> QPointer<Owner> lock(const QPointer<Owner> &handle) {
    return handle;
}

template <typename Owner> std::shared_ptr<Owner> lock(const std::weak_ptr<Owner> &handle) {
    return handle.lock();
}

template <typename Owner> Owner *raw(const QPointer<Owner> &strong) {
    return strong.data();
}

template <typename Owner> Owner *raw(const std::shared_ptr<Owner> &strong) {
    return strong.get();
}

} // namespace detail

template <typename OwnerRef, typename Function, typename Fallback>
auto weakCallback(const OwnerRef &owner, Function function, Fallback whenGone) {
    return [guard = detail::weakHandle(owner), function = std::move(function),
            whenGone = std::move(whenGone)](auto &&...arguments) {
        const auto strong = detail::lock(guard);
        if (!strong)
            return whenGone(std::forward<decltype(arguments)>(arguments)...);
        return function(detail::raw(strong), std::forward<decltype(arguments)>(arguments)...);
    };
}

template <typename OwnerRef, typename Function>
auto weakCallback(const OwnerRef &owner, Function function) {
    using Owner =
        std::remove_pointer_t<decltype(detail::raw(detail::lock(detail::weakHandle(owner))))>;
    return weakCallback(owner, std::move(function), [](auto &&...arguments) {
        using Result = std::invoke_result_t<Function &, Owner *, decltype(arguments)...>;
        if constexpr (!std::is_void_v<Result>)
            return Result{};
    });
}

} // namespace velmora
