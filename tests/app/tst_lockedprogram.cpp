#include "support/ProgramRun.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

const QString program = QStringLiteral(VELMORA_EXECUTABLE);

QString accountName() {
    const passwd *entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

bool write(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The program's PAM service as pam_wrapper's pam_matrix plays it: the account running the test
// with a password of its own, so no account of the machine is asked about.
QProcessEnvironment pamWrapper(const QString &home, const QString &account) {
    const QString modules = QStringLiteral("/usr/lib/x86_64-linux-gnu/pam_wrapper");
    const QString passdb = home + QStringLiteral("/pam/passdb");
    write(passdb, (account + QStringLiteral(":correct horse:velmora\n")).toLocal8Bit());
    write(home + QStringLiteral("/pam/services/velmora"),
          QStringLiteral("auth required %1/pam_matrix.so passdb=%2\n"
                         "account required %1/pam_matrix.so passdb=%2\n")
              .arg(modules, passdb)
              .toLocal8Bit());
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PAM_WRAPPER"), QStringLiteral("1"));
    environment.insert(QStringLiteral("PAM_WRAPPER_SERVICE_DIR"),
                       home + QStringLiteral("/pam/services"));
    environment.insert(QStringLiteral("UID_WRAPPER_DISABLE_DEEPBIND"), QStringLiteral("1"));
    environment.insert(QStringLiteral("LD_PRELOAD"),
                       QStringLiteral("/usr/lib/x86_64-linux-gnu/libpam_wrapper.so"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       QStringLiteral("verify_asan_link_order=0:detect_leaks=0"));
    return environment;
}

} // namespace

// The real program with the lock on, asking through real PAM transactions.
class LockedProgramTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A quit while the password is asked for answers the question as cancelled: the PAM worker
    // used to wait for an answer nobody could give any more, and the program never ended.
    void quitWhileTheUnlockAsks() {
        const QString account = accountName();
        if (account.isEmpty())
            QSKIP("the account running the tests has no name");
        QTemporaryDir home;
        QVERIFY(write(home.filePath(QStringLiteral("config/Velmora/Suites/LockedTests.ini")),
                      "[General]\nrequireAuthentication=true\n"));
        ProgramRun run(program, home.path(),
                       {QStringLiteral("--velmora-test-mode"),
                        QStringLiteral("--velmora-store-url"),
                        home.filePath(QStringLiteral("diary/store.sqlite")),
                        QStringLiteral("--velmora-defaults-suite"), QStringLiteral("LockedTests")},
                       {}, pamWrapper(home.path(), account));
        QVERIFY2(run.waitForLog(QStringLiteral("the unlock asks a question")),
                 qPrintable(run.errors()));
        QVERIFY2(run.terminate(), qPrintable(run.errors()));
    }
};

VELMORA_TEST_MAIN(LockedProgramTests)
#include "tst_lockedprogram.moc"
