// The default resolver's refusals that must not send any query at all.
#include "OrbDnsResolver.h"

#include <QObject>
#include <QtTest>

class tst_OrbDnsResolver : public QObject {
    Q_OBJECT
private slots:
    void answersAtOnceWithoutQuery_data()
    {
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("pub");
        QTest::addColumn<int>("index");
        QTest::newRow("no-public-resolver") << "127.0.0.1" << "" << 1;
        QTest::newRow("unparsable-system") << "not-an-address" << "127.0.0.1" << 0;
        QTest::newRow("unparsable-public") << "127.0.0.1" << "also.not" << 1;
    }
    void answersAtOnceWithoutQuery()
    {
        QFETCH(QString, system);
        QFETCH(QString, pub);
        QFETCH(int, index);
        auto r = MakeOrbDnsResolver(system.toStdString(), pub.toStdString());
        QObject ctx;
        int calls = 0;
        bool ok = true;
        r->Lookup("orb.test", index, &ctx, [&](bool good, const QStringList& addrs) {
            ++calls;
            ok = good;
            QVERIFY(addrs.isEmpty());
        });
        QCOMPARE(calls, 1);  // synchronously, before any lookup object exists
        QVERIFY(!ok);
        QVERIFY(ctx.children().isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_OrbDnsResolver)
#include "tst_orbdnsresolver.moc"
