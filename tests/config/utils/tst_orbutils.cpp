// OrbUtils' local helpers: text functions, free space, and the interface-based
// answers on made-up interfaces and on this machine's own.

#include <QtTest>

#include "OrbNetInterfaces.h"
#include "OrbUtils.h"
#include "OrbUtilsSettings.h"
#include "TestHttpServer.h"

#include <QNetworkInterface>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

#include <sys/statvfs.h>

#include <climits>
#include <stdexcept>

Q_DECLARE_METATYPE(OrbNetInterfaceInfo)

namespace {

using Interfaces = QList<OrbNetInterfaceInfo>;

// flags: U up, R running, L loopback.
OrbNetInterfaceInfo iface(const QString& name, const char* flags, const QString& hw = QString(),
                          const QList<QHostAddress>& addresses = {},
                          const QString& readable = QString())
{
    OrbNetInterfaceInfo i;
    i.name = name;
    i.humanReadableName = readable.isEmpty() ? name : readable;
    i.hardwareAddress = hw;
    const QByteArray f(flags);
    i.isUp = f.contains('U');
    i.isRunning = f.contains('R');
    i.isLoopback = f.contains('L');
    i.addresses = addresses;
    return i;
}

// Made-up non-loopback addresses, from the documentation ranges (TEST-NET-1 and
// 2001:db8::/32). They only ever sit in fake interface lists; nothing connects
// to them.
QHostAddress docV4(quint8 n)
{
    return QHostAddress(quint32(0xC0000200u | n));
}

QHostAddress docV6(quint8 n)
{
    Q_IPV6ADDR a{};
    a[0] = 0x20;
    a[1] = 0x01;
    a[2] = 0x0d;
    a[3] = 0xb8;
    a[15] = n;
    return QHostAddress(a);
}

QHostAddress mappedV4(quint8 n)
{
    Q_IPV6ADDR a{};
    a[10] = 0xff;
    a[11] = 0xff;
    a[12] = 0xC0;
    a[14] = 0x02;
    a[15] = n;
    return QHostAddress(a);
}

const QHostAddress kLoop4(QHostAddress::LocalHost);

// The text every failed size lookup gives: -1 bytes in GiB with one decimal.
const QString kNoSize = QStringLiteral("-0.0GB");

// How the loopback server answers one case.
struct Answer {
    int status = 200;
    QByteArray body;
    QByteArray contentLength; // announced without sending a body; "none" omits the header
    QByteArray location;
    bool silent = false;      // accept, read the request, never answer
    bool chunked = false;     // no Content-Length: the length is learnt only by reading
    int pieceSize = 0;        // with pieceDelayMs: the body sent in pieces of this size
    int pieceDelayMs = 0;
};
const QHostAddress kLoop6(QHostAddress::LocalHostIPv6);

// Installs a made-up interface list for the lifetime of the object.
struct FakeInterfaces {
    explicit FakeInterfaces(const Interfaces& list)
    {
        OrbNetInterfaces::setSource([list] { return list; });
    }
    ~FakeInterfaces() { OrbNetInterfaces::setSource({}); }
};

double availableGiB(const QString& path)
{
    struct statvfs st {};
    if (statvfs(QFile::encodeName(path).constData(), &st) != 0)
        return -1.0;
    return double(st.f_bavail) * double(st.f_frsize) / 1073741824.0;
}

} // namespace

Q_DECLARE_METATYPE(Answer)

class tst_OrbUtils : public QObject {
    Q_OBJECT

private slots:
    void extractNumber_data();
    void extractNumber();
    void convertStringToJson_data();
    void convertStringToJson();
    void generateCodeVerifier();
    void storageInfo_data();
    void storageInfo();
    void storageInfoOfNoVolume();

    void networkType_data();
    void networkType();
    void macAddress_data();
    void macAddress();
    void localIPAddress_data();
    void localIPAddress();
    void realInterfaces();

