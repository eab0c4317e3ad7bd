// String encryption of OrbUtils: round trips, output sizes, argument checks,
// failure texts, and agreement with the openssl command line.

#include <QtTest>

#include "OrbUtils.h"

#include <stdexcept>
#include <string>

namespace {

const std::string kKey = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f").toStdString();
const std::string kIv = QByteArray::fromHex("0f0e0d0c0b0a09080706050403020100").toStdString();

std::string bytes(const QByteArray& b)
{
    return b.toStdString();
}

// Text of the exception of exactly type E that `f` throws, or a marker.
template <typename E, typename F>
QString thrownText(F f)
{
    try {
        f();
    } catch (const E& e) {
        return QString::fromUtf8(e.what());
    } catch (const std::exception& e) {
        return QStringLiteral("<other exception: %1>").arg(QString::fromUtf8(e.what()));
    }
    return QStringLiteral("<nothing thrown>");
}

QString hex(const std::string& s)
{
    return QString::fromLatin1(QByteArray::fromStdString(s).toHex());
}

// Runs `openssl enc -aes-128-cbc` with the given extra arguments on `input`.
QByteArray runOpenssl(const QStringList& extra, const QByteArray& input, const std::string& key,
                      const std::string& iv)
{
    QProcess p;
    QStringList args{QStringLiteral("enc"), QStringLiteral("-aes-128-cbc"), QStringLiteral("-K"),
                     hex(key), QStringLiteral("-iv"), hex(iv), QStringLiteral("-nosalt")};
    p.start(QStringLiteral("openssl"), args + extra);
    if (!p.waitForStarted())
        return QByteArray("<openssl did not start>");
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QByteArray("<openssl failed: ") + p.readAllStandardError() + '>';
    return p.readAllStandardOutput();
}

} // namespace

class tst_OrbAes : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void knownAnswer_data();
    void knownAnswer();
    void agreesWithOpensslCommandLine_data();
    void agreesWithOpensslCommandLine();
    void badLengths_data();
    void badLengths();
    void decryptFailures_data();
    void decryptFailures();
};

void tst_OrbAes::roundTrip_data()
{
    QTest::addColumn<QByteArray>("plain");

    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < all.size(); ++i)
        all[i] = static_cast<char>(i);

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("x");
    QTest::newRow("zero bytes only") << QByteArray(5, '\0');
    QTest::newRow("15 bytes") << QByteArray("abcdefghijklmno");
    QTest::newRow("16 bytes") << QByteArray("abcdefghijklmnop");
    QTest::newRow("17 bytes") << QByteArray("abcdefghijklmnopq");
    QTest::newRow("zero inside, 32 bytes") << QByteArray("0123456789\0abcdef\0\0ghijklmnopqrs", 32);
    QTest::newRow("every byte value") << all;
    QTest::newRow("utf-8 text") << QStringLiteral("游戏启动器 OrbLive").toUtf8();
    QTest::newRow("64 KiB") << QByteArray(65536, 'z');
}

void tst_OrbAes::roundTrip()
{
    QFETCH(QByteArray, plain);

    const std::string cipher = OrbUtils::AESEncrypt(bytes(plain), kKey, kIv);

    // Standard Base64 of the PKCS#7-padded output: always a whole extra block
    // when the input is block-aligned.
    const QByteArray raw = QByteArray::fromBase64(QByteArray::fromStdString(cipher),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    QVERIFY(!raw.isEmpty());
    QCOMPARE(raw.size(), (plain.size() / 16 + 1) * 16);
    QCOMPARE(QByteArray::fromStdString(cipher), raw.toBase64());
    if (plain.isEmpty()) {
        QCOMPARE(cipher.size(), std::size_t(24));
        QVERIFY(QByteArray::fromStdString(cipher).endsWith("=="));
    }

    const std::string back = OrbUtils::AESDecrypt(cipher, kKey, kIv);
    QCOMPARE(QByteArray::fromStdString(back), plain);
    QCOMPARE(back.size(), std::size_t(plain.size()));
}

void tst_OrbAes::knownAnswer_data()
{
    // Recorded with: printf '<plain>' | openssl enc -aes-128-cbc -nosalt -base64 -A
    //   -K 000102030405060708090a0b0c0d0e0f -iv 0f0e0d0c0b0a09080706050403020100
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");
    QTest::newRow("empty") << QByteArray() << QByteArray("793EJab6DF8l5EQJLrD1Aw==");
    QTest::newRow("21 bytes") << QByteArray("OrbLive known answer!")
                              << QByteArray("lctQ8ehxhE3hJ/vHocRwORec2D3k/91Co9ccyH9972c=");
}

void tst_OrbAes::knownAnswer()
{
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);
    QCOMPARE(QByteArray::fromStdString(OrbUtils::AESEncrypt(bytes(plain), kKey, kIv)), cipher);
    QCOMPARE(QByteArray::fromStdString(OrbUtils::AESDecrypt(bytes(cipher), kKey, kIv)), plain);
}

