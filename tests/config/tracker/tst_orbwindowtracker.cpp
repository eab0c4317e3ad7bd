// The game window tracker over real Qt windows of this process: the search, and
// an overlay following a game window through move, resize, activation and close.

#include <QtTest>

#include "OrbUtils.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QWindow>

#include <memory>

namespace {

// A real overlay that also records what the tracker asks of it. The slots hide
// QWindow's by name, which is how the tracker addresses them.
class RecordingOverlay : public QQuickWindow {
    Q_OBJECT
public:
    QStringList calls;

public slots:
    void setWidth(int v) { calls << QStringLiteral("setWidth(%1)").arg(v); QQuickWindow::setWidth(v); }
    void setHeight(int v) { calls << QStringLiteral("setHeight(%1)").arg(v); QQuickWindow::setHeight(v); }
    void setX(int v) { calls << QStringLiteral("setX(%1)").arg(v); QQuickWindow::setX(v); }
    void setY(int v) { calls << QStringLiteral("setY(%1)").arg(v); QQuickWindow::setY(v); }
    void raise() { calls << QStringLiteral("raise"); QQuickWindow::raise(); }
    bool close() { calls << QStringLiteral("close"); return QQuickWindow::close(); }

public:
    int count(const QString& call) const { return int(calls.count(call)); }
};

// A game window that counts what reaches its own handling.
class GameWindow : public QWindow {
public:
    QHash<int, int> received;

protected:
    bool event(QEvent* e) override
    {
        ++received[e->type()];
        return QWindow::event(e);
    }
};

// Debug messages of the search, collected while a test looks.
QStringList g_messages;
QtMessageHandler g_previousHandler = nullptr;

void collectMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtDebugMsg)
        g_messages << text;
    else if (g_previousHandler)
        g_previousHandler(type, context, text);
}

} // namespace

class TestOrbWindowTracker : public QObject {
    Q_OBJECT

private:
    std::vector<std::unique_ptr<QWindow>> m_windows;

    template <typename T>
    T* make(const QString& title, const QRect& geometry = QRect(100, 100, 320, 240))
    {
        auto window = std::make_unique<T>();
        window->setTitle(title);
        window->setGeometry(geometry);
        T* raw = window.get();
        m_windows.push_back(std::move(window));
        return raw;
    }

    GameWindow* showGame(const QString& title = QStringLiteral("Game"))
    {
        GameWindow* game = make<GameWindow>(title, QRect(200, 150, 640, 480));
        game->show();
        if (!QTest::qWaitForWindowExposed(game))
            return nullptr;
        return game;
    }

    RecordingOverlay* makeOverlay(const QString& title = QString())
    {
        RecordingOverlay* overlay = make<RecordingOverlay>(title, QRect(0, 0, 50, 50));
        overlay->show();
        return overlay;
    }

    static void moveAndWait(QWindow* window, const QPoint& to)
    {
        window->setPosition(to);
        QTRY_COMPARE_WITH_TIMEOUT(window->position(), to, 5000);
    }

private slots:
    void init()
    {
        g_messages.clear();
        g_previousHandler = qInstallMessageHandler(collectMessages);
    }

    void cleanup()
    {
        OrbUtils::windowUpdaterStop();
        m_windows.clear();
        qInstallMessageHandler(g_previousHandler);
    }

    void launcherWindowIsNeverTheGame()
    {
        make<QWindow>(QStringLiteral("OrbLive"))->show();
        make<QWindow>(QString())->show();
        QCOMPARE(OrbUtils::findUnityWindow(), nullptr);
        QCOMPARE(g_messages, QStringList({QStringLiteral("无法获取窗口标题。"), QStringLiteral("无法获取窗口标题。")}));

        GameWindow* game = showGame(QStringLiteral("Unity Game"));
        QVERIFY(game);
        g_messages.clear();
        QCOMPARE(OrbUtils::findUnityWindow(), game);
        QCOMPARE(g_messages.last(), QStringLiteral("窗口标题: Unity Game"));
    }

    void titleIsReportedAsTheWindowHasIt()
    {
        GameWindow* game = showGame(QStringLiteral("游戏 Game"));
        QVERIFY(game);
        QCOMPARE(OrbUtils::findUnityWindow(), game);
        QCOMPARE(g_messages, QStringList{QStringLiteral("窗口标题: 游戏 Game")});
    }

