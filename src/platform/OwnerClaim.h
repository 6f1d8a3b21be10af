#pragma once

#include <QPointer>

#include <type_traits>
#include <utility>

namespace velmora {

// A move-only claim on an owner, let go once: when released or destroyed, it calls the owner's
// letGo(), unless the owner is gone by then. An owner that hands out claims of more than one kind
// names each with a tag type, and is called letGo(Kind()) for it.
template <typename Owner, typename Kind = void> class OwnerClaim {
public:
    OwnerClaim() = default;
    explicit OwnerClaim(Owner *owner)
        : m_owner(owner) {}
    OwnerClaim(OwnerClaim &&other) noexcept
        : m_owner(std::exchange(other.m_owner, nullptr)) {}
    OwnerClaim &operator=(OwnerClaim &&other) noexcept {
        if (this != &other) {
            release();
            m_owner = std::exchange(other.m_owner, nullptr);
        }
        return *this;
    }
    OwnerClaim(const OwnerClaim &) = delete;
    OwnerClaim &operator=(const OwnerClaim &) = delete;
    ~OwnerClaim() { release(); }

    void release() {
        if (const QPointer<Owner> owner = std::exchange(m_owner, nullptr)) {
            if constexpr (std::is_void_v<Kind>)
                owner->letGo();
            else
                owner->letGo(Kind());
        }
    }

private:
    QPointer<Owner> m_owner;
};

} // namespace velmora
