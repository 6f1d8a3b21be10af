#pragma once

#include "pages/PageDescriptor.h"
#include "platform/RawValueEnum.h"

#include <QMetaType>

#include <optional>

namespace velmora {

enum class PageTransitionPhase { idle, interactive, loading, animating };
VELMORA_RAW_VALUES(PageTransitionPhase, "idle", "interactive", "loading", "animating");

// Forward goes towards later leaves and days.
enum class PageTurnDirection { forward, backward };
VELMORA_RAW_VALUES(PageTurnDirection, "forward", "backward");

enum class PageTransitionMode { physical, crossFade };
VELMORA_RAW_VALUES(PageTransitionMode, "physical", "crossFade");

// One page turn while it runs. Velocity is in screen sense (positive to the right), not in the
// turn's sense.
struct PageTransitionState {
    PageTransitionPhase phase = PageTransitionPhase::idle;
    std::optional<PageDescriptor> source;
    std::optional<PageDescriptor> target;
    std::optional<PageTurnDirection> direction;
    std::optional<PageTransitionMode> mode;
    double progress = 0;
    double velocity = 0;

    // The one resting state, copied wherever a turn is reset.
    static const PageTransitionState &idle();

    friend bool operator==(const PageTransitionState &, const PageTransitionState &) = default;
};

// The drag at the page's edge. It commits a turn when the finger's progress or the predicted
// distance reaches 0.35 of the width, or the velocity in the turn's direction reaches 650.
class PageTurnInteraction {
public:
    static constexpr double commitFraction = 0.35;
    static constexpr double commitVelocity = 650;

    PageTransitionState state = PageTransitionState::idle();

    // Starts a drag from an idle state; false when there is no leaf or no neighbour to turn to,
    // or a drag is already under way.
    bool begin(const std::optional<PageDescriptor> &shown,
               const std::optional<PageDescriptor> &neighbour, PageTurnDirection direction,
               PageTransitionMode mode);

    void update(double translation, double width, double velocity);

    // True when the turn commits; the translation is the drag's predicted end.
    bool finish(double translation, double width);
};

} // namespace velmora

Q_DECLARE_METATYPE(velmora::PageTransitionState)
