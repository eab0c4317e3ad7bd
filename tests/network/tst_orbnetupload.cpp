// Uploads through the engine: credentials fetched from a loopback credential
// service, signed transfers into a loopback S3-compatible store that verifies
// every signature with an independent signer (tests/peers/s3), and the ways an
// upload ends: transfer, credential failure, refusal, missing file, timeout.
#include "OrbNetTestUtil.h"
#include "OrbNetS3Signer_p.h"
#include "OrbNetUploader_p.h"
#include "OrbNetwork.h"
#include "OrbNetwork_p.h"
#include "OrbTestFiles.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <vector>

using namespace orbtest;
using orbtest::makeEngine;
using orbtest::withProbes;

namespace {

const char kBucket[] = "orb-test";
const char kAccessKey[] = "ORBTESTACCESSKEY";
const char kSecretKey[] = "orb-test-secret-key";
const char kToken[] = "orb-session-token";

// Credentials as the provider's service hands them out.
struct Issued {
    QString accessKey = kAccessKey;
    QString secretKey = kSecretKey;
    QString token = kToken;
    QString region = QStringLiteral("ap-test-1");
    qint64 expiresIn = 3600;  // seconds from now
};

// A provider whose service answers JSON; anything else is not accepted.
class TestProvider : public IOrbCosGetConfig {
public:
    explicit TestProvider(QString url = QString()) : m_url(std::move(url)) {}
    void MakeRequest(std::string& url, std::string& body) override
    {
        ++requests;
        url = m_url.toStdString();
        body = R"({"app":"orb","purpose":"upload"})";
    }
    bool ParseConfig(const std::string& body) override
    {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
        if (!o.contains("accessKey"))
            return false;
        m_startTime = o.value("start").toInt();
        m_expiredTime = o.value("expire").toInt();
        m_region = o.value("region").toString().toStdString();
        m_appId = quint64(o.value("appId").toDouble());
        m_bucket = o.value("bucket").toString().toStdString();
        m_accessKey = o.value("accessKey").toString().toStdString();
        m_secretKey = o.value("secretKey").toString().toStdString();
        m_token = o.value("token").toString().toStdString();
        m_endpoint = o.value("endpoint").toString().toStdString();
        return true;
    }
    std::atomic<int> requests{0};

private:
    QString m_url;
};

// A record filled by hand, for the value semantics.
class PlainRecord : public IOrbCosGetConfig {
public:
    void MakeRequest(std::string&, std::string&) override {}
    bool ParseConfig(const std::string&) override { return false; }
    void set(int start, int expire)
    {
        m_startTime = start;
        m_expiredTime = expire;
        m_region = "r";
        m_secretKey = "s";
    }
};

// What an upload reported, collected on the worker thread.
struct Outcome {
    std::mutex lock;
    std::atomic<int> finishes{0};
    int error = -1;
    std::string message;
    bool finishedInside = true;
    long long lastSent = -1, lastTotal = -1;
    int progressCalls = 0;
    qint64 endedAt = 0;
};

void watch(const std::shared_ptr<OrbNetUpload>& up, const std::shared_ptr<Outcome>& o)
{
    QVERIFY(up->Async(
        [o](const std::shared_ptr<OrbNetUpload>& u) {
            std::lock_guard<std::mutex> l(o->lock);
            o->error = u->Error();
            o->message = u->ErrorMsg();
            o->finishedInside = u->IsFinish();
            o->endedAt = QDateTime::currentMSecsSinceEpoch();
            ++o->finishes;
        },
        [o](const std::shared_ptr<OrbNetUpload>&, long long sent, long long total) {
            std::lock_guard<std::mutex> l(o->lock);
            o->lastSent = sent;
            o->lastTotal = total;
            ++o->progressCalls;
        }));
}

QByteArray fileSha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result().toHex();
}

} // namespace

