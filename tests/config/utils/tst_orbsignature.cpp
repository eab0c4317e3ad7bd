#include "OrbSignature.h"
#include "OrbSignedSettings.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <string>

using Status = OrbSignedSettings::Status;
Q_DECLARE_METATYPE(Status)

namespace {

// RFC 8032, section 7.1, test 1: the empty message.
const char kRfcPublicHex[] = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
const char kRfcSignatureHex[] =
    "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b";

std::string pemOfRawPublic(const QByteArray& raw)
{
    // SubjectPublicKeyInfo of an Ed25519 key: fixed prefix, then the 32 key bytes.
    const QByteArray der = QByteArray::fromHex("302a300506032b6570032100") + raw;
    return ("-----BEGIN PUBLIC KEY-----\n" + der.toBase64() + "\n-----END PUBLIC KEY-----\n").toStdString();
}

const char kSettings[] = "[launcher]\nVersion=1.0.3\n\n[Basic]\nGameName=valdane\nVersion=1.1.0\n";
const std::int64_t kNow = 1800000000;  // 2027-01-15

struct Keys {
    std::string priv, pub;
};

Keys makeKeys()
{
    Keys k;
    if (!OrbSignature::GenerateKeyPair(k.priv, k.pub))
        qFatal("key generation failed");
    return k;
}

} // namespace

class tst_OrbSignature : public QObject {
    Q_OBJECT
private slots:
    void knownAnswer()
    {
        const std::string pub = pemOfRawPublic(QByteArray::fromHex(kRfcPublicHex));
        const std::string sig = QByteArray::fromHex(kRfcSignatureHex).toBase64().toStdString();
        QCOMPARE(OrbSignature::Verify(pub, "", sig), OrbSignature::Result::Valid);
        QCOMPARE(OrbSignature::Verify(pub, "x", sig), OrbSignature::Result::Invalid);
        QCOMPARE(OrbSignature::Verify(pub, "", sig + "\n"), OrbSignature::Result::Valid);
        QCOMPARE(OrbSignature::Verify(pub, "", sig.substr(0, 40)), OrbSignature::Result::Malformed);
        QCOMPARE(OrbSignature::Verify(pub, "", "not base64 !"), OrbSignature::Result::Malformed);
        QCOMPARE(OrbSignature::Verify("garbage", "", sig), OrbSignature::Result::BadKey);
    }

    void signedKeyPairRoundTrip()
    {
        const Keys k = makeKeys();
        QCOMPARE(OrbSignature::PublicKeyOf(k.priv), k.pub);
        const std::string sig = OrbSignature::Sign(k.priv, kSettings);
        QCOMPARE(OrbSignature::Verify(k.pub, kSettings, sig), OrbSignature::Result::Valid);
        QVERIFY(OrbSignature::Sign("garbage", kSettings).empty());
        // An RSA or other key type is not a publisher key.
        QCOMPARE(OrbSignature::Verify(k.priv, kSettings, sig), OrbSignature::Result::BadKey);
    }

    void verify_data()
    {
        QTest::addColumn<int>("tamper");
        QTest::addColumn<Status>("expected");
        // 0 none, 1 one byte changed, 2 other key, 3 no signature, 4 truncated signature,
        // 5 replayed serial, 6 expired, 7 no serial, 8 same serial again, 9 no expiry
        QTest::newRow("good") << 0 << Status::Valid;
        QTest::newRow("one byte changed") << 1 << Status::WrongSignature;
        QTest::newRow("signed by another key") << 2 << Status::WrongSignature;
        QTest::newRow("no signature") << 3 << Status::MissingSignature;
        QTest::newRow("truncated signature") << 4 << Status::MalformedSignature;
        QTest::newRow("older serial") << 5 << Status::Replayed;
        QTest::newRow("expired") << 6 << Status::Expired;
        QTest::newRow("no serial") << 7 << Status::MissingSerial;
        QTest::newRow("same serial again") << 8 << Status::Valid;
        QTest::newRow("no expiry") << 9 << Status::MissingExpiry;
    }
    void verify()
    {
        QFETCH(int, tamper);
        QFETCH(Status, expected);
        static const Keys publisher = makeKeys();
        static const Keys other = makeKeys();

        std::string settings = kSettings, sig;
        std::int64_t expires = kNow + 86400;
        if (tamper == 6)
            expires = kNow - 1;
        QVERIFY(OrbSignedSettings::Sign(tamper == 2 ? other.priv : publisher.priv, 12, expires, settings, sig));
        std::int64_t minSerial = 10;
        switch (tamper) {
        case 1:
            settings[settings.find("1.1.0")] = '9';
            break;
        case 3:
            sig.clear();
            break;
        case 4:
            sig = sig.substr(0, sig.size() / 2);
            break;
        case 5:
            minSerial = 13;
            break;
        case 7:
        case 9: {
            const std::string key = tamper == 7 ? "Serial=12\n" : "Expires=";
            const auto at = settings.find(key);
            settings.erase(at, settings.find('\n', at) + 1 - at);
            sig = OrbSignature::Sign(publisher.priv, settings);
            break;
        }
        case 8:
            minSerial = 12;
            break;
        default:
            break;
        }
        const auto check = OrbSignedSettings::Verify(publisher.pub, settings, sig, minSerial, kNow);
        QCOMPARE(check.status, expected);
        if (expected == Status::Valid) {
            QCOMPARE(check.serial, std::int64_t(12));
            QCOMPARE(check.expires, expires);
        }
    }

