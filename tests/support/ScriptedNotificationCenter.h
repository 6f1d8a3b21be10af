#pragma once

#include "daily/DiaryNotificationCenter.h"
#include "platform/AsyncSleep.h"

#include <functional>
#include <stdexcept>
#include <utility>

namespace velmora::test {

using namespace std::chrono_literals;

// Keeps requests in memory. Like the desktop layer, each call takes effect when it is made and
// reports back later, through the event loop.
class ScriptedNotificationCenter final : public DiaryNotificationCenter {
public:
    QList<DiaryNotificationRequest> pending;
    DiaryNotificationAuthorizationStatus status = DiaryNotificationAuthorizationStatus::authorized;
    bool grants = true;
    bool requestThrows = false;
    int addCount = 0;
    // Runs once, inside the next add, before it reports back.
    std::function<void()> duringNextAdd;

    QCoro::Task<QList<DiaryNotificationRequest>> pendingNotificationRequests() override {
        const QList<DiaryNotificationRequest> listed = pending;
        co_await sleepFor(1ms);
        co_return listed;
    }
    QCoro::Task<void> removePendingNotificationRequests(QStringList identifiers) override {
        pending.removeIf(
            [&](const auto &request) { return identifiers.contains(request.identifier); });
        co_await sleepFor(1ms);
    }
    QCoro::Task<DiaryNotificationAuthorizationStatus> authorizationStatus() override {
        co_await sleepFor(1ms);
        co_return status;
    }
    QCoro::Task<bool> requestAuthorization(DiaryNotificationAuthorizationOptions) override {
        co_await sleepFor(1ms);
        if (requestThrows)
            throw std::runtime_error("the service is gone");
        if (grants && status == DiaryNotificationAuthorizationStatus::notDetermined)
            status = DiaryNotificationAuthorizationStatus::authorized;
        co_return grants;
    }
    QCoro::Task<void> add(DiaryNotificationRequest request) override {
        ++addCount;
        pending.removeIf([&](const auto &old) { return old.identifier == request.identifier; });
        pending.append(request);
        if (auto action = std::exchange(duringNextAdd, nullptr))
            action();
        co_await sleepFor(1ms);
    }
    void setDelegate(DiaryNotificationDelegate *) override {}

    QStringList identifiers() const {
        QStringList result;
        for (const auto &request : pending)
            result.append(request.identifier);
        return result;
    }
};

} // namespace velmora::test
