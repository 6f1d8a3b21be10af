#pragma once

#include <QCoroTask>
#include <QFlags>
#include <QList>
#include <QString>
#include <QStringList>

namespace velmora {

enum class DiaryNotificationAuthorizationStatus {
    notDetermined,
    denied,
    authorized,
    provisional,
    ephemeral
};

enum class DiaryNotificationAuthorizationOption { alert = 0x1, sound = 0x2, badge = 0x4 };
Q_DECLARE_FLAGS(DiaryNotificationAuthorizationOptions, DiaryNotificationAuthorizationOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(DiaryNotificationAuthorizationOptions)

enum class DiaryNotificationPresentationOption { banner = 0x1, sound = 0x2 };
Q_DECLARE_FLAGS(DiaryNotificationPresentationOptions, DiaryNotificationPresentationOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(DiaryNotificationPresentationOptions)

// Fires once, at this wall-clock minute of the current calendar.
struct DiaryCalendarTrigger {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;

    friend bool operator==(const DiaryCalendarTrigger &, const DiaryCalendarTrigger &) = default;
};

struct DiaryNotificationRequest {
    QString identifier;
    QString title;
    QString body;
    QString threadIdentifier;
    bool playsDefaultSound = false;
    DiaryCalendarTrigger trigger;

    friend bool operator==(const DiaryNotificationRequest &,
                           const DiaryNotificationRequest &) = default;
};

// Answers the notification centre about our own notifications.
class DiaryNotificationDelegate {
public:
    virtual ~DiaryNotificationDelegate() = default;
    // How to show a notification that falls due while the application is active.
    virtual QCoro::Task<DiaryNotificationPresentationOptions>
    willPresentNotification(DiaryNotificationRequest request) = 0;
    // The user opened a delivered notification.
    virtual QCoro::Task<void> didReceiveNotificationResponse(QString requestIdentifier) = 0;
};

// Local notifications scheduled by calendar time. A request added with the identifier of a
// pending one takes its place.
class DiaryNotificationCenter {
public:
    virtual ~DiaryNotificationCenter() = default;

    virtual QCoro::Task<QList<DiaryNotificationRequest>> pendingNotificationRequests() = 0;
    virtual QCoro::Task<void> removePendingNotificationRequests(QStringList identifiers) = 0;
    virtual QCoro::Task<DiaryNotificationAuthorizationStatus> authorizationStatus() = 0;
    // True when permission is granted; may throw when the request itself fails.
    virtual QCoro::Task<bool>
    requestAuthorization(DiaryNotificationAuthorizationOptions options) = 0;
    // Throws when the request cannot be scheduled.
    virtual QCoro::Task<void> add(DiaryNotificationRequest request) = 0;
    // Not owned; the delegate must outlive the centre or be unset first.
    virtual void setDelegate(DiaryNotificationDelegate *delegate) = 0;
};

} // namespace velmora
