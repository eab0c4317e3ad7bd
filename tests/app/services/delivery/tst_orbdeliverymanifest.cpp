// Version manifests: the text round-trips, and every hostile or damaged
// manifest is refused with its reason and without a partial result.
#include "OrbDeliveryManifest.h"
#include "OrbSignature.h"

#include <QDateTime>
#include <QtTest>

namespace {

const QByteArray kHash1(64, 'a');
const QByteArray kHash2(64, 'b');
const QByteArray kHash3(64, 'c');

// A header for game "Orb Game", version 1.2.0, serial 7, expiring in 2099.
QByteArray header(const QByteArray& game = "Orb Game", const QByteArray& serial = "7",
                  const QByteArray& expires = "2099-01-01T00:00:00Z")
{
    return "OrbDeliveryManifest=1\nGame=" + game + "\nVersion=1.2.0\nSerial=" + serial + "\nExpires=" + expires + "\n";
}

QByteArray good()
{
    return header() + "folder saves/empty\n"
                      "file bin/game 300000 755 " + kHash1 + "\n"
                      "chunk " + kHash1 + " 0 200000 150000\n"
                      "chunk " + kHash2 + " 200000 100000 100100\n"
                      "file data/read%20me.txt 0 644 " + kHash3 + "\n";
}

} // namespace

class TestOrbDeliveryManifest : public QObject {
    Q_OBJECT

private:
    std::string m_private, m_public, m_otherPrivate, m_otherPublic;
    qint64 m_now = 0;

    OrbDeliveryManifest::Expect expect(const QByteArray& text, int signing)
    {
        OrbDeliveryManifest::Expect e;
        e.publicPem = m_public;
        e.game = "Orb Game";
        e.minSerial = 5;
        e.now = m_now;
        switch (signing) {
        case 0: e.signature = QByteArray::fromStdString(OrbSignature::Sign(m_private, text.toStdString())); break;
        case 1: break;  // unsigned
        case 2: e.signature = QByteArray::fromStdString(OrbSignature::Sign(m_otherPrivate, text.toStdString())); break;
        case 3: e.signature = QByteArray::fromStdString(OrbSignature::Sign(m_private, (text + "\n").toStdString())); break;
        case 4: e.signature = "not base64 at all"; break;
        }
        return e;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(OrbSignature::GenerateKeyPair(m_private, m_public));
        QVERIFY(OrbSignature::GenerateKeyPair(m_otherPrivate, m_otherPublic));
        m_now = QDateTime::currentSecsSinceEpoch();
    }

    void roundTrip()
    {
        OrbDeliveryManifest m;
        m.game = QStringLiteral("Orb Game 游戏");
        m.version = "2.0.1-beta+3";
        m.serial = 12;
        m.expires = m_now + 3600;
        m.folders = QStringList{"saves/empty", "日志"};
        OrbDeliveryFile f;
        f.path = QStringLiteral("Bin/Game Launcher.exe");
        f.size = 300;
        f.executable = true;
        f.sha256 = kHash3;
        f.chunks = {{kHash1, 0, 100, 90}, {kHash2, 100, 200, 180}};
        m.files.push_back(f);
        OrbDeliveryFile empty;
        empty.path = "empty.cfg";
        empty.sha256 = kHash1;
        m.files.push_back(empty);

        const QByteArray text = m.Serialize();
        OrbDeliveryManifest::Expect e;
        e.publicPem = m_public;
        e.signature = QByteArray::fromStdString(m.Sign(m_private));
        e.game = m.game;
        e.minSerial = 12;
        e.now = m_now;
        const auto parsed = OrbDeliveryManifest::Parse(text, e);
        QVERIFY2(parsed.ok, qPrintable(parsed.reason));
        const OrbDeliveryManifest& p = parsed.manifest;
        QCOMPARE(p.game, m.game);
        QCOMPARE(p.version, m.version);
        QCOMPARE(p.serial, m.serial);
        QCOMPARE(p.expires, m.expires);
        QCOMPARE(p.folders, m.folders);
        QCOMPARE(int(p.files.size()), 2);
        QCOMPARE(p.files[0].path, f.path);
        QVERIFY(p.files[0].executable);
        QCOMPARE(p.files[0].chunks.size(), std::size_t(2));
        QCOMPARE(p.files[0].chunks[1].hash, kHash2);
        QCOMPARE(p.files[0].chunks[1].offset, qint64(100));
        QCOMPARE(p.files[0].chunks[1].compressedSize, qint64(180));
        QVERIFY(!p.files[1].executable);
        QVERIFY(p.files[1].chunks.empty());
        QCOMPARE(p.Serialize(), text);  // byte for byte
        // Paths travel encoded: a space never splits a record.
        QVERIFY(text.contains("file Bin/Game%20Launcher.exe 300 755 "));

        // Without a key no signature is needed; with one, the good text passes too.
        OrbDeliveryManifest::Expect open;
        open.now = m_now;
        QVERIFY(OrbDeliveryManifest::Parse(text, open).ok);
        QVERIFY(OrbDeliveryManifest::Parse(good(), expect(good(), 0)).ok);
    }