    void initTestCase();
    void init();
    void cleanup();
    void geolocationSettings();
    void downloadFileSize_data();
    void downloadFileSize();
    void geolocation_data();
    void geolocation();
    void geolocationFromSeveralThreads();
    void geolocationBounds_data();
    void geolocationBounds();

private:
    orbtest::HttpReply replyFor(const Answer& a) const;
    orbtest::TestHttpServer m_http;
    orbtest::TestHttpServer m_https;
    QMutex m_answerLock;
    Answer m_answer;  // what both servers answer next; guarded by m_answerLock
};

void tst_OrbUtils::extractNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("30GB") << "30GB" << 31;
    QTest::newRow("first run only") << "Size: 7.5GB" << 8;
    QTest::newRow("no digits") << "about a gigabyte" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("zero") << "0" << 1;
    QTest::newRow("leading zeros") << "v007" << 8;
    QTest::newRow("sign is not part of it") << "-5" << 6;
    QTest::newRow("eleven nines") << "99999999999" << 1;
    QTest::newRow("just below the top") << "2147483646" << INT_MAX;
    QTest::newRow("top of int saturates") << "2147483647" << INT_MAX;
    QTest::newRow("one past the top") << "2147483648" << 1;
    QTest::newRow("non-ASCII digits do not count") << QStringLiteral("\u0663\u0660GB") << 0;
    QTest::newRow("full-width digits do not count, later ASCII does")
        << QStringLiteral("\uFF13\uFF10 or 12") << 13;
}

void tst_OrbUtils::extractNumber()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(OrbUtils::extractNumber(text), expected);
}

void tst_OrbUtils::convertStringToJson_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("isObject");
    QTest::addColumn<QVariantMap>("expected");

    QTest::newRow("object") << QByteArray(R"({"name":"OrbLive","size":30,"tags":["a"]})") << true
                            << QVariantMap{{"name", "OrbLive"}, {"size", 30}, {"tags", QVariantList{"a"}}};
    QTest::newRow("empty object") << QByteArray("{}") << true << QVariantMap{};
    QTest::newRow("utf-8 value") << QStringLiteral(R"({"game":"游戏"})").toUtf8() << true
                                 << QVariantMap{{"game", QStringLiteral("游戏")}};
    QTest::newRow("surrounding space") << QByteArray(" \n{\"a\":null}\n ") << true
                                       << QVariantMap{{"a", QVariant::fromValue(nullptr)}};
    QTest::newRow("array") << QByteArray("[1,2,3]") << false << QVariantMap{};
    QTest::newRow("number") << QByteArray("42") << false << QVariantMap{};
    QTest::newRow("string") << QByteArray("\"text\"") << false << QVariantMap{};
    QTest::newRow("not JSON") << QByteArray("not json") << false << QVariantMap{};
    QTest::newRow("empty") << QByteArray() << false << QVariantMap{};
    QTest::newRow("truncated") << QByteArray(R"({"a":)") << false << QVariantMap{};
    QTest::newRow("trailing garbage") << QByteArray("{} x") << false << QVariantMap{};
}

void tst_OrbUtils::convertStringToJson()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, isObject);
    QFETCH(QVariantMap, expected);

    const std::string input = text.toStdString();
    if (isObject) {
        QCOMPARE(OrbUtils::convertStringToJson(input).toVariantMap(), expected);
        return;
    }
    try {
        OrbUtils::convertStringToJson(input);
        QFAIL("no exception");
    } catch (const std::runtime_error& e) {
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Invalid JSON format"));
    }
}

void tst_OrbUtils::generateCodeVerifier()
{
    const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9_-]{16}$"));
    QSet<QString> seen;
    QSet<QChar> symbols;
    const int draws = 4000;
    for (int i = 0; i < draws; ++i) {
        const QString v = OrbUtils::generateCodeVerifier();
        QVERIFY2(shape.match(v).hasMatch(), qPrintable(v));
        seen.insert(v);
        for (QChar c : v)
            symbols.insert(c);
    }
    // 96 random bits each: a repeat means the source is not random.
    QCOMPARE(seen.size(), draws);
    // 64000 uniformly drawn symbols cover the whole URL-safe alphabet, "-" and "_" included.
    QCOMPARE(symbols.size(), 64);
}

