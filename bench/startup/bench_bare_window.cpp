// The reference for the launcher's start-up: a bare Qt Quick window of the
// launcher's size holding one WebEngineView on the given page. It prints the
// time of its first frame the way the launcher logs it, then ends.
//
// Built with ORB_BARE_FLOOR it also carries what the launcher cannot start
// without: a QApplication (the tray icon and folder dialog need widgets) and
// the libobs util library (settings files and the log), read once before the
// window is made, as the launcher's first component does.
#include <QDateTime>
#include <QGuiApplication>
#ifdef ORB_BARE_FLOOR
#  include <QApplication>
#  include <util/bmem.h>
#  include <util/platform.h>
#endif
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>
#include <QUrl>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <cstdio>

int main(int argc, char** argv)
{
    QtWebEngineQuick::initialize();
#ifdef ORB_BARE_FLOOR
    QApplication app(argc, argv);
    bfree(os_get_executable_path_ptr("config"));
#else
    QGuiApplication app(argc, argv);
#endif
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_bare_window URL\n");
        return 2;
    }
    const QByteArray scene =
        "import QtQuick\nimport QtQuick.Window\nimport QtWebEngine\n"
        "Window { width: 1350; height: 760; visible: true; title: \"bare\"; color: \"#1b1d23\"\n"
        "  flags: Qt.Window | Qt.FramelessWindowHint\n"
        "  WebEngineView { anchors.fill: parent; url: \"" + QUrl(args.at(1)).toEncoded() + "\" } }\n";
    QQmlApplicationEngine engine;
    engine.loadData(scene);
    if (engine.rootObjects().isEmpty())
        return 1;
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (!window)
        return 1;
    QObject::connect(window, &QQuickWindow::frameSwapped, &app, [&app]() {
        const qint64 at = QDateTime::currentMSecsSinceEpoch();
        std::printf("first frame shown at %lld ms since the epoch\n", static_cast<long long>(at));
        std::fflush(stdout);
        QMetaObject::invokeMethod(&app, [] { QTimer::singleShot(200, qApp, &QCoreApplication::quit); },
                                  Qt::QueuedConnection);
    }, Qt::ConnectionType(Qt::DirectConnection | Qt::SingleShotConnection));
    return app.exec();
}
