#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

using namespace velmora;

namespace {

// Every file under the staging folder, as the path it would have on the installed system.
QStringList installedFiles(const QString &stage) {
    QStringList files;
    QDirIterator it(stage, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next().mid(stage.size()));
    files.sort();
    return files;
}

struct Run {
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(120000))
        return {-1, program + QStringLiteral(" could not be run")};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll())};
}

} // namespace

// Installs the build into a staging folder, as packaging does with DESTDIR, and checks that each
// file lands where the desktop and PAM look for it.
class InstallTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void layout_data() {
        QTest::addColumn<QString>("prefix");
        QTest::newRow("local") << QStringLiteral("/usr/local");
        QTest::newRow("distribution") << QStringLiteral("/usr");
    }

    void layout() {
        QFETCH(QString, prefix);
        QTemporaryDir stage;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DESTDIR"), stage.path());
        const Run install = run(QStringLiteral(CMAKE_COMMAND),
                                {QStringLiteral("--install"), QStringLiteral(VELMORA_BUILD_DIR),
                                 QStringLiteral("--prefix"), prefix},
                                environment);
        QVERIFY2(install.exitCode == 0, qPrintable(install.output));

        const QString entry =
            prefix + QStringLiteral("/share/applications/org.velmora.Velmora.desktop");
        QStringList expected{
            prefix + QStringLiteral("/bin/velmora"), entry,
            prefix + QStringLiteral("/share/icons/hicolor/scalable/apps/org.velmora.Velmora.svg"),
            // PAM reads /etc/pam.d only, whatever the prefix.
            QStringLiteral("/etc/pam.d/velmora")};
        expected.sort();
        QCOMPARE(installedFiles(stage.path()), expected);
        QVERIFY(QFileInfo(stage.path() + prefix + QStringLiteral("/bin/velmora")).isExecutable());

        // The validator of the Debian release we build for, on the entry as installed: errors and
        // warnings fail; hints do not.
        const Run validation = run(QStringLiteral("desktop-file-validate"), {stage.path() + entry});
        QVERIFY2(validation.exitCode == 0 && !validation.output.contains(QLatin1String("error:")) &&
                     !validation.output.contains(QLatin1String("warning:")),
                 qPrintable(validation.output));

        // The entry starts the installed program and names the installed icon.
        QSettings desktop(stage.path() + entry, QSettings::IniFormat);
        desktop.beginGroup(QStringLiteral("Desktop Entry"));
        QCOMPARE(desktop.value(QStringLiteral("Exec")).toString(), QStringLiteral("velmora"));
        QCOMPARE(desktop.value(QStringLiteral("Icon")).toString(),
                 QStringLiteral("org.velmora.Velmora"));
    }
};

VELMORA_TEST_MAIN(InstallTests)
#include "tst_install.moc"
