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

    // The signed file names its game and channel; a launcher takes only its own.
    void identity_data()
    {
        QTest::addColumn<QString>("publisher"); // the [publisher] lines the file carries
        QTest::addColumn<Status>("expected");
        QTest::addColumn<QString>("game");      // what Check reports
        QTest::addColumn<QString>("channel");
        QTest::newRow("matching") << "Game=valdane\nChannel=steam\n" << Status::Valid << "valdane" << "steam";
        QTest::newRow("same key, other game") << "Game=otherworld\nChannel=steam\n" << Status::WrongGame
                                              << "otherworld" << "steam";
        QTest::newRow("other channel") << "Game=valdane\nChannel=beta\n" << Status::WrongGame << "valdane" << "beta";
        QTest::newRow("missing Game") << "Channel=steam\n" << Status::WrongGame << "" << "steam";
        QTest::newRow("empty Game") << "Game=\nChannel=steam\n" << Status::WrongGame << "" << "steam";
        QTest::newRow("missing Channel") << "Game=valdane\n" << Status::WrongGame << "valdane" << "";
        QTest::newRow("game differing in case") << "Game=Valdane\nChannel=steam\n" << Status::WrongGame << "Valdane"
                                                << "steam";
    }
    void identity()
    {
        QFETCH(QString, publisher);
        QFETCH(Status, expected);
        QFETCH(QString, game);
        QFETCH(QString, channel);
        static const Keys k = makeKeys();
        std::string settings = std::string(kSettings) + "\n[publisher]\n" + publisher.toStdString(), sig;
        QVERIFY(OrbSignedSettings::Sign(k.priv, 12, kNow + 86400, settings, sig));
        const auto check = OrbSignedSettings::Verify(k.pub, settings, sig, 10, kNow, "valdane", "steam");
        QCOMPARE(check.status, expected);
        QCOMPARE(QString::fromStdString(check.game), game);
        QCOMPARE(QString::fromStdString(check.channel), channel);
        QCOMPARE(QString::fromUtf8(OrbSignedSettings::Describe(Status::WrongGame)),
                 QStringLiteral("the signed settings are for another game or channel"));
        // The older check without the identity still takes the file.
        QCOMPARE(OrbSignedSettings::Verify(k.pub, settings, sig, 10, kNow).status, Status::Valid);

        // The names are read only from a file whose signature verifies.
        std::string tampered = settings;
        tampered[tampered.find("1.1.0")] = '9';
        const auto refused = OrbSignedSettings::Verify(k.pub, tampered, sig, 10, kNow, "valdane", "steam");
        QCOMPARE(refused.status, Status::WrongSignature);
        QVERIFY(refused.game.empty() && refused.channel.empty());
    }

    // An expected empty channel is a channel too: a file made for a launcher
    // without one says so with an empty value.
    void emptyChannel()
    {
        static const Keys k = makeKeys();
        std::string settings = std::string(kSettings) + "\n[publisher]\nGame=valdane\nChannel=\n", sig;
        QVERIFY(OrbSignedSettings::Sign(k.priv, 1, kNow + 60, settings, sig));
        QCOMPARE(OrbSignedSettings::Verify(k.pub, settings, sig, 0, kNow, "valdane", "").status, Status::Valid);
        QCOMPARE(OrbSignedSettings::Verify(k.pub, settings, sig, 0, kNow, "valdane", "steam").status, Status::WrongGame);
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

    // Values whose arithmetic would overflow are refused before anything is written.
    void toolRefusesOutOfRange_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("fileSerial"); // the Serial the file already has, empty: none
        QTest::addColumn<QByteArray>("message");    // part of what the tool says
        QTest::newRow("days overflowing seconds") << QStringList{"--days", "106751991167301"} << QByteArray()
                                                  << QByteArray("--days");
        QTest::newRow("days at the 64-bit limit") << QStringList{"--days", "9223372036854775807"} << QByteArray()
                                                  << QByteArray("--days");
        QTest::newRow("negative days") << QStringList{"--days", "-1"} << QByteArray() << QByteArray("--days");
        QTest::newRow("no days") << QStringList{"--days", "0"} << QByteArray() << QByteArray("--days");
        QTest::newRow("serial beyond 64 bits") << QStringList{"--serial", "99999999999999999999"} << QByteArray()
                                               << QByteArray("--serial");
        QTest::newRow("negative serial") << QStringList{"--serial", "-5"} << QByteArray() << QByteArray("--serial");
        QTest::newRow("file serial without a successor") << QStringList() << QByteArray("9223372036854775807")
                                                         << QByteArray("serial");
    }
    void toolRefusesOutOfRange()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, fileSerial);
        QFETCH(QByteArray, message);
        QTemporaryDir dir;
        const QString priv = dir.filePath("publisher.key"), pub = dir.filePath("publisher.pub");
        const QString ini = dir.filePath("game_settings.ini");
        QByteArray text = kSettings;
        if (!fileSerial.isEmpty())
            text += "\n[publisher]\nSerial=" + fileSerial + "\n";
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        QProcess p;
        p.start(QStringLiteral(ORB_SIGN_TOOL), {"keygen", priv, pub});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        p.start(QStringLiteral(ORB_SIGN_TOOL), QStringList{"sign", priv, ini} + options);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY(p.exitCode() != 0);
        const QByteArray said = p.readAllStandardError();
        QVERIFY2(said.contains(message) && said.contains("range"), said.constData());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), text);
        f.close();
        QVERIFY(!QFileInfo::exists(ini + ".sig"));
    }

    // sign names the game and channel the file is for, unless the file already does.
    void toolFillsIdentity_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QByteArray>("game");
        QTest::addColumn<QByteArray>("channel");
        QTest::newRow("both taken from the file")
            << QByteArray("[launcher]\nVersion=1\nChannel=steam\n[Basic]\nGameName=valdane\n") << QByteArray("valdane")
            << QByteArray("steam");
        QTest::newRow("present ones are kept")
            << QByteArray("[launcher]\nChannel=steam\n[Basic]\nGameName=valdane\n[publisher]\nGame=valdane-cn\nChannel=beta\n")
            << QByteArray("valdane-cn") << QByteArray("beta");
        QTest::newRow("no launcher channel: an empty one")
            << QByteArray("[launcher]\nVersion=1\n[Basic]\nGameName=valdane\n") << QByteArray("valdane") << QByteArray();
        QTest::newRow("an empty present channel is kept")
            << QByteArray("[launcher]\nChannel=steam\n[Basic]\nGameName=valdane\n[publisher]\nChannel=\n")
            << QByteArray("valdane") << QByteArray();
    }
    void toolFillsIdentity()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QByteArray, game);
        QFETCH(QByteArray, channel);
        QTemporaryDir dir;
        const QString priv = dir.filePath("publisher.key"), pub = dir.filePath("publisher.pub");
        const QString ini = dir.filePath("game_settings.ini");
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(settings);
        f.close();
        QProcess p;
        p.start(QStringLiteral(ORB_SIGN_TOOL), {"keygen", priv, pub});
        QVERIFY(p.waitForFinished(30000));
        p.start(QStringLiteral(ORB_SIGN_TOOL), {"sign", priv, ini});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const std::string signedText = f.readAll().toStdString();
        f.close();
        QCOMPARE(QByteArray::fromStdString(OrbSignedSettings::Value(signedText, "publisher", "Game")), game);
        QCOMPARE(QByteArray::fromStdString(OrbSignedSettings::Value(signedText, "publisher", "Channel")), channel);
        QVERIFY(OrbSignedSettings::HasKey(signedText, "publisher", "Channel"));
        QCOMPARE(QByteArray::fromStdString(signedText).count("\nGame="), 1);
        // What it signed verifies for exactly that game and channel.
        QFile sigFile(ini + ".sig");
        QVERIFY(sigFile.open(QIODevice::ReadOnly));
        const std::string sig = sigFile.readAll().toStdString();
        std::string pubPem;
        QFile pubFile(pub);
        QVERIFY(pubFile.open(QIODevice::ReadOnly));
        pubPem = pubFile.readAll().toStdString();
        const auto now = QDateTime::currentSecsSinceEpoch();
        QCOMPARE(OrbSignedSettings::Verify(pubPem, signedText, sig, 0, now, game.toStdString(), channel.toStdString()).status,
                 Status::Valid);
        QCOMPARE(OrbSignedSettings::Verify(pubPem, signedText, sig, 0, now, game.toStdString(), "other").status,
                 Status::WrongGame);
    }
};

QTEST_GUILESS_MAIN(tst_OrbSignature)
#include "tst_orbsignature.moc"
