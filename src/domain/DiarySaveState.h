#pragma once

#include "domain/DayKey.h"

#include <QMetaType>
#include <QString>

namespace velmora {

// What the autosave is doing. `pending`, `saving`, `saved` and `failed` carry the number of the
// edit they speak of; `saved` also the entry's new revision and `failed` the message to show.
struct DiarySaveState {
    enum class Kind { pending, saving, saved, failed, idle, sealed };

    Kind kind = Kind::idle;
    qint64 editSequence = 0;
    DiaryRevision revision;
    QString message;

    static DiarySaveState pending(qint64 editSequence) {
        return {Kind::pending, editSequence, {}, {}};
    }
    static DiarySaveState saving(qint64 editSequence) {
        return {Kind::saving, editSequence, {}, {}};
    }
    static DiarySaveState saved(DiaryRevision revision, qint64 editSequence) {
        return {Kind::saved, editSequence, revision, {}};
    }
    static DiarySaveState failed(QString message, qint64 editSequence) {
        return {Kind::failed, editSequence, {}, std::move(message)};
    }
    static DiarySaveState idle() { return {}; }
    static DiarySaveState sealed() { return {Kind::sealed, 0, {}, {}}; }

    friend bool operator==(const DiarySaveState &, const DiarySaveState &) = default;
};

} // namespace velmora

Q_DECLARE_METATYPE(velmora::DiarySaveState)