    void valueEditsKeepOtherBytes()
    {
        const std::string crlf = "; publisher file\r\n[Basic]\r\nGameName = valdane\r\n[publisher]\r\nSerial=3\r\n";
        QCOMPARE(OrbSignedSettings::Value(crlf, "Basic", "GameName"), std::string("valdane"));
        QCOMPARE(OrbSignedSettings::Value(crlf, "publisher", "Serial"), std::string("3"));
        QCOMPARE(OrbSignedSettings::Value(crlf, "Basic", "Serial"), std::string());
        QCOMPARE(OrbSignedSettings::WithValue(crlf, "publisher", "Serial", "4"),
                 std::string("; publisher file\r\n[Basic]\r\nGameName = valdane\r\n[publisher]\r\nSerial=4\r\n"));
        QCOMPARE(OrbSignedSettings::WithValue(crlf, "publisher", "Expires", "X"),
                 std::string("; publisher file\r\n[Basic]\r\nGameName = valdane\r\n[publisher]\r\nSerial=3\r\nExpires=X\r\n"));
        QCOMPARE(OrbSignedSettings::WithValue("[a]\nk=1", "publisher", "Serial", "1"),
                 std::string("[a]\nk=1\n\n[publisher]\nSerial=1\n"));
        QCOMPARE(OrbSignedSettings::ParseTime("2027-01-15T08:00:00Z"), std::int64_t(1800000000));
        QCOMPARE(OrbSignedSettings::ParseTime("2027-01-15T08:00:00"), std::int64_t(-1));  // no zone
        QCOMPARE(OrbSignedSettings::ParseTime("soon"), std::int64_t(-1));
        QCOMPARE(OrbSignedSettings::FormatTime(1800000000), std::string("2027-01-15T08:00:00Z"));
    }

    // The publisher's tool end to end: keys, signing with the next serial, verifying.
    void tool()
    {
        QTemporaryDir dir;
        const QString tool = QStringLiteral(ORB_SIGN_TOOL);
        auto run = [&](const QStringList& args) {
            QProcess p;
            p.start(tool, args);
            p.waitForFinished(30000);
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        const QString priv = dir.filePath("publisher.key"), pub = dir.filePath("publisher.pub");
        const QString ini = dir.filePath("game_settings.ini");
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kSettings);
        f.close();
        QCOMPARE(run({"keygen", priv, pub}), 0);
        QCOMPARE(QFileInfo(priv).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
        QCOMPARE(run({"sign", priv, ini}), 0);
        QCOMPARE(run({"sign", priv, ini}), 0);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const std::string signedText = f.readAll().toStdString();
        f.close();
        QCOMPARE(OrbSignedSettings::Value(signedText, "publisher", "Serial"), std::string("2"));
        QCOMPARE(run({"verify", pub, ini}), 0);
        QCOMPARE(run({"verify", pub, ini, "--min-serial", "3"}), 1);
        QVERIFY(QFile::remove(ini + ".sig"));
        QCOMPARE(run({"verify", pub, ini}), 1);
    }
};

QTEST_GUILESS_MAIN(tst_OrbSignature)
#include "tst_orbsignature.moc"
