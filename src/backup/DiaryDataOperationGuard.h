#pragma once

#include "platform/OwnerClaim.h"

#include <QObject>
#include <QString>

#include <optional>

namespace velmora {

enum class DiaryDataOperation { backup, restore, import, exportDiary };

// Lets one backup, restore, import or export run at a time, wherever it is started. Two of them
// must never overlap: an import that replaces the diary between a restore's replace and its
// read-back makes the restore roll back, wiping the import that already reported success, and an
// export taken meanwhile would keep a diary that the roll-back then undoes.
class DiaryDataOperationGuard : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)

public:
    // Held for as long as the operation runs; releasing it (or destroying it) frees the guard.
    using Ticket = OwnerClaim<DiaryDataOperationGuard>;

    explicit DiaryDataOperationGuard(QObject *parent = nullptr);

    // None while another operation holds the guard; the caller then refuses with refusalText().
    std::optional<Ticket> tryBegin(DiaryDataOperation operation);

    bool isBusy() const { return m_running.has_value(); }

    static QString refusalText();

Q_SIGNALS:
    void isBusyChanged(bool isBusy);

private:
    friend Ticket;
    void letGo();

    std::optional<DiaryDataOperation> m_running;
};

} // namespace velmora
