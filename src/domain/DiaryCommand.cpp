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

} // namespace velmora
