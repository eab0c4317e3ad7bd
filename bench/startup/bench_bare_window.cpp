// The reference for the launcher's start-up: a bare Qt Quick window of the
// launcher's size holding one WebEngineView on the given page. It prints the
// time of its first frame the way the launcher logs it, then ends.
#include <QDateTime>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>
#include <QUrl>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <atomic>
#include <cstdio>

int main(int argc, char** argv)
{
    QtWebEngineQuick::initialize();
    QGuiApplication app(argc, argv);
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
    std::atomic_bool seen{false};
    QObject::connect(window, &QQuickWindow::frameSwapped, &app, [&seen, &app]() {
        if (seen.exchange(true))
            return;
        const qint64 at = QDateTime::currentMSecsSinceEpoch();
        std::printf("first frame shown at %lld ms since the epoch\n", static_cast<long long>(at));
        std::fflush(stdout);
        QMetaObject::invokeMethod(&app, [] { QTimer::singleShot(200, qApp, &QCoreApplication::quit); },
                                  Qt::QueuedConnection);
    }, Qt::DirectConnection);
    return app.exec();
}