class TestOrbNetUpload : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    ExternalDaemon m_store;
    quint16 m_storePort = 0;
    TestHttpServer m_service;
    std::mutex m_issueLock;
    Issued m_issued;
    std::atomic<int> m_serviceMode{0};  // 0 credentials, 1 transport failure, 2 unparsable

    QString endpoint() const { return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_store.port()).arg(kBucket); }

    void issue(const Issued& i)
    {
        std::lock_guard<std::mutex> l(m_issueLock);
        m_issued = i;
    }

    QString file(const QString& name, const QByteArray& data)
    {
        const QString path = m_dir.filePath(name);
        writeFile(path, data);
        return path;
    }

    // The bodies the store's front received, by key.
    QJsonObject received()
    {
        QJsonObject byKey;
        const QJsonArray list = QJsonDocument::fromJson(orbtest::httpGet(QStringLiteral("http://127.0.0.1:%1/__uploads").arg(m_store.port()))).array();
        for (const QJsonValue& v : list)
            byKey.insert(v.toObject().value("key").toString(), v.toObject());
        return byKey;
    }

    std::shared_ptr<TestProvider> provider() { return std::make_shared<TestProvider>(m_service.url("/credentials")); }

private slots:
    void initTestCase()
    {
        clearProxyEnv();
        QVERIFY(m_dir.isValid());
        const QString peer = qEnvironmentVariable("ORB_SOURCE_DIR") + "/tests/peers/s3";
        QVERIFY2(QFile::exists(peer + "/node_modules/s3rver"), "the S3 peer is not installed: run scripts/setup.sh");
        const QString node = QStandardPaths::findExecutable("node");
        QVERIFY2(!node.isEmpty(), "node is not installed: run scripts/setup.sh");
        const quint16 front = freePort();
        m_storePort = freePort();
        QDir().mkpath(m_dir.filePath("store"));
        QVERIFY2(m_store.start(node,
                               {peer + "/server.js", "--port", QString::number(front), "--store-port",
                                QString::number(m_storePort), "--dir", m_dir.filePath("store"), "--bucket", kBucket,
                                "--access-key", kAccessKey, "--secret-key", kSecretKey, "--token", kToken},
                               front, 20000),
                 m_store.output().constData());

        QVERIFY(m_service.start(withProbes([this](const HttpRequest& r) {
            HttpReply rep;
            const int mode = m_serviceMode.load();
            if (mode == 1) {
                rep.status = 500;
                return rep;
            }
            if (mode == 2 || r.method != "POST" || r.header("content-type") != "application/json") {
                rep.body = "not credentials";
                return rep;
            }
            Issued i;
            {
                std::lock_guard<std::mutex> l(m_issueLock);
                i = m_issued;
            }
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            QJsonObject o{{"start", double(now)},        {"expire", double(now + i.expiresIn)},
                          {"region", i.region},          {"appId", 1250000000.0},
                          {"bucket", kBucket},           {"accessKey", i.accessKey},
                          {"secretKey", i.secretKey},    {"token", i.token},
                          {"endpoint", endpoint()}};
            rep.body = QJsonDocument(o).toJson(QJsonDocument::Compact);
            rep.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
            return rep;
        })));
    }

    void init()
    {
        m_serviceMode.store(0);
        issue(Issued());
    }

    void recordValues()
    {
        PlainRecord p;
        p.set(100, 820);
        QCOMPARE(p.Expire(), 720);
        PlainRecord copy(p);
        QCOMPARE(copy.Expire(), 720);
        QCOMPARE(copy.SecretKey(), std::string("s"));
        PlainRecord moved(std::move(p));
        QCOMPARE(moved.Region(), std::string("r"));
        QVERIFY(p.Region().empty());
        QVERIFY(p.SecretKey().empty());

        OrbNetConfig c;
        c.SetTimeout(42);
        OrbNetUploadReq req("pre", "/x/y.bin", c);
        QCOMPARE(req.Timeout(), 42);
        QCOMPARE(OrbNetUploadReq().Timeout(), DefaultNetConfig.Timeout());
        QCOMPARE(req.SetPrefix("a").SetLocalPath("b").SetTimeout(3).Prefix(), std::string("a"));
        OrbNetUploadReq taken(std::move(req));
        QCOMPARE(taken.LocalPath(), std::string("b"));
        QVERIFY(req.IsEmpty());
        req.SetPrefix("z");
        req = taken;  // copy into a moved-from request does nothing
        QCOMPARE(req.Prefix(), std::string());
        QCOMPARE(req.Timeout(), 0);
    }

    void objectKeys_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("key");
        QTest::newRow("plain") << "games/1" << "/tmp/a/save.dat" << "games/1/save.dat";
        QTest::newRow("trailing slash") << "games/1/" << "/tmp/a/save.dat" << "games/1/save.dat";
        QTest::newRow("leading slash") << "/games" << "save.dat" << "games/save.dat";
        QTest::newRow("no prefix") << "" << "/tmp/a/save.dat" << "save.dat";
    }

    void objectKeys()
    {
        QFETCH(QString, prefix);
        QFETCH(QString, path);
        QFETCH(QString, key);
        QCOMPARE(QString::fromStdString(OrbS3Signer::ObjectKey(prefix.toStdString(), path.toStdString())), key);
    }

    void acceptedWhileCredentialsAreGoodEndsByItsTransfer()
    {
        auto net = makeEngine();
        auto p = provider();
        net->SetCosConfig(p);
        QTRY_COMPARE_WITH_TIMEOUT(p->requests.load(), 1, 10000);
        const QByteArray data = randomBytes(300000, 11);
        const QString path = file("small.bin", data);
        auto up = net->Upload("games/1", path.toStdString());
        auto o = std::make_shared<Outcome>();
        watch(up, o);
        QTRY_COMPARE_WITH_TIMEOUT(o->finishes.load(), 1, 20000);
        QTRY_VERIFY(up->IsFinish());
        QCOMPARE(o->error, 0);
        QCOMPARE(o->message, std::string());
        QVERIFY(!o->finishedInside);
        QCOMPARE(up->RemotePath(), std::string("games/1/small.bin"));
        QCOMPARE(up->LocalPath(), path.toStdString());
        QCOMPARE(o->lastSent, qint64(data.size()));
        QCOMPARE(o->lastTotal, qint64(data.size()));
        // One fetch served both: no fetch per upload while the credentials hold.
        QCOMPARE(p->requests.load(), 1);

        const QJsonObject got = received().value("games/1/small.bin").toObject();
        QCOMPARE(got.value("size").toInt(), data.size());
        QCOMPARE(got.value("sha256").toString().toLatin1(), QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
        int status = 0;
        QCOMPARE(orbtest::httpGet(QStringLiteral("http://127.0.0.1:%1/%2/games/1/small.bin").arg(m_storePort).arg(kBucket), &status), data);
        QCOMPARE(status, 200);
        QVERIFY(up->Async(nullptr, nullptr));  // ended without error
    }

    void uploadBeforeCredentialsWaitsForThem()
    {
        auto net = makeEngine();
        const QString path = file("early.txt", "written before any credentials\n");
        auto up = net->Upload(OrbNetUploadReq("early", path.toStdString(), orbtest::loopbackConfig()));
        auto o = std::make_shared<Outcome>();
        watch(up, o);
        QTest::qWait(300);
        QCOMPARE(o->finishes.load(), 0);
        QVERIFY(!up->IsFinish());

        net->SetCosConfig(provider());
        QTRY_COMPARE_WITH_TIMEOUT(o->finishes.load(), 1, 20000);
        QCOMPARE(o->error, 0);
        QCOMPARE(received().value("early/early.txt").toObject().value("size").toInt(), 31);
    }

    void credentialFailureEndsEveryWaitingUpload_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("message");
        QTest::newRow("service fails") << 1 << "get cos config fail";
        QTest::newRow("answer not accepted") << 2 << "parse cos config error";
    }

    void credentialFailureEndsEveryWaitingUpload()
    {
        QFETCH(int, mode);
        QFETCH(QString, message);
        m_serviceMode.store(mode);
        auto net = makeEngine();
        const QString path = file("waiting.bin", "x");
        QElapsedTimer sinceCreation;
        sinceCreation.start();
        auto first = net->Upload("w", path.toStdString());
        auto second = net->Upload("w", path.toStdString());
        auto o1 = std::make_shared<Outcome>(), o2 = std::make_shared<Outcome>();
        watch(first, o1);
        watch(second, o2);
        QTest::qWait(200);
        net->SetCosConfig(provider());
        QTRY_VERIFY_WITH_TIMEOUT(o1->finishes.load() == 1 && o2->finishes.load() == 1, 20000);
        const qint64 upperBound = sinceCreation.elapsed();
        QTRY_VERIFY(first->IsFinish() && second->IsFinish());
        for (const auto& o : {o1, o2}) {
            QCOMPARE(o->error, int(NetCosConfigFailed));
            QCOMPARE(QString::fromStdString(o->message), message);
            QVERIFY2(!o->finishedInside, "the flag is set after the callback");
        }
        QCOMPARE(first->ErrorMsg(), message.toStdString());
        QVERIFY(o1->endedAt <= o2->endedAt);  // in identifier order
        QVERIFY(first->Cost() >= 200);
        QVERIFY(first->Cost() <= upperBound);
        QCOMPARE(OrbNetworkPrivate::get(net.get())->uploader->PendingCount(), size_t(0));
        QCOMPARE(QString::fromStdString(OrbNetworkPrivate::get(net.get())->uploader->LastFailure()), message);

        // Ended: callbacks are dropped uncalled and the answer is "not successful".
        std::atomic<int> called{0};
        QVERIFY(!first->Async([&called](const std::shared_ptr<OrbNetUpload>&) { ++called; },
                              [&called](const std::shared_ptr<OrbNetUpload>&, long long, long long) { ++called; }));
        QTest::qWait(100);
        QCOMPARE(called.load(), 0);
        QCOMPARE(o1->finishes.load(), 1);
    }

    void nextUploadEndsAtTheRetryThirtySecondsLater()
    {
        m_serviceMode.store(1);
        auto net = makeEngine();
        auto p = provider();
        net->SetCosConfig(p);
        QTRY_COMPARE_WITH_TIMEOUT(p->requests.load(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(OrbNetworkPrivate::get(net.get())->uploader->LastFailure()),
                                  QStringLiteral("get cos config fail"), 10000);
        QElapsedTimer sinceFailure;
        sinceFailure.start();

        auto third = net->Upload("w", file("third.bin", "3").toStdString());
        auto o = std::make_shared<Outcome>();
        watch(third, o);
        QTest::qWait(1000);
        QCOMPARE(o->finishes.load(), 0);  // waits for the retry, no fetch of its own
        QCOMPARE(p->requests.load(), 1);

        QTRY_COMPARE_WITH_TIMEOUT(o->finishes.load(), 1, 45000);
        QVERIFY2(sinceFailure.elapsed() >= 29000, qPrintable(QString::number(sinceFailure.elapsed())));
        QCOMPARE(o->error, int(NetCosConfigFailed));
        QCOMPARE(p->requests.load(), 2);
    }

    void retryThatSucceedsStartsTheWaitingUploads()
    {
        m_serviceMode.store(1);
        auto net = makeEngine();
        OrbNetworkPrivate::get(net.get())->uploader->SetRetryInterval(500);
        auto p = provider();
        net->SetCosConfig(p);
        // The service must have answered the first fetch with its failure before it heals.
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(OrbNetworkPrivate::get(net.get())->uploader->LastFailure()),
                                  QStringLiteral("get cos config fail"), 10000);
        QCOMPARE(p->requests.load(), 1);
        m_serviceMode.store(0);
        auto up = net->Upload("retry", file("retry.bin", "after a retry").toStdString());
        auto o = std::make_shared<Outcome>();
        watch(up, o);
        QTRY_COMPARE_WITH_TIMEOUT(o->finishes.load(), 1, 20000);
        QCOMPARE(o->error, 0);
        QCOMPARE(p->requests.load(), 2);
    }

    void credentialsNearExpiryAreFetchedAgain_data()
    {
        QTest::addColumn<int>("expiresIn");
        QTest::addColumn<int>("fetches");
        QTest::newRow("expiring") << 10 << 3;
        QTest::newRow("fresh") << 3600 << 1;
    }

    void credentialsNearExpiryAreFetchedAgain()
    {
        QFETCH(int, expiresIn);
        QFETCH(int, fetches);
        Issued i;
        i.expiresIn = expiresIn;
        issue(i);
        auto net = makeEngine();
        auto p = provider();
        net->SetCosConfig(p);
        QTRY_COMPARE_WITH_TIMEOUT(p->requests.load(), 1, 10000);
        QTest::qWait(200);
        for (int n = 0; n < 2; ++n) {
            auto up = net->Upload("exp", file(QStringLiteral("exp%1.bin").arg(n), "e").toStdString());
            auto o = std::make_shared<Outcome>();
            watch(up, o);
            QTRY_COMPARE_WITH_TIMEOUT(o->finishes.load(), 1, 20000);
            QCOMPARE(o->error, 0);
        }
        QCOMPARE(p->requests.load(), fetches);
    }

    void largeFileStreamsIntact()
    {
        const QString path = m_dir.filePath("big.bin");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            for (int block = 0; block < 100; ++block)
                QCOMPARE(f.write(randomBytes(1024 * 1024, quint32(block + 1))), qint64(1024 * 1024));
        }
        const qint64 size = 100LL * 1024 * 1024;
        auto net = makeEngine();
        net->SetCosConfig(provider());
        auto up = net->Upload(OrbNetUploadReq("big", path.toStdString(), orbtest::loopbackConfig()));
        auto o = std::make_shared<Outcome>();
        watch(up, o);
        QTRY_COMPARE_WITH_TIMEOUT(o->finishes.load(), 1, 240000);
        QCOMPARE(o->error, 0);
        QCOMPARE(o->lastSent, size);
        QVERIFY(o->progressCalls > 1);
        const QJsonObject got = received().value("big/big.bin").toObject();
        QCOMPARE(qint64(got.value("size").toDouble()), size);
        QCOMPARE(got.value("sha256").toString().toLatin1(), fileSha256(path));
    }

    void keyWithSpacesAndNonAscii()
    {
        auto net = makeEngine();
        net->SetCosConfig(provider());
        const QString path = file(QStringLiteral("my save ü+1.dat"), "slot");
        auto up = net->Upload("saves/player one", path.toStdString());
        auto o = std::make_shared<Outcome>();
        watch(up, o);
        QTRY_COMPARE_WITH_TIMEOUT(o->finishes.load(), 1, 20000);
        QCOMPARE(QString::fromStdString(o->message), QString());
        QCOMPARE(o->error, 0);
        QVERIFY(received().contains(QStringLiteral("saves/player one/my save ü+1.dat")));
    }

    void refusedCredentials_data()
    {
        QTest::addColumn<QString>("accessKey");
        QTest::addColumn<QString>("secretKey");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("message");
        QTest::newRow("wrong secret key") << kAccessKey << "not-the-secret" << kToken
                                          << "HTTP 403 SignatureDoesNotMatch: The request signature we calculated does not match the signature you provided";
        QTest::newRow("unknown access key") << "SOMEONEELSE" << kSecretKey << kToken << "HTTP 403 InvalidAccessKeyId: unknown access key";
        QTest::newRow("wrong token") << kAccessKey << kSecretKey << "stale" << "HTTP 403 InvalidToken: missing or wrong security token";
    }

    void refusedCredentials()
    {
        QFETCH(QString, accessKey);
        QFETCH(QString, secretKey);
        QFETCH(QString, token);
        QFETCH(QString, message);
        Issued i;
        i.accessKey = accessKey;
        i.secretKey = secretKey;
        i.token = token;
        issue(i);
        auto net = makeEngine();
        net->SetCosConfig(provider());
        auto up = net->Upload("refused", file("refused.bin", "no").toStdString());
        auto o = std::make_shared<Outcome>();
        watch(up, o);
        QTRY_COMPARE_WITH_TIMEOUT(o->finishes.load(), 1, 20000);
        QCOMPARE(o->error, int(NetUploadRefused));
        QCOMPARE(QString::fromStdString(o->message), message);
        QVERIFY(!received().contains("refused/refused.bin"));
    }

    void transferFailures_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<bool>("missing");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file") << "m" << true << int(NetFileOpenFailed) << "cannot open .*absent.bin: .+";
        QTest::newRow("server error") << "__fail500" << false << int(NetUploadRefused) << "^HTTP 500 InternalError: injected failure$";
        QTest::newRow("timeout") << "__stall" << false << int(QNetworkReply::OperationCanceledError)
                                 << "^upload timed out: no progress for 2 s$";
    }

    void transferFailures()
    {
        QFETCH(QString, prefix);
        QFETCH(bool, missing);
        QFETCH(int, error);
        QFETCH(QString, message);
        auto net = makeEngine();
        net->SetCosConfig(provider());
        const QString path = missing ? m_dir.filePath("absent.bin") : file("present.bin", "data");
        OrbNetUploadReq req(prefix.toStdString(), path.toStdString(), orbtest::loopbackConfig());
        req.SetTimeout(2);
        auto up = net->Upload(req);
        auto o = std::make_shared<Outcome>();
        watch(up, o);
        QTRY_COMPARE_WITH_TIMEOUT(o->finishes.load(), 1, 30000);
        QCOMPARE(o->error, error);
        QVERIFY2(QRegularExpression(message).match(QString::fromStdString(o->message)).hasMatch(), o->message.c_str());
    }
};

QTEST_GUILESS_MAIN(TestOrbNetUpload)
#include "tst_orbnetupload.moc"
