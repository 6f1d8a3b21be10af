#include "app/DiaryInstanceGuard.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace velmora {

DiaryInstanceLock::Outcome DiaryInstanceLock::tryAcquire(const QString &persistenceDirectory) {
    if (!QDir().mkpath(persistenceDirectory)) {
        qCWarning(lcApp) << "no lock: the diary folder could not be made" << persistenceDirectory;
        return Outcome::unavailable;
    }
    m_lock = std::make_unique<QLockFile>(persistenceDirectory + QLatin1Char('/') + fileName);
    // A lock is stale only when its process is gone, however long the diary has been open.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return Outcome::acquired;
    if (m_lock->error() == QLockFile::LockFailedError)
        return Outcome::heldByAnotherProcess;
    qCWarning(lcApp) << "no lock in" << persistenceDirectory << "error" << m_lock->error();
    return Outcome::unavailable;
}

QString DiaryInstanceLock::alreadyOpenMessage(const QString &persistenceDirectory) {
    return QCoreApplication::translate(
               "DiaryInstanceLock",
               "Velmora is already open on the diary in %1. Close it there before opening it "
               "again.")
        .arg(QDir::toNativeSeparators(persistenceDirectory));
}

DiaryInstanceService::DiaryInstanceService(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus)) {}

bool DiaryInstanceService::registerOnBus() {
    if (!m_bus.isConnected())
        return true;
    if (!m_bus.registerService(serviceName))
        return false;
    if (!m_bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots))
        qCWarning(lcApp) << "the window cannot be shown from a second launch:"
                         << m_bus.lastError().message();
    return true;
}

bool DiaryInstanceService::askRunningInstanceToShow(QDBusConnection bus) {
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName,
                                                       QStringLiteral("ShowDiary"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qCWarning(lcApp) << "the running Velmora did not answer:" << reply.errorMessage();
        return false;
    }
    return true;
}

void DiaryInstanceService::ShowDiary() {
    Q_EMIT showRequested();
}

} // namespace velmora
