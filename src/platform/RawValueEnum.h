#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace velmora {

// Enumerations whose raw values are their case names. A specialisation lists the names in case
// order; the enumerators must be 0, 1, 2, … in that same order.
template <typename E> struct EnumRawValues;

#define VELMORA_RAW_VALUES(Enum, ...)                                                              \
    template <> struct EnumRawValues<Enum> {                                                       \
        static constexpr std::string_view typeName = #Enum;                                        \
        static constexpr auto names = std::to_array<std::string_view>({__VA_ARGS__});              \
    }

template <typename E> constexpr std::size_t caseCount() {
    return EnumRawValues<E>::names.size();
}

template <typename E> constexpr std::array<E, caseCount<E>()> allCases() {
    std::array<E, caseCount<E>()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i)
        cases[i] = static_cast<E>(i);
    return cases;
}

template <typename E> QString rawValue(E value) {
    const auto &names = EnumRawValues<E>::names;
    const auto index = static_cast<std::size_t>(value);
    if (index >= names.size())
        return {};
    return QString::fromLatin1(names[index].data(), qsizetype(names[index].size()));
}

// Accepts exactly a case name, with case; anything else gives no value.
template <typename E> std::optional<E> fromRawValue(QStringView text) {
    const auto &names = EnumRawValues<E>::names;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (text == QLatin1StringView(names[i].data(), qsizetype(names[i].size())))
            return static_cast<E>(i);
    }
    return std::nullopt;
}

} // namespace velmora