void tst_OrbUtils::storageInfo_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("measuredAt");

    const QString tmp = QDir::tempPath();
    QFile file(tmp + QStringLiteral("/file.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
    file.close();

    QTest::newRow("temp folder") << tmp << tmp;
    QTest::newRow("file in it") << file.fileName() << tmp;
    QTest::newRow("install folder not created yet") << tmp + QStringLiteral("/new/game/folder") << tmp;
}

void tst_OrbUtils::storageInfo()
{
    QFETCH(QString, path);
    QFETCH(QString, measuredAt);

    // Other programs write to the same volume meanwhile: bracket our reading.
    const double before = availableGiB(measuredAt);
    const float value = OrbUtils::getStorageInfo(path);
    const double after = availableGiB(measuredAt);
    QVERIFY(before >= 0 && after >= 0);
    const double slack = 1.0 / 64;
    QVERIFY2(value >= std::min(before, after) - slack && value <= std::max(before, after) + slack,
             qPrintable(QStringLiteral("%1 GiB vs statvfs %2..%3").arg(value).arg(before).arg(after)));
    QVERIFY(!QFileInfo::exists(QDir::tempPath() + QStringLiteral("/new")));
}

void tst_OrbUtils::storageInfoOfNoVolume()
{
    // An invalid volume reports -1 bytes, scaled like any other figure.
    QCOMPARE(OrbUtils::getStorageInfo(QString()), float(-1.0 / 1073741824.0));
    QVERIFY(OrbUtils::getStorageInfo(QString()) < 0);
}

void tst_OrbUtils::networkType_data()
{
    QTest::addColumn<Interfaces>("interfaces");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("logged");

    const Interfaces lo{iface("lo", "URL")};
    QTest::newRow("no interfaces") << Interfaces{} << "" << "";
    QTest::newRow("nothing up and running")
        << Interfaces{iface("wlan0", "U"), iface("eth0", "R"), iface("eth1", "")} << "" << "";
    QTest::newRow("loopback first") << Interfaces{iface("lo", "URL"), iface("eth0", "UR")} << "Type: Other"
                                    << "lo";
    QTest::newRow("WLAN0 is lowered first")
        << Interfaces{iface("WLAN0", "UR", {}, {}, "Wireless Network")} << "Wi-Fi" << "Wireless Network";
    QTest::newRow("wifi anywhere") << Interfaces{iface("usb-WiFi2", "UR")} << "Wi-Fi" << "usb-WiFi2";
    QTest::newRow("ath prefix") << Interfaces{iface("ath9k", "UR")} << "Wi-Fi" << "ath9k";
    QTest::newRow("eth0") << Interfaces{iface("eth0", "UR")} << "Ethernet" << "eth0";
    QTest::newRow("Windows-style Ethernet name")
        << Interfaces{iface("ethernet_32769", "UR", {}, {}, "Ethernet 2")} << "Ethernet" << "Ethernet 2";
    QTest::newRow("Windows-style wireless name")
        << Interfaces{iface("wireless_32768", "UR", {}, {}, "Wi-Fi")} << "Wi-Fi" << "Wi-Fi";
    QTest::newRow("wifi beats eth") << Interfaces{iface("eth-wifi0", "UR")} << "Wi-Fi" << "eth-wifi0";
    QTest::newRow("wlan only as prefix") << Interfaces{iface("xwlan0", "UR")} << "Type: Other" << "xwlan0";
    QTest::newRow("ath only as prefix") << Interfaces{iface("path0", "UR")} << "Type: Other" << "path0";
    QTest::newRow("eth only as prefix") << Interfaces{iface("veth12", "UR")} << "Type: Other" << "veth12";
    QTest::newRow("other name") << Interfaces{iface("enp3s0", "UR")} << "Type: Other" << "enp3s0";
    QTest::newRow("skips down and not running")
        << Interfaces{iface("wlan0", ""), iface("wlan1", "U"), iface("ath0", "R"), iface("eth1", "UR")}
        << "Ethernet" << "eth1";
    QTest::newRow("first active wins") << Interfaces{iface("eth0", "UR"), iface("wlan0", "UR")}
                                       << "Ethernet" << "eth0";
}

void tst_OrbUtils::networkType()
{
    QFETCH(Interfaces, interfaces);
    QFETCH(QString, expected);
    QFETCH(QString, logged);

    FakeInterfaces fake(interfaces);
    if (!logged.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Interface: ") + logged));
    QCOMPARE(OrbUtils::getCurrentNetworkType(), expected);
}

void tst_OrbUtils::macAddress_data()
{
    QTest::addColumn<Interfaces>("interfaces");
    QTest::addColumn<QString>("expected");

    const QString zero = QStringLiteral("00:00:00:00:00:00");
    const QString a = QStringLiteral("02:00:00:00:00:0A");
    const QString b = QStringLiteral("02:00:00:00:00:0B");

    QTest::newRow("no interfaces") << Interfaces{} << "";
    QTest::newRow("loopback only") << Interfaces{iface("lo", "URL", zero)} << "";
    QTest::newRow("loopback skipped") << Interfaces{iface("lo", "URL", zero), iface("eth0", "UR", a)} << a;
    QTest::newRow("no hardware address skipped")
        << Interfaces{iface("tun0", "UR"), iface("eth0", "UR", a)} << a;
    QTest::newRow("down skipped") << Interfaces{iface("eth0", "R", a), iface("wlan0", "UR", b)} << b;
    QTest::newRow("running not required") << Interfaces{iface("eth0", "U", a), iface("wlan0", "UR", b)} << a;
    QTest::newRow("all down") << Interfaces{iface("eth0", "", a), iface("wlan0", "R", b)} << "";
}

void tst_OrbUtils::macAddress()
{
    QFETCH(Interfaces, interfaces);
    QFETCH(QString, expected);
    FakeInterfaces fake(interfaces);
    QCOMPARE(OrbUtils::getMacAddress(), expected);
}

void tst_OrbUtils::localIPAddress_data()
{
    QTest::addColumn<Interfaces>("interfaces");
    QTest::addColumn<QString>("expected");

    const QString loop = QStringLiteral("127.0.0.1");
    QTest::newRow("no interfaces") << Interfaces{} << loop;
    QTest::newRow("loopback only") << Interfaces{iface("lo", "URL", {}, {kLoop4, kLoop6})} << loop;
    QTest::newRow("whole 127 block is loopback")
        << Interfaces{iface("lo", "URL", {}, {QHostAddress(QStringLiteral("127.0.1.1"))})} << loop;
    QTest::newRow("first IPv4 past loopback and IPv6")
        << Interfaces{iface("lo", "URL", {}, {kLoop4, kLoop6}),
                      iface("eth0", "UR", {}, {docV6(1), docV4(7), docV4(8)})}
        << docV4(7).toString();
    QTest::newRow("only IPv6") << Interfaces{iface("eth0", "UR", {}, {docV6(1), docV6(2)})} << loop;
    QTest::newRow("IPv4-mapped IPv6 is IPv6") << Interfaces{iface("eth0", "UR", {}, {mappedV4(9)})} << loop;
    QTest::newRow("down interface ignored")
        << Interfaces{iface("eth0", "R", {}, {docV4(1)}), iface("eth1", "U", {}, {docV4(2)})}
        << docV4(2).toString();
}

void tst_OrbUtils::localIPAddress()
{
    QFETCH(Interfaces, interfaces);
    QFETCH(QString, expected);
    FakeInterfaces fake(interfaces);
    QCOMPARE(OrbUtils::getLocalIPAddress(), expected);
}

void tst_OrbUtils::realInterfaces()
{
    // The seam hands on the system's view unchanged.
    const QList<QNetworkInterface> system = QNetworkInterface::allInterfaces();
    const Interfaces ours = OrbNetInterfaces::fromSystem();
    QCOMPARE(ours.size(), system.size());
    for (int i = 0; i < ours.size(); ++i) {
        QCOMPARE(ours[i].name, system[i].name());
        QCOMPARE(ours[i].hardwareAddress, system[i].hardwareAddress());
        QCOMPARE(ours[i].isUp, system[i].flags().testFlag(QNetworkInterface::IsUp));
        QCOMPARE(ours[i].isRunning, system[i].flags().testFlag(QNetworkInterface::IsRunning));
        QCOMPARE(ours[i].isLoopback, system[i].flags().testFlag(QNetworkInterface::IsLoopBack));
    }
    // Our address order is the system's own.
    QCOMPARE(OrbNetInterfaces::allAddresses(), QNetworkInterface::allAddresses());

    const QList<QHostAddress> all = QNetworkInterface::allAddresses();
    const QHostAddress ip(OrbUtils::getLocalIPAddress());
    QCOMPARE(ip.protocol(), QAbstractSocket::IPv4Protocol);
    const bool hasOther = std::any_of(all.begin(), all.end(), [](const QHostAddress& a) {
        return a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback();
    });
    if (hasOther) {
        QVERIFY(!ip.isLoopback());
        QVERIFY(all.contains(ip));
    } else {
        QCOMPARE(ip, kLoop4);
    }

    const QString mac = OrbUtils::getMacAddress();
    QStringList candidates;
    for (const QNetworkInterface& i : system) {
        if (i.flags().testFlag(QNetworkInterface::IsUp) && !i.flags().testFlag(QNetworkInterface::IsLoopBack)
            && !i.hardwareAddress().isEmpty())
            candidates << i.hardwareAddress();
    }
    if (candidates.isEmpty())
        QCOMPARE(mac, QString());
    else
        QVERIFY2(candidates.contains(mac), qPrintable(mac));

    const QString type = OrbUtils::getCurrentNetworkType();
    QVERIFY2(QStringList({"Wi-Fi", "Ethernet", "Type: Other", ""}).contains(type), qPrintable(type));
}

orbtest::HttpReply tst_OrbUtils::replyFor(const Answer& a) const
{
    orbtest::HttpReply rep;
    rep.status = a.status;
    rep.body = a.body;
    rep.noResponse = a.silent;
    rep.chunked = a.chunked;
    rep.chunkSize = a.pieceSize;
    rep.chunkDelayMs = a.pieceDelayMs;
    if (!a.location.isEmpty())
        rep.headers.append({"Location", a.location});
    if (!a.contentLength.isEmpty()) {
        // Announce a length without a body (the server sends none to HEAD);
        // the connection then ends the response.
        rep.omitLength = true;
        if (a.contentLength != "none")
            rep.headers.append({"Content-Length", a.contentLength});
    }
    return rep;
}

void tst_OrbUtils::initTestCase()
{
    orbtest::clearProxyEnv();
    auto handler = [this](const orbtest::HttpRequest& req) {
        QMutexLocker lock(&m_answerLock);
        Answer a = m_answer;
        if (req.path == "/target") {
            // Where a redirect leads: the same answer, as a plain file.
            a.location.clear();
            a.status = 200;
        }
        return replyFor(a);
    };
    QVERIFY(m_http.start(handler));

    QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend: the HTTPS service cannot be served");
    QTemporaryDir certDir;
    QByteArray cert, key;
    QVERIFY(orbtest::makeSelfSignedCert(certDir.path(), &cert, &key));
    QVERIFY(m_https.startTls(cert, key, handler));
    // Trust the throw-away certificate the way a real service's chain is trusted.
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.addCaCertificates(QSslCertificate::fromData(cert));
    QSslConfiguration::setDefaultConfiguration(conf);
}

void tst_OrbUtils::init()
{
    // No test may ever reach the public services.
    OrbUtilsSettings::setCountryService(QUrl(m_https.url()));
    OrbUtilsSettings::setCountryCodeService(QUrl(m_http.url()));
    OrbUtilsSettings::setRequestTimeoutMs(OrbUtilsSettings::kDefaultRequestTimeoutMs);
    OrbUtilsSettings::setRequestDeadlineMs(OrbUtilsSettings::kDefaultRequestDeadlineMs);
    m_http.clearLog();
    m_https.clearLog();
}

void tst_OrbUtils::cleanup()
{
    init();
}

void tst_OrbUtils::geolocationSettings()
{
    // Defaults only looked at, never contacted.
    OrbUtilsSettings::restoreDefaults();
    const QUrl country = OrbUtilsSettings::countryUrl();
    const QUrl code = OrbUtilsSettings::countryCodeUrl();
    init();
    QCOMPARE(country.scheme(), QStringLiteral("https"));
    QCOMPARE(country.path(), QStringLiteral("/json"));
    QVERIFY(!country.host().isEmpty());
    QCOMPARE(code.scheme(), QStringLiteral("http"));
    QCOMPARE(code.path(), QStringLiteral("/json/"));
    QVERIFY(!code.host().isEmpty());

    // A service is its origin; the fixed path replaces any other.
    OrbUtilsSettings::setCountryService(QUrl(QStringLiteral("http://127.0.0.1:1/other/path?q=1#f")));
    QCOMPARE(OrbUtilsSettings::countryUrl(), QUrl(QStringLiteral("http://127.0.0.1:1/json")));
    OrbUtilsSettings::setCountryCodeService(QUrl(QStringLiteral("http://127.0.0.1:2")));
    QCOMPARE(OrbUtilsSettings::countryCodeUrl(), QUrl(QStringLiteral("http://127.0.0.1:2/json/")));
    OrbUtilsSettings::setRequestTimeoutMs(-5);
    QCOMPARE(OrbUtilsSettings::requestTimeoutMs(), 0);
    OrbUtilsSettings::setRequestDeadlineMs(-5);
    QCOMPARE(OrbUtilsSettings::requestDeadlineMs(), 0);
    OrbUtilsSettings::restoreDefaults();
    QCOMPARE(OrbUtilsSettings::requestDeadlineMs(), OrbUtilsSettings::kDefaultRequestDeadlineMs);
    QVERIFY(OrbUtilsSettings::requestDeadlineMs() > 0);
    init();
}

void tst_OrbUtils::downloadFileSize_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("logged");  // pattern of the debug message, if any

    auto announced = [](const QByteArray& length) {
        Answer a;
        a.contentLength = length;
        return a;
    };
    Answer oneByte;
    oneByte.body = "x";
    Answer notFound;
    notFound.status = 404;
    notFound.body = "missing";
    Answer failing;
    failing.status = 500;
    Answer redirect;
    redirect.status = 302;
    redirect.location = "/target";
    redirect.contentLength = "1610612736";
    Answer silent;
    silent.silent = true;

    const QString noLength = QStringLiteral("^Content-Length header is not available\\.$");
    const QString error = QStringLiteral("^Error: .+");

    QTest::newRow("1.5 GiB announced") << announced("1610612736") << "/game.zip" << true << 0 << "1.5GB" << "";
    QTest::newRow("beyond 32 bits") << announced("107374182400") << "/game.zip" << true << 0 << "100.0GB" << "";
    QTest::newRow("one byte") << oneByte << "/f" << true << 0 << "0.0GB" << "";
    QTest::newRow("empty file") << Answer{} << "/f" << true << 0 << "0.0GB" << "";
    QTest::newRow("rounds to one decimal") << announced("1127428916") << "/f" << true << 0 << "1.1GB" << "";
    QTest::newRow("no Content-Length") << announced("none") << "/f" << true << 0 << kNoSize << noLength;
    QTest::newRow("not found") << notFound << "/f" << true << 0 << kNoSize << error;
    QTest::newRow("server error") << failing << "/f" << true << 0 << kNoSize << error;
    QTest::newRow("redirect followed") << redirect << "/moved" << true << 0 << "1.5GB" << "";
    QTest::newRow("unreachable") << Answer{} << "/f" << false << 0 << kNoSize << error;
    QTest::newRow("silent server gives up") << silent << "/f" << true << 300 << kNoSize << error;
}

void tst_OrbUtils::downloadFileSize()
{
    QFETCH(Answer, answer);
    QFETCH(QString, path);
    QFETCH(bool, reachable);
    QFETCH(int, timeoutMs);
    QFETCH(QString, expected);
    QFETCH(QString, logged);

    {
        QMutexLocker lock(&m_answerLock);
        m_answer = answer;
    }
    if (timeoutMs > 0)
        OrbUtilsSettings::setRequestTimeoutMs(timeoutMs);
    const QString url = reachable
        ? m_http.url(path)
        : QStringLiteral("http://127.0.0.1:%1%2").arg(orbtest::freePort()).arg(path);
    if (!logged.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(logged));

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(OrbUtils::getDownLoadFileSize(url), expected);
    if (timeoutMs > 0)
        QVERIFY(clock.elapsed() < 10000);

    if (reachable) {
        const QList<orbtest::HttpRequest> seen = m_http.requests();
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.first().method, QByteArray("HEAD"));
        QCOMPARE(QString::fromLatin1(seen.first().path), path);
        QVERIFY(seen.first().body.isEmpty());
    }
}

