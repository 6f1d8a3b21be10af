#pragma once

#include "platform/OwnerClaim.h"
#include "platform/WaitQueue.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <chrono>
#include <optional>
#include <stop_token>

namespace velmora {

enum class DiaryDataOperation { backup, restore, import, exportDiary };

// Lets one backup, restore, import or export run at a time, wherever it is started. Two of them
// must never overlap: an import that replaces the diary between a restore's replace and its
// read-back makes the restore roll back, wiping the import that already reported success, and an
// export taken meanwhile would keep a diary that the roll-back then undoes.
//
// It also knows the part of an operation that runs on a thread of its own (an export's file, an
// import's reading, normalising and safety backup), so that a quit can wait for it: the program
// must not end under that thread.
class DiaryDataOperationGuard : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)

public:
    // Held for as long as the operation runs; releasing it (or destroying it) frees the guard.
    using Ticket = OwnerClaim<DiaryDataOperationGuard>;

    explicit DiaryDataOperationGuard(QObject *parent = nullptr);

    // None while another operation holds the guard; the caller then refuses with refusalText().
    // None too once a quit has begun, which the caller lets pass without a word.
    std::optional<Ticket> tryBegin(DiaryDataOperation operation);

    bool isBusy() const { return m_running.has_value(); }

    // From the moment a quit begins until it is called off (its drain failed): no operation
    // begins, and an answer to an operation's question given meanwhile counts as Cancel.
    void setQuitting(bool quitting) { m_quitting = quitting; }
    bool isQuitting() const { return m_quitting; }

    // Held from the moment work is handed to a thread of its own until that thread is done with
    // it and gone.
    struct ThreadWork {};
    using Work = OwnerClaim<DiaryDataOperationGuard, ThreadWork>;
    Work beginWork();
    // Asked of the work held once a quit stops waiting for it to finish; read on its thread.
    std::stop_token workStop() const { return m_workStop.get_token(); }
    // Waits until no work is held: for at most `finishWithin`, then asks what is left to stop and
    // waits until it has.
    QCoro::Task<void> settleWork(std::chrono::nanoseconds finishWithin);

    static QString refusalText();

Q_SIGNALS:
    void isBusyChanged(bool isBusy);

private:
    friend Ticket;
    friend Work;
    void letGo();
    void letGo(ThreadWork);

    std::optional<DiaryDataOperation> m_running;
    bool m_quitting = false;
    int m_work = 0;
    std::stop_source m_workStop;
    WaitQueue m_workEnded;
};

} // namespace velmora