    void startWithoutGameTracksNothingUntilOneExists()
    {
        RecordingOverlay* overlay = makeOverlay(QStringLiteral("Overlay"));
        OrbUtils::windowUpdaterStart(overlay);
        // The overlay's own title does not make it the game.
        QVERIFY(!g_messages.contains(QStringLiteral("窗口标题: Overlay")));

        GameWindow* game = showGame();
        QVERIFY(game);
        moveAndWait(game, QPoint(260, 170));
        QVERIFY(overlay->calls.isEmpty());

        // Still idle, so the next start searches again and finds it.
        OrbUtils::windowUpdaterStart(overlay);
        moveAndWait(game, QPoint(280, 190));
        QTRY_COMPARE_WITH_TIMEOUT(overlay->geometry(), game->geometry(), 5000);
    }

    void moveLaysOverlayOnClientArea()
    {
        GameWindow* game = showGame();
        QVERIFY(game);
        RecordingOverlay* overlay = makeOverlay();
        OrbUtils::windowUpdaterStart(overlay);

        const int movesBefore = game->received.value(QEvent::Move);
        moveAndWait(game, QPoint(333, 222));
        QTRY_COMPARE_WITH_TIMEOUT(overlay->geometry(), game->geometry(), 5000);
        const QRect area = game->geometry();
        const QStringList expected{QStringLiteral("setWidth(%1)").arg(area.width()),
                                   QStringLiteral("setHeight(%1)").arg(area.height()),
                                   QStringLiteral("setX(%1)").arg(area.x()),
                                   QStringLiteral("setY(%1)").arg(area.y())};
        QCOMPARE(overlay->calls.mid(overlay->calls.size() - 4), expected);
        // The game still learns that it moved.
        QVERIFY(game->received.value(QEvent::Move) > movesBefore);
    }

    void resizeReachesGameAndOverlay()
    {
        GameWindow* game = showGame();
        QVERIFY(game);
        RecordingOverlay* overlay = makeOverlay();
        OrbUtils::windowUpdaterStart(overlay);

        const int resizesBefore = game->received.value(QEvent::Resize);
        game->resize(800, 600);
        QTRY_COMPARE_WITH_TIMEOUT(game->size(), QSize(800, 600), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(overlay->size(), QSize(800, 600), 5000);
        QCOMPARE(overlay->geometry(), game->geometry());
        QVERIFY(game->received.value(QEvent::Resize) > resizesBefore);
    }

    void raisingEvents_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("activate") << int(QEvent::WindowActivate);
        QTest::newRow("focus") << int(QEvent::FocusIn);
        QTest::newRow("cursor") << int(QEvent::Enter);
    }

    void raisingEvents()
    {
        QFETCH(int, type);
        GameWindow* game = showGame();
        QVERIFY(game);
        RecordingOverlay* overlay = makeOverlay();
        OrbUtils::windowUpdaterStart(overlay);

        const int before = game->received.value(type);
        std::unique_ptr<QEvent> event;
        if (type == QEvent::FocusIn)
            event = std::make_unique<QFocusEvent>(QEvent::FocusIn);
        else if (type == QEvent::Enter)
            event = std::make_unique<QEnterEvent>(QPointF(5, 5), QPointF(5, 5), QPointF(205, 155));
        else
            event = std::make_unique<QEvent>(QEvent::Type(type));
        QCoreApplication::sendEvent(game, event.get());
        QCOMPARE(overlay->count(QStringLiteral("raise")), 1);
        QCOMPARE(game->received.value(type), before + 1);
    }

    void realActivationRaisesOverlay()
    {
        GameWindow* game = showGame();
        QVERIFY(game);
        RecordingOverlay* overlay = makeOverlay();
        overlay->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(overlay));
        OrbUtils::windowUpdaterStart(overlay);