void tst_OrbUtils::geolocation_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QString>("country");
    QTest::addColumn<QString>("countryCode");

    auto json = [](const QByteArray& body, int status = 200) {
        Answer a;
        a.status = status;
        a.body = body;
        return a;
    };
    const QByteArray good = R"({"ip":"127.0.0.1","country":"Germany","countryCode":"DE","city":"x"})";
    Answer silent;
    silent.silent = true;

    QTest::newRow("good body") << json(good) << true << 0 << "Germany" << "DE";
    QTest::newRow("utf-8 value") << json(QStringLiteral(R"({"country":"中国","countryCode":"CN"})").toUtf8())
                                 << true << 0 << QStringLiteral("中国") << "CN";
    QTest::newRow("missing key") << json(R"({"city":"Berlin"})") << true << 0 << "" << "";
    QTest::newRow("not a string") << json(R"({"country":49,"countryCode":null})") << true << 0 << "" << "";
    QTest::newRow("nested object") << json(R"({"country":{"name":"X"},"countryCode":["DE"]})") << true << 0
                                   << "" << "";
    QTest::newRow("not JSON") << json("<html>busy</html>") << true << 0 << "" << "";
    QTest::newRow("array") << json(R"([{"country":"X","countryCode":"X"}])") << true << 0 << "" << "";
    QTest::newRow("empty body") << json("") << true << 0 << "" << "";
    QTest::newRow("server error") << json(good, 500) << true << 0 << "" << "";
    QTest::newRow("rate limited") << json(good, 429) << true << 0 << "" << "";
    QTest::newRow("unreachable") << json(good) << false << 0 << "" << "";
    QTest::newRow("silent server gives up") << silent << true << 300 << "" << "";
}

