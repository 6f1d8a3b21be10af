#include "store/DiaryPersistenceStack.h"

#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"
#include "store/StoreFile.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace velmora {

DiaryPersistenceStack::DiaryPersistenceStack(const QString &storeURL, StoreModel model)
    : m_storeURL(standardizedPath(storeURL))
    , m_model(std::move(model))
    , m_signsEntries(modelHasSearchSignatures(m_model))
    , m_context(QStringLiteral("DiaryStore")) {
    createDirectories(QFileInfo(m_storeURL).absolutePath());
    try {
        m_database = m_context.runAndWait([this] { return openStore(m_storeURL, m_model); });
    } catch (const DiaryError &error) {
        throw PersistenceError::storeLoadFailed(error.message());
    }
}

DiaryPersistenceStack::~DiaryPersistenceStack() {
    close();
}

void DiaryPersistenceStack::close() {
    m_context.stop();
    m_database.reset();
}

PersistenceError storeLoadFailure(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const PersistenceError &persistenceError) {
        if (persistenceError.errorCase() == PersistenceError::Case::storeLoadFailed)
            return persistenceError;
        return PersistenceError::storeLoadFailed(persistenceError.message());
    } catch (const DiaryError &diaryError) {
        return PersistenceError::storeLoadFailed(diaryError.message());
    } catch (const std::exception &other) {
        return PersistenceError::storeLoadFailed(QString::fromUtf8(other.what()));
    } catch (...) {
        return PersistenceError::storeLoadFailed(
            QCoreApplication::translate("DiaryPersistenceStack", "Unknown error."));
    }
}

} // namespace velmora
