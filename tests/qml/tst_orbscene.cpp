// Runs the scene's Qt Quick Test suites with a test double published as
// "ContextViewLauncher" in every engine.
#include <QApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include "FakeViewLauncher.h"

class SceneTestSetup : public QObject {
    Q_OBJECT

public:
    SceneTestSetup()
    {
        // WebEngine must be set up before the application object; the program
        // itself runs on a QApplication (the tray icon needs it).
        QtWebEngineQuick::initialize();
        static int argc = 1;
        static char name[] = "tst_orbscene";
        static char* argv[] = {name, nullptr};
        m_app = new QApplication(argc, argv);
    }

public slots:
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->rootContext()->setContextProperty(QStringLiteral("ContextViewLauncher"), new FakeViewLauncher(engine));
    }

private:
    QApplication* m_app = nullptr;
};

QUICK_TEST_MAIN_WITH_SETUP(orbscene, SceneTestSetup)

#include "tst_orbscene.moc"
