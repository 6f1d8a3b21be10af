#pragma once

#include "platform/RawValueEnum.h"

#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QUuid>

#include <concepts>
#include <optional>

namespace velmora {

// The menu commands and keyboard shortcuts. Their raw values, and their ids, are their names.
enum class DiaryCommand { newEntry, save, seal, find, toggleFullScreen, goToToday, showShortcuts };
VELMORA_RAW_VALUES(DiaryCommand, "newEntry", "save", "seal", "find", "toggleFullScreen",
                   "goToToday", "showShortcuts");

inline size_t qHash(DiaryCommand command, size_t seed = 0) {
    return ::qHash(rawValue(command), seed);
}

// The receiver of every command sent through the router.
class DiaryCommandHandler {
public:
    virtual ~DiaryCommandHandler() = default;
    virtual void handle(DiaryCommand command) = 0;
};

// Sends each command as a new event to its observers, then to one weakly held handler.
class DiaryCommandRouter : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<velmora::DiaryCommandRouter::Event> lastEvent READ lastEvent NOTIFY
                   lastEventChanged)

public:
    // One send: a new id every time, so that sending the same command twice is two events.
    struct Event {
        QUuid id;
        DiaryCommand command = DiaryCommand::newEntry;

        friend bool operator==(const Event &, const Event &) = default;
    };

    explicit DiaryCommandRouter(QObject *parent = nullptr);

    const std::optional<Event> &lastEvent() const { return m_lastEvent; }

    // The handler is held weakly: the router never keeps it alive.
    template <typename Handler>
    requires std::derived_from<Handler, QObject> && std::derived_from<Handler, DiaryCommandHandler>
    void setHandler(Handler *handler) {
        m_handlerObject = handler;
        m_handler = handler;
    }
    DiaryCommandHandler *handler() const { return m_handlerObject ? m_handler : nullptr; }

    void send(DiaryCommand command);

    // True the first time a consumer (the root view, the page screen, …) claims an event: views
    // receive the current event when they subscribe, and a view that appears anew must neither
    // miss a command sent just before it appeared nor repeat one a former instance handled.
    bool claim(const QString &consumer, const Event &event);

Q_SIGNALS:
    void objectWillChange();
    void lastEventChanged(const velmora::DiaryCommandRouter::Event &event);

private:
    std::optional<Event> m_lastEvent;
    QHash<QString, QUuid> m_claimedByConsumer;
    QPointer<QObject> m_handlerObject;
    DiaryCommandHandler *m_handler = nullptr;
};

} // namespace velmora

Q_DECLARE_METATYPE(velmora::DiaryCommand)
Q_DECLARE_METATYPE(velmora::DiaryCommandRouter::Event)
