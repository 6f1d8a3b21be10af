#pragma once

#include <chrono>

namespace velmora {

// How the view animates a change that the page makes: the curve and how long it runs. A spring
// runs until it has settled.
struct VuzIvoduPageAnimation {
    enum class Curve { none, easeIn, easeOut, easeInOut, spring };

    Curve curve = Curve::none;
    std::chrono::milliseconds duration{0};
    double response = 0;
    double dampingFraction = 0;

    static VuzIvoduPageAnimation eased(Curve curve, double seconds, double scale);
    static VuzIvoduPageAnimation spring(double response, double dampingFraction, double scale);
    bool isAnimated() const { return curve != Curve::none && duration.count() > 0; }
    // The eased progress (0 to 1, a spring overshooting a little) at a share of the duration.
    double progress(double share) const;

    friend bool operator==(const VuzIvoduPageAnimation &, const VuzIvoduPageAnimation &) = default;
};

} // namespace velmora
