#pragma once

#include "store/Sqlite.h"
#include "store/StoreModel.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace velmora {

// A search that finds a rare word would otherwise read every entry's folded text from disk. Each
// entry keeps, beside it, a small signature of the four-byte runs its folded text holds; a
// search reads the text only of entries whose signature holds every run of the query.
//
// The signatures live in tables of their own, outside the model, which SQL triggers keep honest:
// any insert or update of an entry drops its signature and queues the entry, so an entry whose
// signature is missing or queued is read in full, and a search never misses an entry however
// it was written. The queue is worked off by connections of this program before each write
// transaction commits.

// The signature of a folded text: one bit per four-byte run, in a power-of-two number of bits
// that grows with the text.
QByteArray searchSignature(QByteArrayView foldedText);

// False only when `foldedPart` cannot occur in a text with this signature. A part shorter than
// four bytes, or a signature that is no signature, may occur anywhere.
bool signatureMayContain(QByteArrayView signature, QByteArrayView foldedPart);

// Registers velmora_signature(text) and velmora_may_contain(signature, part) on a connection.
void registerSearchSignatureFunctions(SqliteDatabase &database);

// The tables and triggers, laid down in a transaction the caller holds; every entry already
// present is queued.
void writeSearchSignatureSchema(SqliteDatabase &database);

// Whether stores of the model keep signatures: it has entries with a folded text.
bool modelHasSearchSignatures(const StoreModel &model);

// At open: lays the tables and triggers down in a store written before them, and signs every
// entry still queued (all of them in such a store, or those a connection that cannot sign
// wrote), in one transaction. Nothing is written when nothing is queued.
void prepareSearchSignatures(SqliteDatabase &database);

// Signs the queued entries, inside the caller's write transaction, all but `leaving` when it is
// given. A failure here leaves the entries queued and the caller's transaction as it was.
void signQueuedEntries(SqliteDatabase &database,
                       std::optional<qint64> leaving = std::nullopt) noexcept;

// The search: entries whose folded text holds ?1, newest day first, at most ?2.
QString searchEntriesSql(const char *columns);

} // namespace velmora
