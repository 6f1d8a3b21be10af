#include "daily/FreedesktopNotificationCenter.h"

#include "daily/DailyLogging.h"
#include "daily/DiaryLocalTime.h"
#include "platform/FileSystemError.h"

#include <QCoroSignal>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QVariantMap>

#include <algorithm>
#include <cerrno>
#include <exception>

namespace velmora {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");

QJsonObject toJson(const DiaryNotificationRequest &request) {
    const DiaryCalendarTrigger &t = request.trigger;
    return QJsonObject{
        {QStringLiteral("identifier"), request.identifier},
        {QStringLiteral("title"), request.title},
        {QStringLiteral("body"), request.body},
        {QStringLiteral("threadIdentifier"), request.threadIdentifier},
        {QStringLiteral("sound"), request.playsDefaultSound},
        {QStringLiteral("trigger"), QJsonObject{{QStringLiteral("year"), t.year},
                                                {QStringLiteral("month"), t.month},
                                                {QStringLiteral("day"), t.day},
                                                {QStringLiteral("hour"), t.hour},
                                                {QStringLiteral("minute"), t.minute}}},
    };
}

std::optional<DiaryNotificationRequest> requestFromJson(const QJsonValue &value) {
    const QJsonObject object = value.toObject();
    const QJsonObject trigger = object.value(QLatin1String("trigger")).toObject();
    DiaryNotificationRequest request;
    request.identifier = object.value(QLatin1String("identifier")).toString();
    request.title = object.value(QLatin1String("title")).toString();
    request.body = object.value(QLatin1String("body")).toString();
    request.threadIdentifier = object.value(QLatin1String("threadIdentifier")).toString();
    request.playsDefaultSound = object.value(QLatin1String("sound")).toBool();
    request.trigger = {
        trigger.value(QLatin1String("year")).toInt(), trigger.value(QLatin1String("month")).toInt(),
        trigger.value(QLatin1String("day")).toInt(), trigger.value(QLatin1String("hour")).toInt(-1),
        trigger.value(QLatin1String("minute")).toInt(-1)};
    if (request.identifier.isEmpty())
        return std::nullopt;
    return request;
}

} // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(QString folder, QDBusConnection bus,
                                                             std::shared_ptr<const Clock> clock,
                                                             GregorianCalendar calendar,
                                                             QObject *parent)
    : QObject(parent)
    , m_folder(std::move(folder))
    , m_bus(std::move(bus))
    , m_clock(std::move(clock))
    , m_calendar(std::move(calendar)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FreedesktopNotificationCenter::deliverDueRequests);
    // Any sender: the server's unique name is not known before it answers; ids we never handed
    // out are ignored.
    m_bus.connect(QString(), path, interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(QString(), path, interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
    load();
}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter() {
    // Writes already handed over finish before the folder's owner goes on.
    m_io.stop();
}

QCoro::Task<void> FreedesktopNotificationCenter::load() {
    QPointer<FreedesktopNotificationCenter> self(this);
    const QString file = m_folder + QLatin1Char('/') + fileName;
    auto reading = m_io.run([file]() -> std::optional<QByteArray> {
        try {
            return readRegularFile(file, fileByteLimit);
        } catch (const FileSystemError &error) {
            if (error.errorNumber() == ENOENT)
                return QByteArray();
            qCWarning(lcDaily) << error.message();
            return std::nullopt;
        }
    });
    const std::optional<QByteArray> bytes = co_await reading;
    if (!self)
        co_return;
    if (!bytes) {
        qCWarning(lcDaily) << "The pending notifications could not be read from" << file;
    } else if (!bytes->isEmpty()) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
        if (!document.isObject()) {
            // Only reminders live here; the next reschedule makes them again.
            qCWarning(lcDaily) << "The pending notifications file is damaged and was ignored:"
                               << error.errorString();
        } else {
            const QJsonObject root = document.object();
            m_authorized = root.value(QLatin1String("authorized")).toBool();
            const QDateTime now = m_clock->now();
            bool dropped = false;
            for (const QJsonValue &value : root.value(QLatin1String("pending")).toArray()) {
                const auto request = requestFromJson(value);
                if (!request)
                    continue;
                // Fell due while the program was not running: a reminder for a moment that has
                // gone would only arrive late, so the plan made at start takes over instead.
                const auto firing = firingTime(*request);
                if (firing && *firing <= now) {
                    dropped = true;
                    continue;
                }
                m_pending.append(*request);
            }
            if (dropped)
                persist();
        }
    }
    m_loaded = true;
    Q_EMIT loaded();
    rearm();
}

