#include "platform/Sha256.h"
#include "support/TestSupport.h"

using namespace velmora;

class Sha256Test : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void standardVectors_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("digest");
        QTest::newRow("empty")
            << QByteArray() << "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
        QTest::newRow("abc") << QByteArray("abc")
                             << "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
        QTest::newRow("448 bits")
            << QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
            << "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
        QTest::newRow("million a")
            << QByteArray(1000000, 'a')
            << "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
    }

    void standardVectors() {
        QFETCH(QByteArray, input);
        QFETCH(QString, digest);
        QCOMPARE(sha256Hex(input), digest);
        const QStringList hexBytes = sha256DigestHexBytes(sha256Digest(input));
        QCOMPARE(hexBytes.size(), 32);
        QCOMPARE(hexBytes.join(QString()), digest);
        // In pieces, empty ones among them, the digest is that of the pieces joined.
        const qsizetype third = input.size() / 3;
        QCOMPARE(
            sha256HexOfPieces(QList<QByteArray>{input.left(third), QByteArray(),
                                                input.mid(third, third), input.mid(2 * third)}),
            digest);
        QCOMPARE(sha256HexOfPieces({}), sha256Hex(QByteArray()));
    }
};

VELMORA_TEST_MAIN(Sha256Test)
#include "tst_sha256.moc"