    void hostileRefused_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("signing");       // 0 good key, 1 none, 2 other key, 3 other bytes, 4 garbage
        QTest::addColumn<QString>("cap");       // "name=value" lowering one cap, empty: the defaults
        QTest::addColumn<QString>("reason");

        const QByteArray h = header();
        const QByteArray f1 = "file a.txt 10 644 " + kHash1 + "\nchunk " + kHash1 + " 0 10 12\n";
        auto file = [](const QByteArray& path) { return "file " + path + " 10 644 " + kHash1 + "\nchunk " + kHash1 + " 0 10 12\n"; };

        QTest::newRow("unsigned") << good() << 1 << QString() << "not signed";
        QTest::newRow("signed by another key") << good() << 2 << QString() << "signature refused";
        QTest::newRow("signature over other bytes") << good() << 3 << QString() << "signature refused";
        QTest::newRow("garbage signature") << good() << 4 << QString() << "signature refused";
        QTest::newRow("another game") << header("Other Game") + f1 << 0 << QString() << "not 'Orb Game'";
        QTest::newRow("replayed serial") << header("Orb Game", "4") + f1 << 0 << QString() << "replayed";
        QTest::newRow("expired") << header("Orb Game", "7", "2020-01-01T00:00:00Z") + f1 << 0 << QString() << "expired";
        QTest::newRow("expiry without zone") << header("Orb Game", "7", "2099-01-01T00:00:00") + f1 << 0 << QString() << "bad expiry";
        QTest::newRow("negative serial") << header("Orb Game", "-7") + f1 << 0 << QString() << "bad serial";
        QTest::newRow("unknown format") << "OrbDeliveryManifest=2" + h.mid(h.indexOf('\n')) + f1 << 0 << QString() << "unknown manifest format";
        QTest::newRow("header out of order") << QByteArray("OrbDeliveryManifest=1\nVersion=1\nGame=Orb Game\nSerial=7\nExpires=2099-01-01T00:00:00Z\n") + f1 << 0 << QString() << "header line 2";
        QTest::newRow("carriage returns") << QByteArray(good()).replace("\n", "\r\n") << 0 << QString() << "carriage returns";
        QTest::newRow("no final line feed") << good().chopped(1) << 0 << QString() << "line feed";
        QTest::newRow("dot dot") << h + file("data/../../evil.dll") << 0 << QString() << "'..'";
        QTest::newRow("absolute") << h + file("/etc/passwd") << 0 << QString() << "absolute path";
        QTest::newRow("backslash") << h + file("bin%5C..%5Cevil.exe") << 0 << QString() << "backslash";
        QTest::newRow("drive letter") << h + file("C%3A/evil.exe") << 0 << QString() << "colon";
        QTest::newRow("control character") << h + file("a%0Ab") << 0 << QString() << "control character";
        QTest::newRow("not canonical") << h + file("%61.txt") << 0 << QString() << "canonical";
        QTest::newRow("reserved name") << h + file("logs/con.txt") << 0 << QString() << "reserved";
        QTest::newRow("trailing dot") << h + file("bin/game.") << 0 << QString() << "dot or space";
        QTest::newRow("empty component") << h + file("bin//game") << 0 << QString() << "empty path component";
        QTest::newRow("duplicate") << h + file("a.txt") + file("a.txt") << 0 << QString() << "duplicate path";
        QTest::newRow("case collision") << h + file("Data/Map.pak") + file("data/map.PAK") << 0 << QString() << "differ only in case";
        QTest::newRow("folder and file collide") << h + "folder a.txt\n" + file("a.txt") << 0 << QString() << "duplicate path";
        QTest::newRow("file below a file") << h + file("bin") + file("bin/game") << 0 << QString() << "also a folder";
        QTest::newRow("folder not empty") << h + "folder bin\n" + file("bin/game") << 0 << QString() << "not empty";
        QTest::newRow("symbolic link") << h + "link bin/game ../../usr/bin/sh\n" << 0 << QString() << "unsupported entry type 'link'";
        QTest::newRow("device") << h + "device dev/sda 8 0\n" << 0 << QString() << "unsupported entry type";
        QTest::newRow("setuid mode") << h + "file a 10 4755 " + kHash1 + "\nchunk " + kHash1 + " 0 10 12\n" << 0 << QString() << "mode";
        QTest::newRow("file over the cap") << h + "file big.pak 68719476737 644 " + kHash1 + "\n" << 0 << QString() << "file cap";
        QTest::newRow("total over the cap") << h + file("a") + file("b") << 0 << QString("totalSize=15") << "total size";
        QTest::newRow("too many entries") << h + "folder x\n" + file("a") + file("b") << 0 << QString("entries=2") << "more than 2 entries";
        QTest::newRow("path too long") << h + file(QByteArray(600, 'a') + "/" + QByteArray(500, 'b')) << 0 << QString() << "longer than 1024 bytes";
        QTest::newRow("component too long") << h + file("data/" + QByteArray(256, 'c')) << 0 << QString() << "component longer than 255 bytes";
        QTest::newRow("chunk gap") << h + "file a 20 644 " + kHash1 + "\nchunk " + kHash1 + " 0 10 12\nchunk " + kHash2 + " 11 9 12\n" << 0 << QString() << "tile";
        QTest::newRow("chunk overlap") << h + "file a 20 644 " + kHash1 + "\nchunk " + kHash1 + " 0 10 12\nchunk " + kHash2 + " 5 15 12\n" << 0 << QString() << "tile";
        QTest::newRow("chunks short of the size") << h + "file a 20 644 " + kHash1 + "\nchunk " + kHash1 + " 0 10 12\n" << 0 << QString() << "cover 10 of 20";
        QTest::newRow("chunk past the end") << h + "file a 10 644 " + kHash1 + "\nchunk " + kHash1 + " 0 11 12\n" << 0 << QString() << "past the file's end";
        QTest::newRow("chunk above 1 MiB") << h + "file a 1048577 644 " + kHash1 + "\nchunk " + kHash1 + " 0 1048577 1000\n" << 0 << QString() << "outside 1..1048576";
        QTest::newRow("empty chunk") << h + "file a 0 644 " + kHash1 + "\nchunk " + kHash1 + " 0 0 9\n" << 0 << QString() << "outside 1..";
        QTest::newRow("compressed larger than possible") << h + "file a 10 644 " + kHash1 + "\nchunk " + kHash1 + " 0 10 5000\n" << 0 << QString() << "impossible";
        QTest::newRow("chunk outside a file") << h + "chunk " + kHash1 + " 0 10 12\n" << 0 << QString() << "outside a file";
        QTest::newRow("upper-case hash") << h + "file a 10 644 " + kHash1.toUpper() + "\nchunk " + kHash1 + " 0 10 12\n" << 0 << QString() << "bad file hash";
        QTest::newRow("leading zero") << h + "file a 010 644 " + kHash1 + "\nchunk " + kHash1 + " 0 10 12\n" << 0 << QString() << "bad file size";
        QTest::newRow("double space") << h + "file a  10 644 " + kHash1 + "\n" << 0 << QString() << "file needs";
        QTest::newRow("bad version") << QByteArray(h).replace("Version=1.2.0", "Version=../1") + f1 << 0 << QString() << "bad version";
    }

    void hostileRefused()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, signing);
        QFETCH(QString, cap);
        QFETCH(QString, reason);
        OrbDeliveryManifest::Expect e = expect(text, signing);
        const qint64 capValue = cap.section('=', 1).toLongLong();
        if (cap.startsWith("totalSize="))
            e.limits.totalSize = capValue;
        else if (cap.startsWith("entries="))
            e.limits.entries = capValue;
        else
            QVERIFY(cap.isEmpty());
        const auto parsed = OrbDeliveryManifest::Parse(text, e);
        QVERIFY(!parsed.ok);
        QVERIFY2(parsed.reason.contains(reason), qPrintable(parsed.reason));
        // Nothing of a refused manifest is handed out.
        QVERIFY(parsed.manifest.game.isEmpty());
        QVERIFY(parsed.manifest.files.empty());
        QVERIFY(parsed.manifest.folders.isEmpty());
    }

    void signatureCheckedBeforeReading()
    {
        // Text that is not a manifest at all still only yields the signature's verdict.
        const auto parsed = OrbDeliveryManifest::Parse("rm -rf /\n", expect("something else", 0));
        QVERIFY(!parsed.ok);
        QVERIFY2(parsed.reason.contains("signature refused"), qPrintable(parsed.reason));
    }

    void manifestSizeCap()
    {
        OrbDeliveryManifest::Expect e = expect(good(), 0);
        e.limits.manifestBytes = 100;
        const auto parsed = OrbDeliveryManifest::Parse(good(), e);
        QVERIFY(!parsed.ok);
        QVERIFY2(parsed.reason.contains("larger than 100 bytes"), qPrintable(parsed.reason));
    }
};

QTEST_APPLESS_MAIN(TestOrbDeliveryManifest)
#include "tst_orbdeliverymanifest.moc"