        game->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(game));
        QTRY_VERIFY_WITH_TIMEOUT(overlay->count(QStringLiteral("raise")) >= 1, 5000);
        QVERIFY(game->received.value(QEvent::WindowActivate) >= 1);
    }

    void closeClosesOverlayAndUnhooksFirst()
    {
        GameWindow* game = showGame();
        QVERIFY(game);
        RecordingOverlay* overlay = makeOverlay();
        QVERIFY(overlay->isVisible());
        OrbUtils::windowUpdaterStart(overlay);

        QVERIFY(game->close());
        QCOMPARE(overlay->count(QStringLiteral("close")), 1);
        QVERIFY(!overlay->isVisible());
        QCOMPARE(game->received.value(QEvent::Close), 1);

        // Unhooked: the game window no longer drives the overlay.
        overlay->calls.clear();
        game->show();
        QVERIFY(QTest::qWaitForWindowExposed(game));
        moveAndWait(game, QPoint(410, 310));
        QVERIFY(overlay->calls.isEmpty());

        // Still counted as tracked: a start only takes the overlay, until a stop.
        OrbUtils::windowUpdaterStart(overlay);
        moveAndWait(game, QPoint(420, 320));
        QVERIFY(overlay->calls.isEmpty());
        OrbUtils::windowUpdaterStop();
        OrbUtils::windowUpdaterStart(overlay);
        moveAndWait(game, QPoint(430, 330));
        QTRY_COMPARE_WITH_TIMEOUT(overlay->geometry(), game->geometry(), 5000);
    }

    void stopReturnsToIdle()
    {
        GameWindow* game = showGame();
        QVERIFY(game);
        RecordingOverlay* overlay = makeOverlay();
        OrbUtils::windowUpdaterStart(overlay);
        moveAndWait(game, QPoint(300, 300));
        QTRY_COMPARE_WITH_TIMEOUT(overlay->geometry(), game->geometry(), 5000);

        OrbUtils::windowUpdaterStop();
        overlay->calls.clear();
        moveAndWait(game, QPoint(350, 350));
        game->resize(500, 400);
        QTRY_COMPARE_WITH_TIMEOUT(game->size(), QSize(500, 400), 5000);
        QCoreApplication::processEvents();
        QVERIFY(overlay->calls.isEmpty());
        // A second stop is harmless.
        OrbUtils::windowUpdaterStop();

        // Idle again: a start searches and hooks anew.
        g_messages.clear();
        OrbUtils::windowUpdaterStart(overlay);
        QVERIFY(g_messages.contains(QStringLiteral("窗口标题: Game")));
        moveAndWait(game, QPoint(360, 360));
        QTRY_COMPARE_WITH_TIMEOUT(overlay->geometry(), game->geometry(), 5000);
    }

    void secondStartOnlyExchangesOverlay()
    {
        GameWindow* game = showGame();
        QVERIFY(game);
        RecordingOverlay* first = makeOverlay();
        RecordingOverlay* second = makeOverlay();
        OrbUtils::windowUpdaterStart(first);

        g_messages.clear();
        OrbUtils::windowUpdaterStart(second);
        QVERIFY2(g_messages.isEmpty(), "a start while tracking must not search again");
        moveAndWait(game, QPoint(250, 260));
        QTRY_COMPARE_WITH_TIMEOUT(second->geometry(), game->geometry(), 5000);
        QVERIFY(first->calls.isEmpty());

        // A null overlay while tracking: events address nothing.
        OrbUtils::windowUpdaterStart(nullptr);
        second->calls.clear();
        moveAndWait(game, QPoint(270, 280));
        QCoreApplication::sendEvent(game, std::make_unique<QEvent>(QEvent::WindowActivate).get());
        QVERIFY(second->calls.isEmpty());
        QVERIFY(first->calls.isEmpty());

        // ... and tracking resumes with the next overlay.
        OrbUtils::windowUpdaterStart(first);
        moveAndWait(game, QPoint(290, 300));
        QTRY_COMPARE_WITH_TIMEOUT(first->geometry(), game->geometry(), 5000);
    }

    void destroyedOverlayIsNotAddressed()
    {
        GameWindow* game = showGame();
        QVERIFY(game);
        auto overlay = std::make_unique<RecordingOverlay>();
        OrbUtils::windowUpdaterStart(overlay.get());
        overlay.reset();
        moveAndWait(game, QPoint(211, 212));
        QVERIFY(game->close());
    }

    void updateWindowPositionOnce()
    {
        GameWindow* game = showGame();
        QVERIFY(game);
        RecordingOverlay* overlay = makeOverlay();
        OrbUtils::updateWindowPosition(overlay, nullptr);
        QVERIFY(overlay->calls.isEmpty());
        OrbUtils::updateWindowPosition(overlay, game);
        QCOMPARE(overlay->calls.size(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(overlay->geometry(), game->geometry(), 5000);
        // Once only: no hook was left behind.
        overlay->calls.clear();
        moveAndWait(game, QPoint(123, 124));
        QVERIFY(overlay->calls.isEmpty());
    }
};

int main(int argc, char** argv)
{
    // Software scene graph: the overlays render without a GPU.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication app(argc, argv);
    TestOrbWindowTracker test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_orbwindowtracker.moc"
