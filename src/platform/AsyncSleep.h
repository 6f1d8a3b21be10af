#pragma once

#include "platform/Cancellation.h"

#include <QCoroTask>

#include <chrono>

namespace velmora {

// Suspends for at least the duration and resumes from the event loop of the calling thread. It
// always yields, even for a zero duration, so a loop of sleeps can never starve the work it is
// waiting for. With a cancelled token it fails with CancellationError at once, without
// suspending; a cancellation during the sleep ends it early with the same error.
QCoro::Task<void> sleepFor(std::chrono::nanoseconds duration,
                           CancellationToken token = CancellationToken());

} // namespace velmora
