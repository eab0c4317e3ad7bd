#include "core/ComponentRegister.h"
#include "OrbTestLog.h"
#include "core/ComponentRegistry.h"
#include "core/IOrbLog.h"
#include "services/installer/IOrbArchieve.h"
#include "model/IOrbModel.h"
#include "model/OrbModel.h"

#include "OrbTestCapture.h"

#include <QtTest>

#include <thread>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_events;

QStringList events()
{
    QStringList list;
    for (const auto& e : g_events)
        list << QString::fromStdString(e);
    return list;
}

class FakeComponent : public IComponent {
public:
    explicit FakeComponent(std::string name) : m_name(std::move(name)) { g_events.push_back("new " + m_name); }
    ~FakeComponent() override { g_events.push_back("delete " + m_name); }
    void Init() override { g_events.push_back("init " + m_name); }
    void Uninit() override { g_events.push_back("uninit " + m_name); }
    std::string GetName() override { return m_name; }

private:
    std::string m_name;
};

IOrbLog* makeLog()
{
    return new OrbTestLog([](const char* what) { g_events.push_back(std::string(what) + " log"); });
}

class ThrowingComponent : public FakeComponent {
public:
    ThrowingComponent() : FakeComponent("Throwing") {}
    void Init() override
    {
        FakeComponent::Init();
        throw std::runtime_error("game name is empty");
    }
};

template <class Make>
ComponentRegister::ComponentFactory fake(Make make)
{
    return [make] { return static_cast<IComponent*>(make()); };
}

} // namespace

class tst_ComponentRegister : public QObject {
    Q_OBJECT
private slots:
    void init() { g_events.clear(); }

    void initAndShutdownFollowRegistrationOrder()
    {
        {
            ComponentRegister reg;
            reg.RegisterLog("OrbLogImpl", makeLog);
            for (const char* name : {"A", "B", "C"})
                reg.Register(name, fake([name] { return new FakeComponent(name); }));
            reg.InitAll();
        }
        const QStringList expected = {
            "new log", "new A", "new B", "new C", "init log", "init A", "init B",
            "init C",    "uninit log", "uninit A", "uninit B", "uninit C",
        };
        QStringList seen = events();
        QCOMPARE(seen.mid(0, expected.size()), expected);
        // Every Uninit comes before the first destruction; the log component goes last.
        QStringList deleted = seen.mid(expected.size());
        QCOMPARE(deleted.takeLast(), QString("delete log"));
        deleted.sort();
        QCOMPARE(deleted, QStringList({"delete A", "delete B", "delete C"}));
    }

    void aTakenNameIsNeitherCreatedNorListedTwice()
    {
        ComponentRegister reg;
        reg.Register("A", fake([] { return new FakeComponent("A"); }));
        reg.Register("A", fake([] { return new FakeComponent("A2"); }));
        QCOMPARE(reg.Components().size(), size_t(1));
        QCOMPARE(events(), QStringList({"new A"}));
    }

    void shutdownWritesItsMessage()
    {
        OrbTestCapture out(stdout);
        {
            ComponentRegister reg;
            reg.Register("A", fake([] { return new FakeComponent("A"); }));
        }
        QVERIFY(out.take().contains("~ComponentRegister called\n"));
    }

    void aFailingInitReachesTheCallerAndTeardownStillRuns()
    {
        {
            ComponentRegister reg;
            reg.Register("A", fake([] { return new FakeComponent("A"); }));
            reg.Register("T", fake([] { return new ThrowingComponent(); }));
            reg.Register("Z", fake([] { return new FakeComponent("Z"); }));
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, reg.InitAll());
        }
        QVERIFY(std::find(g_events.begin(), g_events.end(), "init Z") == g_events.end());
        QVERIFY(std::find(g_events.begin(), g_events.end(), "delete Z") != g_events.end());
        QVERIFY(std::find(g_events.begin(), g_events.end(), "delete Throwing") != g_events.end());
    }

    void lookupIsCachedAndResetByTheComponent()
    {
        QCOMPARE(GetComponent<IOrbModel>("OrbModel"), nullptr);
        IOrbModel* first = nullptr;
        {
            ComponentRegister reg;
            reg.Register<OrbModel>("OrbModel");
            first = GetComponent<IOrbModel>("OrbModel");
            QVERIFY(first);
            QCOMPARE(GetComponent<IOrbModel>("OrbModel"), first);
            QCOMPARE(first->GetName(), std::string("OrbModel"));
            // Another interface type is its own lookup; a model is no installer.
            QCOMPARE(GetComponent<IOrbArchieve>("OrbModel"), nullptr);
        }
        // The model's destructor cleared the cache; the maps are empty now.
        QCOMPARE(GetComponent<IOrbModel>("OrbModel"), nullptr);
    }

    void logLookupSearchesOnlyTheLogMap()
    {
        ComponentRegister reg;
        reg.Register("OrbLogImpl", fake([] { return new FakeComponent("OrbLogImpl"); }));
        QCOMPARE(GetComponent<IOrbLog>("OrbLogImpl"), nullptr);
        reg.RegisterLog("OrbLogImpl", makeLog);
        QVERIFY(GetComponent<IOrbLog>("OrbLogImpl") != nullptr);
    }

    void concurrentLookupsAgree()
    {
        ComponentRegister reg;
        reg.Register<OrbModel>("OrbModel");
        std::vector<IOrbModel*> seen(8, nullptr);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < seen.size(); ++i)
            threads.emplace_back([&seen, i] {
                for (int n = 0; n < 1000; ++n)
                    seen[i] = GetComponent<IOrbModel>("OrbModel");
            });
        for (auto& t : threads)
            t.join();
        for (IOrbModel* p : seen)
            QCOMPARE(p, seen.front());
        QVERIFY(seen.front());
    }

    // A library may end the process with exit() from one of its threads while the
    // program runs (Qt WebEngine does when Chromium cannot start). The live
    // components must not be torn down from the exit handlers then: on that thread
    // their Qt objects crash (the launcher's QML engine did).
    void exitFromAnotherThreadLeavesLiveComponentsAlone()
    {
        QProcess child;
        child.start(QStringLiteral(ORB_EXIT_CHILD), {});
        QVERIFY(child.waitForFinished(20000));
        const QByteArray out = child.readAllStandardOutput();
        QVERIFY2(out.contains("running"), out.constData());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 3);
        QVERIFY2(!out.contains("destroyed"), out.constData());
    }
};

QTEST_GUILESS_MAIN(tst_ComponentRegister)
#include "tst_componentregister.moc"
