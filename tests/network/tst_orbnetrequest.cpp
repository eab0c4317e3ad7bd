// URL parsing and rebuilding, parameters, headers, body ownership, copy and move.
#include "OrbNetRequest.h"

#include <QtTest>
#include <memory>

using Params = std::map<std::string, std::string>;
Q_DECLARE_METATYPE(Params)

class tst_OrbNetRequest : public QObject {
    Q_OBJECT
private slots:
    void takesConfig()
    {
        OrbNetConfig c;
        c.SetProxy(ProxySocks5, "s", 1080).SetUserAgent("UA").SetTimeout(5).SetRetryCount(2).SetVerifyPeer(false);
        OrbNetRequest r(c);
        std::string host;
        int port = 0;
        QCOMPARE(int(r.GetProxy(host, port)), int(ProxySocks5));
        QCOMPARE(host, std::string("s"));
        QCOMPARE(port, 1080);
        QCOMPARE(r.UserAgent(), std::string("UA"));
        QCOMPARE(r.Timeout(), 5);
        QCOMPARE(r.RetryCount(), 2);
        QVERIFY(!r.VerifyPeer());
        QCOMPARE(int(r.Method()), int(HttpGet));
        QCOMPARE(r.SetRetryCount(-5).RetryCount(), 0);
        QCOMPARE(r.SetTimeout(-5).Timeout(), -5);
        OrbNetRequest d;  // DefaultNetConfig
        QCOMPARE(d.UserAgent(), std::string("OrbLauncher"));
        QCOMPARE(d.Timeout(), 8);
        QVERIFY(d.VerifyPeer());
    }