QCoro::Task<void> FreedesktopNotificationCenter::whenLoaded() {
    if (!m_loaded)
        co_await qCoro(this, &FreedesktopNotificationCenter::loaded);
}

QCoro::Task<void> FreedesktopNotificationCenter::persist() {
    QJsonArray pending;
    for (const DiaryNotificationRequest &request : std::as_const(m_pending))
        pending.append(toJson(request));
    const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("authorized"), m_authorized},
                                                       {QStringLiteral("pending"), pending}})
                                 .toJson(QJsonDocument::Compact);
    const QString folder = m_folder;
    auto writing = m_io.run([folder, bytes] {
        createDirectories(folder);
        writeFileAtomically(folder + QLatin1Char('/') + fileName, bytes);
    });
    try {
        co_await writing;
    } catch (const std::exception &error) {
        // The requests still fire in this run; only a restart would lose them.
        qCWarning(lcDaily) << "The pending notifications could not be saved:" << error.what();
    }
}

QCoro::Task<QList<DiaryNotificationRequest>>
FreedesktopNotificationCenter::pendingNotificationRequests() {
    co_await whenLoaded();
    // A copy made here: QCoro 0.8 moves from any non-const lvalue given to co_return.
    co_return QList<DiaryNotificationRequest>(m_pending);
}

QCoro::Task<void>
FreedesktopNotificationCenter::removePendingNotificationRequests(QStringList identifiers) {
    co_await whenLoaded();
    const qsizetype before = m_pending.size();
    m_pending.removeIf([&](const DiaryNotificationRequest &request) {
        return identifiers.contains(request.identifier);
    });
    if (m_pending.size() == before)
        co_return;
    rearm();
    co_await persist();
}

QCoro::Task<bool> FreedesktopNotificationCenter::serviceAnswers() {
    QPointer<FreedesktopNotificationCenter> self(this);
    const QDBusMessage call = QDBusMessage::createMethodCall(
        service, path, interface, QStringLiteral("GetServerInformation"));
    QDBusPendingCallWatcher watcher(m_bus.asyncCall(call));
    if (!watcher.isFinished())
        co_await qCoro(&watcher, &QDBusPendingCallWatcher::finished);
    if (!self)
        co_return false;
    if (watcher.isError()) {
        qCInfo(lcDaily) << "No notification service answered:" << watcher.error().message();
        co_return false;
    }
    if (!m_authorized) {
        m_authorized = true;
        co_await persist();
    }
    co_return true;
}

QCoro::Task<DiaryNotificationAuthorizationStatus>
FreedesktopNotificationCenter::authorizationStatus() {
    co_await whenLoaded();
    // A lost or damaged file forgets the permission; a service that answers gives it back, so a
    // reminder left switched on keeps being scheduled.
    bool authorized = m_authorized;
    if (!authorized)
        authorized = co_await serviceAnswers();
    co_return authorized ? DiaryNotificationAuthorizationStatus::authorized
                         : DiaryNotificationAuthorizationStatus::notDetermined;
}

QCoro::Task<bool>
FreedesktopNotificationCenter::requestAuthorization(DiaryNotificationAuthorizationOptions options) {
    // The desktop asks nobody: any notification server that answers will show ours.
    Q_UNUSED(options)
    co_await whenLoaded();
    co_return co_await serviceAnswers();
}

QCoro::Task<void> FreedesktopNotificationCenter::add(DiaryNotificationRequest request) {
    co_await whenLoaded();
    const auto same = std::find_if(m_pending.begin(), m_pending.end(),
                                   [&](const DiaryNotificationRequest &pending) {
                                       return pending.identifier == request.identifier;
                                   });
    if (same != m_pending.end())
        *same = request;
    else
        m_pending.append(request);
    rearm();
    co_await persist();
}

