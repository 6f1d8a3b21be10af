#pragma once

#include <QPointer>

#include <concepts>
#include <memory>
#include <type_traits>
#include <utility>

namespace velmora {

// Callbacks that hold their owner weakly, so that handing a callback to an object the owner
// itself keeps never makes a cycle. While the owner lives the callback runs `function(owner,
// arguments...)`; once it is gone the callback does nothing (and returns a default value).

template <typename Owner, typename Function>
requires std::derived_from<Owner, QObject>
auto weakCallback(Owner *owner, Function function) {
    return [guard = QPointer<Owner>(owner), function = std::move(function)](auto &&...arguments) {
        using Result = std::invoke_result_t<Function &, Owner *, decltype(arguments)...>;
        if (!guard) {
            if constexpr (std::is_void_v<Result>)
                return;
            else
                return Result{};
        }
        return function(guard.data(), std::forward<decltype(arguments)>(arguments)...);
    };
}

template <typename Owner, typename Function>
auto weakCallback(const std::shared_ptr<Owner> &owner, Function function) {
    return
        [guard = std::weak_ptr<Owner>(owner), function = std::move(function)](auto &&...arguments) {
            using Result = std::invoke_result_t<Function &, Owner *, decltype(arguments)...>;
            const auto strong = guard.lock();
            if (!strong) {
                if constexpr (std::is_void_v<Result>)
                    return;
                else
                    return Result{};
            }
            return function(strong.get(), std::forward<decltype(arguments)>(arguments)...);
        };
}

} // namespace velmora
