#pragma once

#include <QCoroTask>
#include <QPointer>

namespace velmora {

class DiarySessionStore;

// Keeps the open page in step when the whole diary is replaced underneath it (a restore or an
// import): pending writing is stored before the current diary is taken, and the open day is
// read again once the new diary is in place, so an old draft never saves over it unseen.
class DiaryOpenDayReloader {
public:
    explicit DiaryOpenDayReloader(DiarySessionStore *session = nullptr);

    // Stores the writing that is still pending; a failure is logged and the replacement goes on.
    QCoro::Task<void> prepare();
    // Reads the open day again from the store; a failure is logged.
    QCoro::Task<void> reload();

private:
    QPointer<DiarySessionStore> m_session;
};

} // namespace velmora