void tst_OrbAes::agreesWithOpensslCommandLine_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("iv");

    QTest::newRow("recorded vector") << QByteArray("OrbLive known answer!")
                                     << QByteArray::fromStdString(kKey) << QByteArray::fromStdString(kIv);
    QTest::newRow("empty") << QByteArray() << QByteArray::fromStdString(kKey)
                           << QByteArray::fromStdString(kIv);

    // Fresh random material on every run.
    auto random = [](int n) {
        QByteArray b(n, Qt::Uninitialized);
        for (char& c : b)
            c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        return b;
    };
    for (int len : {1, 16, 33, 1000})
        QTest::newRow(qPrintable(QStringLiteral("random %1 bytes").arg(len)))
            << random(len) << random(16) << random(16);
}

void tst_OrbAes::agreesWithOpensslCommandLine()
{
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, iv);
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        QSKIP("the openssl command line is not installed (scripts/setup.sh installs it)");

    const QByteArray theirs = runOpenssl({QStringLiteral("-base64"), QStringLiteral("-A")}, plain,
                                         bytes(key), bytes(iv))
                                  .trimmed();
    const std::string ours = OrbUtils::AESEncrypt(bytes(plain), bytes(key), bytes(iv));
    QCOMPARE(QByteArray::fromStdString(ours), theirs);

    // And the other way: the command line decrypts what we produce.
    const QByteArray raw = QByteArray::fromBase64(QByteArray::fromStdString(ours));
    QCOMPARE(runOpenssl({QStringLiteral("-d")}, raw, bytes(key), bytes(iv)), plain);
}

void tst_OrbAes::badLengths_data()
{
    QTest::addColumn<bool>("decrypt");
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<int>("ivLength");
    QTest::addColumn<QString>("message");

    const QString encKey = QStringLiteral("Invalid key length");
    const QString encIv = QStringLiteral("Invalid IV length");
    const QString decKey = QStringLiteral("Invalid key length, expected 16 bytes.");
    const QString decIv = QStringLiteral("Invalid IV length, expected 16 bytes.");

    for (bool decrypt : {false, true}) {
        const char* fn = decrypt ? "decrypt" : "encrypt";
        const QString keyText = decrypt ? decKey : encKey;
        const QString ivText = decrypt ? decIv : encIv;
        QTest::newRow(qPrintable(QStringLiteral("%1: key 15").arg(fn))) << decrypt << 15 << 16 << keyText;
        QTest::newRow(qPrintable(QStringLiteral("%1: key 32").arg(fn))) << decrypt << 32 << 16 << keyText;
        QTest::newRow(qPrintable(QStringLiteral("%1: key 0").arg(fn))) << decrypt << 0 << 16 << keyText;
        QTest::newRow(qPrintable(QStringLiteral("%1: key before vector").arg(fn)))
            << decrypt << 15 << 3 << keyText;
        QTest::newRow(qPrintable(QStringLiteral("%1: vector 0").arg(fn))) << decrypt << 16 << 0 << ivText;
        QTest::newRow(qPrintable(QStringLiteral("%1: vector 15").arg(fn))) << decrypt << 16 << 15 << ivText;
        QTest::newRow(qPrintable(QStringLiteral("%1: vector 17").arg(fn))) << decrypt << 16 << 17 << ivText;
    }
}

void tst_OrbAes::badLengths()
{
    QFETCH(bool, decrypt);
    QFETCH(int, keyLength);
    QFETCH(int, ivLength);
    QFETCH(QString, message);

    const std::string key(static_cast<std::size_t>(keyLength), 'k');
    const std::string iv(static_cast<std::size_t>(ivLength), 'v');
    // An empty text would fail decoding: the lengths must be checked before it.
    const std::string cipher;

    const QString text = thrownText<std::invalid_argument>([&] {
        if (decrypt)
            OrbUtils::AESDecrypt(cipher, key, iv);
        else
            OrbUtils::AESEncrypt("some plaintext", key, iv);
    });
    QCOMPARE(text, message);
}

void tst_OrbAes::decryptFailures_data()
{
    QTest::addColumn<QByteArray>("cipher");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("message");

    const QByteArray key = QByteArray::fromStdString(kKey);
    const QByteArray good = QByteArray::fromStdString(
        OrbUtils::AESEncrypt("a message that spans more than one block", kKey, kIv));
    const QByteArray raw = QByteArray::fromBase64(good);

    QTest::newRow("empty text") << QByteArray() << key << QStringLiteral("Base64 decoding failed");
    QTest::newRow("no Base64 characters") << QByteArray("!!! ### ***") << key
                                          << QStringLiteral("Base64 decoding failed");
    QTest::newRow("padding only") << QByteArray("====") << key << QStringLiteral("Base64 decoding failed");

    // Whatever this key turns the last block into, it is not valid padding.
    QTest::newRow("wrong key") << good << QByteArray("another 16B key!")
                               << QStringLiteral("EVP_DecryptFinal_ex failed");
    QTest::newRow("not a whole block") << raw.left(20).toBase64() << key
                                       << QStringLiteral("EVP_DecryptFinal_ex failed");
    QTest::newRow("last block only half") << raw.left(8).toBase64() << key
                                          << QStringLiteral("EVP_DecryptFinal_ex failed");
}

void tst_OrbAes::decryptFailures()
{
    QFETCH(QByteArray, cipher);
    QFETCH(QByteArray, key);
    QFETCH(QString, message);
    const QString text = thrownText<std::runtime_error>(
        [&] { OrbUtils::AESDecrypt(bytes(cipher), bytes(key), kIv); });
    QCOMPARE(text, message);
}

QTEST_GUILESS_MAIN(tst_OrbAes)
#include "tst_orbaes.moc"