void tst_OrbUtils::geolocation()
{
    QFETCH(Answer, answer);
    QFETCH(bool, reachable);
    QFETCH(int, timeoutMs);
    QFETCH(QString, country);
    QFETCH(QString, countryCode);

    {
        QMutexLocker lock(&m_answerLock);
        m_answer = answer;
    }
    if (timeoutMs > 0)
        OrbUtilsSettings::setRequestTimeoutMs(timeoutMs);
    if (!reachable) {
        const QUrl closed(QStringLiteral("http://127.0.0.1:%1").arg(orbtest::freePort()));
        OrbUtilsSettings::setCountryService(closed);
        OrbUtilsSettings::setCountryCodeService(closed);
    }

    QCOMPARE(OrbUtils::getCountryByIP(), country);
    QCOMPARE(OrbUtils::getCountryCodeByIP(), countryCode);

    if (reachable) {
        // The country over HTTPS at "/json", the code over plain HTTP at "/json/".
        QCOMPARE(m_https.count(), 1);
        QCOMPARE(m_https.requests().first().method, QByteArray("GET"));
        QCOMPARE(m_https.requests().first().target, QByteArray("/json"));
        QCOMPARE(m_http.count(), 1);
        QCOMPARE(m_http.requests().first().method, QByteArray("GET"));
        QCOMPARE(m_http.requests().first().target, QByteArray("/json/"));
    }
}

