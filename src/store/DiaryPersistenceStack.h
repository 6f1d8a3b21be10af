#pragma once

#include "domain/PersistenceError.h"
#include "platform/SerialExecutor.h"
#include "store/SearchSignatures.h"
#include "store/Sqlite.h"
#include "store/StoreModel.h"

#include <QString>

#include <exception>
#include <memory>

namespace velmora {

// The store file, opened once, with the one connection through which all store work runs on
// the one worker thread (`context`).
class DiaryPersistenceStack {
public:
    // Creates the store's folder (a file-system failure passes on unchanged), then opens the
    // store, making an empty one when there is none. A store that cannot be opened, or that
    // another model wrote, throws PersistenceError::storeLoadFailed.
    DiaryPersistenceStack(const QString &storeURL, StoreModel model);
    // Finishes the work already handed to the context, then closes the store.
    ~DiaryPersistenceStack();
    // The same, for an owner that lets go of the store while work that will never end (a task
    // whose loop has stopped) still holds this stack: work handed over afterwards fails.
    void close();
    DiaryPersistenceStack(const DiaryPersistenceStack &) = delete;
    DiaryPersistenceStack &operator=(const DiaryPersistenceStack &) = delete;

    const QString &storeURL() const { return m_storeURL; }
    const StoreModel &model() const { return m_model; }
    SerialExecutor &context() { return m_context; }
    // Whether the store keeps search signatures, which write transactions bring up to date.
    bool signsEntries() const { return m_signsEntries; }

    // Who signs the queued entries in a write transaction.
    enum class Signing {
        afterBody, // every queued entry, once the body is done
        byBody,    // the body, choosing what it leaves queued (when signsEntries())
    };

    // Runs body(database) on the context inside one transaction, rolled back when it throws;
    // resumes the awaiting coroutine on its own thread. A write signs the entries it changed for
    // search before it commits.
    template <typename F>
    SerialExecutor::Operation<std::invoke_result_t<F &, SqliteDatabase &>>
    perform(SqliteTransactionKind kind, F body, Signing signing = Signing::afterBody) {
        const bool signs = kind == SqliteTransactionKind::immediate && m_signsEntries &&
                           signing == Signing::afterBody;
        return m_context.run(
            [database = m_database.get(), signs, kind, body = std::move(body)]() mutable {
                return database->transaction(kind, [&] {
                    if constexpr (std::is_void_v<std::invoke_result_t<F &, SqliteDatabase &>>) {
                        body(*database);
                        if (signs)
                            signQueuedEntries(*database);
                    } else {
                        auto result = body(*database);
                        if (signs)
                            signQueuedEntries(*database);
                        return result;
                    }
                });
            });
    }

private:
    QString m_storeURL;
    StoreModel m_model;
    std::unique_ptr<SqliteDatabase> m_database;
    bool m_signsEntries = false;
    SerialExecutor m_context;
};

// The error a failed launch keeps: a storeLoadFailed passes through as it is, anything else
// becomes a storeLoadFailed carrying its description.
PersistenceError storeLoadFailure(std::exception_ptr error);

} // namespace velmora
