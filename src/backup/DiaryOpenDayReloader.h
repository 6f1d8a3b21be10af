#pragma once

#include "domain/DiarySessionStore.h"

#include <QCoroTask>
#include <QPointer>

namespace velmora {

// Keeps the open page in step when the whole diary is replaced underneath it (a restore or an
// import): pending writing is stored before the current diary is taken, the page is held (it
// takes no writing, and quitting or closing waits) until the new diary is in place, and the open
// day is then read again, so an old draft never saves over it unseen.
class DiaryOpenDayReloader {
public:
    explicit DiaryOpenDayReloader(DiarySessionStore *session = nullptr);

    // Stores the writing that is still pending and holds the page; a failure to store is logged
    // and the replacement goes on (what was not stored is kept beside the new diary).
    QCoro::Task<void> prepare(DiaryReplacementKind kind);
    // Ends the hold, reading the open day again when the store was replaced meanwhile.
    QCoro::Task<void> reload();

private:
    QPointer<DiarySessionStore> m_session;
};

} // namespace velmora
