#include "ui/QmlLiveHost.h"

#include "ui/QmlLiveEngine.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QQmlContext>

namespace {

// The console the message handler writes to; messages come from any thread.
QMutex g_consoleMutex;
QPointer<QObject> g_console;
QtMessageHandler g_previousHandler = nullptr;
thread_local bool t_inHandler = false;

QString colourFor(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("#606060");
    case QtInfoMsg:
        return QStringLiteral("#1b7f3b");
    case QtWarningMsg:
        return QStringLiteral("#c77c00");
    case QtCriticalMsg:
    case QtFatalMsg:
        return QStringLiteral("#d02020");
    }
    return QString();
}

void toConsole(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (g_previousHandler)
        g_previousHandler(type, context, text);
    if (t_inHandler)
        return;
    t_inHandler = true;
    // The scene's own console lines are rich text on purpose; everything else
    // is shown as the plain text it is.
    const QLatin1String category(context.category ? context.category : "");
    const bool fromScene = category == QLatin1String("qml") || category == QLatin1String("js");
    const QString body = fromScene ? text : text.toHtmlEscaped();
    const QString line =
        QStringLiteral("<span style=\"color:%1\">%2</span>").arg(colourFor(type), body);
    {
        QMutexLocker lock(&g_consoleMutex);
        if (g_console)
            QMetaObject::invokeMethod(g_console.data(), "append", Qt::QueuedConnection,
                                      Q_ARG(QString, line));
    }
    t_inHandler = false;
}

} // namespace

QmlLiveHost::QmlLiveHost(QObject* parent) : QObject(parent) {}

QmlLiveHost::~QmlLiveHost()
{
    {
        QMutexLocker lock(&g_consoleMutex);
        g_console.clear();
    }
    // The engine restores the default handler as it goes.
    delete m_engine;
    m_engine = nullptr;
}

QObject* QmlLiveHost::scene() const
{
    if (!m_engine || m_engine->rootObjects().isEmpty())
        return nullptr;
    return m_engine->rootObjects().constFirst();
}

QString QmlLiveHost::mainDocumentFor(const QString& path)
{
    if (path.isEmpty())
        return QString();
    const QFileInfo info(path);
    if (info.isDir())
        return QDir(info.absoluteFilePath()).filePath(QStringLiteral("main.qml"));
    return QDir::fromNativeSeparators(info.absoluteFilePath());
}

bool QmlLiveHost::start(const QString& mainQml)
{
    if (m_engine)
        return scene() != nullptr;
    m_engine = new QmlLiveEngine();
    m_engine->rootContext()->setContextProperty(QStringLiteral("$Engine"), m_engine);
    m_engine->load(QUrl(QStringLiteral("qrc:/qml/debug.qml")));
    QObject* root = scene();
    if (!root)
        return false;
    m_engine->setReloadTarget(root);

    if (QObject* console = root->findChild<QObject*>(QStringLiteral("_console"))) {
        QMutexLocker lock(&g_consoleMutex);
        g_console = console;
        g_previousHandler = qInstallMessageHandler(toConsole);
    }

    const QString document = mainDocumentFor(mainQml);
    // Watching starts at the document's folder and covers everything below it:
    // a mistyped path must not set a whole parent tree under watch.
    if (!document.isEmpty() && !QFileInfo(document).isFile())
        qWarning().noquote() << "No QML document at" << document;
    else if (!document.isEmpty())
        QMetaObject::invokeMethod(root, "_loadMaimPage", Q_ARG(QVariant, document));
    return true;
}
