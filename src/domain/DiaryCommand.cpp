#include "domain/DiaryCommand.h"

namespace velmora {

DiaryCommandRouter::DiaryCommandRouter(QObject *parent)
    : QObject(parent) {}

void DiaryCommandRouter::send(DiaryCommand command) {
    const Event event{QUuid::createUuid(), command};
    Q_EMIT objectWillChange();
    m_lastEvent = event;
    Q_EMIT lastEventChanged(event);
    if (auto *receiver = handler())
        receiver->handle(command);
}

bool DiaryCommandRouter::claim(const QString &consumer, const Event &event) {
    // Events arrive in order with fresh ids, so remembering the last one per consumer suffices.
    auto claimed = m_claimedByConsumer.find(consumer);
    if (claimed != m_claimedByConsumer.end() && *claimed == event.id)
        return false;
    m_claimedByConsumer.insert(consumer, event.id);
    return true;
}

} // namespace velmora