std::optional<QDateTime>
FreedesktopNotificationCenter::firingTime(const DiaryNotificationRequest &request) const {
    const DiaryCalendarTrigger &t = request.trigger;
    return firstMomentAt(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute),
                         m_calendar.timeZone());
}

std::optional<QDateTime> FreedesktopNotificationCenter::nextFiringTime() const {
    std::optional<QDateTime> earliest;
    for (const DiaryNotificationRequest &request : m_pending) {
        const auto firing = firingTime(request);
        if (firing && (!earliest || *firing < *earliest))
            earliest = firing;
    }
    return earliest;
}

void FreedesktopNotificationCenter::rearm() {
    const auto next = nextFiringTime();
    // A request whose time can never be formed is dropped by the next delivery pass.
    const bool unformable =
        std::any_of(m_pending.cbegin(), m_pending.cend(),
                    [this](const auto &request) { return !firingTime(request); });
    if (!next && !unformable) {
        m_timer.stop();
        return;
    }
    qint64 wait = next ? m_clock->now().msecsTo(*next) : 0;
    wait = std::clamp<qint64>(wait, 0, m_checkInterval.count());
    m_timer.start(std::chrono::milliseconds(wait));
}

void FreedesktopNotificationCenter::deliverDueRequests() {
    if (!m_loaded)
        return;
    const QDateTime now = m_clock->now();
    QList<std::pair<QDateTime, DiaryNotificationRequest>> due;
    const qsizetype before = m_pending.size();
    m_pending.removeIf([&](const DiaryNotificationRequest &request) {
        const auto firing = firingTime(request);
        if (!firing) {
            qCWarning(lcDaily) << "A notification with an impossible time was dropped:"
                               << request.identifier;
            return true;
        }
        if (*firing > now)
            return false;
        due.append({*firing, request});
        return true;
    });
    std::stable_sort(due.begin(), due.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    rearm();
    if (m_pending.size() != before)
        persist();
    for (const auto &entry : std::as_const(due))
        deliver(entry.second);
}

QCoro::Task<void> FreedesktopNotificationCenter::deliver(DiaryNotificationRequest request) {
    QPointer<FreedesktopNotificationCenter> self(this);
    if (m_isInFront && m_isInFront()) {
        DiaryNotificationPresentationOptions options;
        if (m_delegate)
            options = co_await m_delegate->willPresentNotification(request);
        if (!self)
            co_return;
        if (!options) {
            Q_EMIT requestDelivered(request.identifier, false);
            co_return;
        }
    }

    QVariantMap hints{{QStringLiteral("desktop-entry"), m_desktopEntry}};
    if (request.playsDefaultSound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QStringLiteral("Velmora") << uint(0) << m_iconName << request.title << request.body
         << QStringList{defaultAction, QString()} << hints << int(-1);
    QDBusPendingCallWatcher watcher(m_bus.asyncCall(call));
    if (!watcher.isFinished())
        co_await qCoro(&watcher, &QDBusPendingCallWatcher::finished);
    if (!self)
        co_return;
    const QDBusPendingReply<uint> reply = watcher;
    if (reply.isError()) {
        qCWarning(lcDaily) << "The notification" << request.identifier
                           << "could not be shown:" << reply.error().message();
        Q_EMIT requestDelivered(request.identifier, false);
        co_return;
    }
    m_shown.insert(reply.value(), request.identifier);
    Q_EMIT requestDelivered(request.identifier, true);
}

void FreedesktopNotificationCenter::onActionInvoked(uint id, const QString &actionKey) {
    Q_UNUSED(actionKey)
    const auto shown = m_shown.constFind(id);
    if (shown == m_shown.cend() || !m_delegate)
        return;
    m_delegate->didReceiveNotificationResponse(*shown);
}

void FreedesktopNotificationCenter::onNotificationClosed(uint id, uint reason) {
    Q_UNUSED(reason)
    m_shown.remove(id);
}

} // namespace velmora