    void parseAndBuild_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("userInfo");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("path");
        QTest::addColumn<Params>("params");
        QTest::addColumn<QString>("fragment");
        QTest::addColumn<QString>("rebuilt");
        QTest::newRow("full") << "http://h:81/p?b=2&a=1&a=3#x" << "http" << "" << "h" << 81 << "/p"
                              << Params{{"a", "3"}, {"b", "2"}} << "x" << "http://h:81/p?a=3&b=2#x";
        QTest::newRow("sorted-keys") << "https://h/q?z=1&a=2" << "https" << "" << "h" << 0 << "/q"
                                     << Params{{"a", "2"}, {"z", "1"}} << "" << "https://h/q?a=2&z=1";
        QTest::newRow("decoded-path") << "http://h/a%20b/c" << "http" << "" << "h" << 0 << "/a b/c" << Params{}
                                      << "" << "http://h/a b/c";
        QTest::newRow("zero-port-dropped") << "http://h:0/" << "http" << "" << "h" << 0 << "/" << Params{} << ""
                                           << "http://h/";
        QTest::newRow("no-scheme") << "//h:8080/x" << "" << "" << "h" << 8080 << "/x" << Params{} << ""
                                   << "h:8080/x";
        QTest::newRow("user-info") << "ftp://u:p@h/f" << "ftp" << "u:p" << "h" << 0 << "/f" << Params{} << ""
                                   << "ftp://u:p@h/f";
        QTest::newRow("empty-value") << "http://h/?k=&j" << "http" << "" << "h" << 0 << "/"
                                     << Params{{"j", ""}, {"k", ""}} << "" << "http://h/?j=&k=";
        QTest::newRow("decoded-host") << "http://%68ost/" << "http" << "" << "host" << 0 << "/" << Params{} << ""
                                      << "http://host/";
        QTest::newRow("empty") << "" << "" << "" << "" << 0 << "" << Params{} << "" << "";
    }
    void parseAndBuild()
    {
        QFETCH(QString, url);
        QFETCH(QString, scheme);
        QFETCH(QString, userInfo);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, path);
        QFETCH(Params, params);
        QFETCH(QString, fragment);
        QFETCH(QString, rebuilt);
        OrbNetRequest r(url.toStdString(), HttpPost, "", "", OrbNetConfig());
        QCOMPARE(QString::fromStdString(r.Scheme()), scheme);
        QCOMPARE(QString::fromStdString(r.UserInfo()), userInfo);
        QCOMPARE(QString::fromStdString(r.Host()), host);
        QCOMPARE(r.Port(), port);
        QCOMPARE(QString::fromStdString(r.Path()), path);
        QCOMPARE(r.GetUrlParams(), params);
        QCOMPARE(QString::fromStdString(r.Fragment()), fragment);
        QCOMPARE(QString::fromStdString(r.Url()), rebuilt);
        QCOMPARE(int(r.Method()), int(HttpPost));
    }

    void escapedValuesComeBackUnescaped()
    {
        OrbNetRequest r;
        r.SetUrl("http://h/p?v=a%26b%3Dc&w=%E4%B8%AD", false);
        std::string v;
        QVERIFY(r.GetUrlParam("v", v));
        QCOMPARE(v, std::string("a&b=c"));
        QVERIFY(r.GetUrlParam("w", v));
        QCOMPARE(QString::fromStdString(v), QString::fromUtf8("\xE4\xB8\xAD"));
        r.ClearUrlParam().AddUrlParam("q", "1&2=3");
        QCOMPARE(r.Url(), std::string("http://h/p?q=1&2=3"));
    }

    void keepParams_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::addColumn<Params>("expected");
        QTest::newRow("keep") << true << Params{{"x", "1"}, {"y", "9"}};
        QTest::newRow("replace") << false << Params{{"x", "1"}};
    }
    void keepParams()
    {
        QFETCH(bool, keep);
        QFETCH(Params, expected);
        OrbNetRequest r;
        r.SetUrl("http://h/", false).AddUrlParam("x", "0").AddUrlParam("y", "9");
        r.SetUrl("http://g/?x=1", keep);
        QCOMPARE(r.GetUrlParams(), expected);
        QCOMPARE(r.Host(), std::string("g"));
    }

    void paramsAndHeaders()
    {
        OrbNetRequest r;
        std::string v = "untouched";
        QVERIFY(!r.GetUrlParam("a", v));
        QCOMPARE(v, std::string("untouched"));
        r.AddUrlParam("a", "1").AddUrlParam("a", "2").AddUrlParam("b", "3").DeleteUrlParam("b").DeleteUrlParam("zz");
        QCOMPARE(r.GetUrlParams(), (Params{{"a", "2"}}));
        r.AddHeader("X-A", "1").AddHeader("x-a", "2").AddHeader("X-A", "3");
        QCOMPARE(r.GetHeaders(), (Params{{"X-A", "3"}, {"x-a", "2"}}));  // names are case-sensitive
        QVERIFY(r.GetHeader("x-a", v));
        QCOMPARE(v, std::string("2"));
        r.DeleteHeader("X-A");
        QVERIFY(!r.GetHeader("X-A", v));
        r.ClearHeader();
        QVERIFY(r.GetHeaders().empty());
    }

    void bodies()
    {
        OrbNetRequest r;
        QVERIFY(r.GetBodyData() == nullptr);
        QCOMPARE(r.GetBodyLen(), 0);
        std::string body;
        QVERIFY(!r.GetBody(body));
        r.SetBody("text", "text/plain");
        QVERIFY(r.GetBody(body));
        QCOMPARE(body, std::string("text"));
        QCOMPARE(r.GetBodyLen(), 4);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.GetBodyData()), 4), QByteArray("text"));
        // Null data or a non-positive length change nothing, not even the content type.
        const unsigned char bytes[3] = {1, 2, 3};
        r.SetBody(nullptr, 3, "bin").SetBody(bytes, 0, "bin").SetBody(bytes, -1, "bin");
        QCOMPARE(r.ContentType(), std::string("text/plain"));
        QVERIFY(r.GetBody(body));
        r.SetBody(bytes, 3, "application/octet-stream");
        QVERIFY(!r.GetBody(body));
        QCOMPARE(r.GetBodyLen(), 3);
        QCOMPARE(r.ContentType(), std::string("application/octet-stream"));
        QCOMPARE(int(r.GetBodyData()[2]), 3);
        r.SetBody("", "x");
        QVERIFY(r.GetBody(body));
        QCOMPARE(r.GetBodyLen(), 0);
    }

    void byteBodyOwnership()
    {
        std::vector<unsigned char> src(64, 0xAB);
        auto a = std::make_unique<OrbNetRequest>();
        a->SetBody(src.data(), int(src.size()), "bin");
        src.assign(64, 0);  // the request copied the bytes
        OrbNetRequest copy(*a);
        OrbNetRequest assigned;
        assigned = *a;
        QVERIFY(copy.GetBodyData() != a->GetBodyData());
        a.reset();
        for (const OrbNetRequest* r : {&copy, &assigned}) {
            QCOMPARE(r->GetBodyLen(), 64);
            QCOMPARE(int(r->GetBodyData()[63]), 0xAB);
        }
        OrbNetRequest moved(std::move(copy));
        QCOMPARE(int(moved.GetBodyData()[0]), 0xAB);
        QVERIFY(copy.GetBodyData() == nullptr);
    }

    void movedFromIsEmpty()
    {
        OrbNetRequest a("http://h/p?x=1", HttpPost, "b", "t", OrbNetConfig());
        a.AddHeader("H", "v");
        OrbNetRequest b(std::move(a));
        QCOMPARE(b.Url(), std::string("http://h/p?x=1"));
        QVERIFY(a.Url().empty());
        std::string host = "h0";
        int port = 5;
        QCOMPARE(int(a.GetProxy(host, port)), int(ProxyDirect));
        a.SetUrl("http://other/", false).SetMethod(HttpPost).AddHeader("A", "1").SetTimeout(3);
        QVERIFY(a.Url().empty());
        QCOMPARE(a.Timeout(), 0);
        QCOMPARE(a.RetryCount(), 0);
        QCOMPARE(int(a.Method()), 0);
        QVERIFY(a.GetHeaders().empty());
        QVERIFY(a.GetUrlParams().empty());
        QVERIFY(a.GetBodyData() == nullptr);
        std::string v;
        QVERIFY(!a.GetHeader("H", v));
        QVERIFY(!a.GetBody(v));
        a = b;  // copy-assigning into an empty request does nothing
        QVERIFY(a.IsEmpty());
        OrbNetRequest c;
        c = std::move(b);
        QCOMPARE(c.Url(), std::string("http://h/p?x=1"));
        QVERIFY(b.IsEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetRequest)
#include "tst_orbnetrequest.moc"
