#pragma once

#include <chrono>

namespace velmora {

// How long the open book waits before it acts on its own. Tests shorten them.
struct VuzIvoduPageTimings {
    std::chrono::nanoseconds focusAfterLoad = std::chrono::milliseconds(250);
    std::chrono::nanoseconds savedNote = std::chrono::milliseconds(1100);
    std::chrono::nanoseconds savedNoteReducedMotion = std::chrono::milliseconds(700);
    std::chrono::nanoseconds sealAcknowledgement = std::chrono::milliseconds(1600);
    std::chrono::nanoseconds crossFadeSettle = std::chrono::milliseconds(180);
    // The longest the page waits between two looks at the civil date, so a suspended machine or
    // a clock set by hand is noticed within this time.
    std::chrono::milliseconds civilDateCheck = std::chrono::seconds(60);
    // Stretches (or, in tests, shortens) every animation the view plays.
    double animationScale = 1;
};

} // namespace velmora
