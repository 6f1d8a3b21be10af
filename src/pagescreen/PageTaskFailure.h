#pragma once

#include <QCoroTask>
#include <QString>

#include <exception>

namespace velmora {

// What the page's tasks make of a failure: a cancellation is no failure to show; anything else
// becomes the text of the "Writing Not Saved" alert.
bool isCancellation(const std::exception_ptr &failure);
QString describePageFailure(const std::exception_ptr &failure);

// Starts a task that nobody waits for; it keeps itself alive until it ends.
inline void launchPageTask(QCoro::Task<void> task) {
    // A task whose handle is dropped runs on and frees itself when it ends.
    Q_UNUSED(task)
}

} // namespace velmora
