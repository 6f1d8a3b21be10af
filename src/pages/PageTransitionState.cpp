#include "pages/PageTransitionState.h"

namespace velmora {

namespace {

// The drag's distance in the turn's sense: a forward turn is a drag to the left.
double directed(double value, PageTurnDirection direction) {
    return direction == PageTurnDirection::forward ? -value : value;
}

} // namespace

const PageTransitionState &PageTransitionState::idle() {
    static const PageTransitionState resting;
    return resting;
}

bool PageTurnInteraction::begin(const std::optional<PageDescriptor> &shown,
                                const std::optional<PageDescriptor> &neighbour,
                                PageTurnDirection direction, PageTransitionMode mode) {
    if (state.phase != PageTransitionPhase::idle || !shown || !neighbour)
        return false;
    state = PageTransitionState{
        PageTransitionPhase::interactive, shown, neighbour, direction, mode, 0, 0};
    return true;
}

void PageTurnInteraction::update(double translation, double width, double velocity) {
    if (state.phase != PageTransitionPhase::interactive || !state.direction)
        return;
    const double distance = directed(translation, *state.direction);
    const double ratio = width >= 1 ? distance / width : distance;
    state.progress = ratio > 1 ? 1 : (ratio > 0 ? ratio : 0);
    state.velocity = velocity;
}

bool PageTurnInteraction::finish(double translation, double width) {
    if (state.phase != PageTransitionPhase::interactive || !state.direction) {
        state = PageTransitionState::idle();
        return false;
    }
    const double distance = directed(translation, *state.direction);
    const double directedVelocity = directed(state.velocity, *state.direction);
    const bool commits = state.progress >= commitFraction ||
                         distance / (width >= 1 ? width : 1) >= commitFraction ||
                         directedVelocity >= commitVelocity;
    if (!commits) {
        state = PageTransitionState::idle();
        return false;
    }
    state.phase = PageTransitionPhase::animating;
    return true;
}

} // namespace velmora