void tst_OrbUtils::geolocationFromSeveralThreads()
{
    {
        QMutexLocker lock(&m_answerLock);
        m_answer = Answer{};
        m_answer.body = R"({"country":"Germany","countryCode":"DE"})";
    }
    QAtomicInt good;
    QList<QThread*> threads;
    for (int t = 0; t < 4; ++t) {
        threads << QThread::create([&good] {
            for (int i = 0; i < 5; ++i) {
                if (OrbUtils::getCountryCodeByIP() == QLatin1String("DE")
                    && OrbUtils::getCountryByIP() == QLatin1String("Germany"))
                    good.ref();
            }
        });
        threads.last()->start();
    }
    for (QThread* t : threads) {
        QVERIFY(t->wait(30000));
        delete t;
    }
    QCOMPARE(good.loadRelaxed(), 20);
}

// A geolocation answer is read whole into memory and waited for in the caller's
// thread: both must stay bounded whatever the service sends.
void tst_OrbUtils::geolocationBounds_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<QString>("country");
    QTest::addColumn<QString>("countryCode");

    const QByteArray good = R"({"country":"Germany","countryCode":"DE"})";
    const qint64 cap = OrbUtilsSettings::kMaxAnswerBytes;
    // Valid JSON either way: white space pads it to the wanted length.
    auto padded = [&good](qint64 size) { return good + QByteArray(int(size - good.size()), ' '); };

    Answer atCap;
    atCap.body = padded(cap);
    Answer announcedBeyond;
    announcedBeyond.body = padded(1 << 20);
    Answer receivedBeyond = announcedBeyond;
    receivedBeyond.chunked = true;
    Answer trickling;
    trickling.body = padded(400);
    trickling.pieceSize = 20;
    trickling.pieceDelayMs = 100;  // 2 s in all, a byte every few milliseconds
    Answer slowInTime = trickling;
    slowInTime.pieceDelayMs = 10;

    QTest::newRow("body at the cap") << atCap << 0 << "Germany" << "DE";
    QTest::newRow("announced body beyond the cap") << announcedBeyond << 0 << "" << "";
    QTest::newRow("unannounced body beyond the cap") << receivedBeyond << 0 << "" << "";
    QTest::newRow("trickle cut at the deadline") << trickling << 300 << "" << "";
    QTest::newRow("slow body within the deadline") << slowInTime << 20000 << "Germany" << "DE";
}

void tst_OrbUtils::geolocationBounds()
{
    QFETCH(Answer, answer);
    QFETCH(int, deadlineMs);
    QFETCH(QString, country);
    QFETCH(QString, countryCode);

    {
        QMutexLocker lock(&m_answerLock);
        m_answer = answer;
    }
    if (deadlineMs > 0)
        OrbUtilsSettings::setRequestDeadlineMs(deadlineMs);

    QCOMPARE(OrbUtils::getCountryByIP(), country);
    QCOMPARE(OrbUtils::getCountryCodeByIP(), countryCode);
    QCOMPARE(m_https.count(), 1);
    QCOMPARE(m_http.count(), 1);
}

QTEST_GUILESS_MAIN(tst_OrbUtils)
#include "tst_orbutils.moc"
