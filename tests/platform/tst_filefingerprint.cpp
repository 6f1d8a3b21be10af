#include "platform/DecimalText.h"
#include "platform/FileFingerprint.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

using namespace velmora;

class FileFingerprintTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fingerprintsSizeAndWholeMilliseconds_data() {
        QTest::addColumn<qint64>("seconds"); // since 1970
        QTest::addColumn<qint64>("nanoseconds");
        QTest::addColumn<QString>("fingerprint");
        const qint64 reference = 978307200;
        QTest::newRow("the reference date") << reference << qint64(0) << "5-0";
        QTest::newRow("rounded down")
            << reference + 730000000 << qint64(123499999) << "5-730000000123";
        QTest::newRow("half rounds up")
            << reference + 730000000 << qint64(123500000) << "5-730000000124";
        QTest::newRow("before 2001, half rounds away from zero")
            << reference - 1 << qint64(999500000) << "5--1";
        QTest::newRow("before 2001, rounded toward zero")
            << reference - 1 << qint64(999600000) << "5-0";
        QTest::newRow("1970") << qint64(0) << qint64(0) << "5--978307200000";
    }
    void fingerprintsSizeAndWholeMilliseconds() {
        QFETCH(qint64, seconds);
        QFETCH(qint64, nanoseconds);
        QFETCH(QString, fingerprint);
        QTemporaryDir dir;
        const QString path = dir.filePath("page.drawing");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("12345");
        file.close();
        const timespec times[2] = {{seconds, long(nanoseconds)}, {seconds, long(nanoseconds)}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        QCOMPARE(fileFingerprint(path), std::optional<QString>(fingerprint));
    }

    void hasNoFingerprintWithoutAFile() {
        QTemporaryDir dir;
        QCOMPARE(fileFingerprint(dir.filePath("missing.drawing")), std::nullopt);
    }

    void writesTheShortestDecimalWithAFraction_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 40.0 << "40.0";
        QTest::newRow("a quarter") << 730000000.25 << "730000000.25";
        QTest::newRow("milliseconds") << 730000000.123 << "730000000.123";
        QTest::newRow("negative") << -63114076800.0 << "-63114076800.0";
        QTest::newRow("a tenth") << 0.1 << "0.1";
        QTest::newRow("large, no exponent") << 1e17 << "100000000000000000.0";
    }
    void writesTheShortestDecimalWithAFraction() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(shortestDecimalText(value), text);
    }
};

VELMORA_TEST_MAIN(FileFingerprintTest)
#include "tst_filefingerprint.moc"
