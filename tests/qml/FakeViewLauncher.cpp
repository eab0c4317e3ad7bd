#include "FakeViewLauncher.h"

#include <QJSValue>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QWindow>

FakeViewLauncher::FakeViewLauncher(QObject* parent)
    : QObject(parent)
{
}

FakeViewLauncher::~FakeViewLauncher()
{
    destroyWindow();
}

void FakeViewLauncher::record(const QString& method, const QVariantList& args) const
{
    m_calls.append({method, args});
}

QVariant FakeViewLauncher::answer(const QString& method, const QVariant& fallback) const
{
    return m_answers.value(method, fallback);
}

// An answer is either one value for every argument, or a map keyed by the
// argument with "*" for any other.
QVariant FakeViewLauncher::answerFor(const QString& method, const QString& key, const QVariant& fallback) const
{
    const QVariant value = m_answers.value(method);
    if (!value.isValid())
        return fallback;
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        return map.value(key, map.value(QStringLiteral("*"), fallback));
    }
    return value;
}

void FakeViewLauncher::DownLoadBtnClick(QString path)
{
    record(QStringLiteral("DownLoadBtnClick"), {path});
    emit sigDownLoadBtnClicked(path);
}

float FakeViewLauncher::GetPathCapacity(QString path)
{
    record(QStringLiteral("GetPathCapacity"), {path});
    return answerFor(QStringLiteral("GetPathCapacity"), path, 100.0).toFloat();
}

int FakeViewLauncher::GetDownLoadFileSize()
{
    record(QStringLiteral("GetDownLoadFileSize"));
    return answer(QStringLiteral("GetDownLoadFileSize"), 31).toInt();
}

void FakeViewLauncher::SetDownloadStatus(bool status)
{
    record(QStringLiteral("SetDownloadStatus"), {status});
    emit sigSetDownloadStatus(status);
}

void FakeViewLauncher::StartInstall()
{
    record(QStringLiteral("StartInstall"));
    emit sigStartInstallGame();
}

void FakeViewLauncher::StartPlay()
{
    record(QStringLiteral("StartPlay"));
    emit sigStartPlayGame();
}

void FakeViewLauncher::CloseAllGames()
{
    record(QStringLiteral("CloseAllGames"));
    emit sigCloseAllGames();
}

void FakeViewLauncher::UpdateCheckStart()
{
    record(QStringLiteral("UpdateCheckStart"));
    emit sigUpdateCheckStart();
}

void FakeViewLauncher::LauncherUpdateStart()
{
    record(QStringLiteral("LauncherUpdateStart"));
    emit sigLauncherUpdateStart();
}

void FakeViewLauncher::LauncherInstall()
{
    record(QStringLiteral("LauncherInstall"));
    emit sigLauncherInstall();
}

bool FakeViewLauncher::IsDownloadStart() const
{
    record(QStringLiteral("IsDownloadStart"));
    return answer(QStringLiteral("IsDownloadStart"), false).toBool();
}

bool FakeViewLauncher::IsDownloadFinish() const
{
    record(QStringLiteral("IsDownloadFinish"));
    return answer(QStringLiteral("IsDownloadFinish"), false).toBool();
}

bool FakeViewLauncher::IsInstall() const
{
    record(QStringLiteral("IsInstall"));
    return answer(QStringLiteral("IsInstall"), false).toBool();
}

bool FakeViewLauncher::IsOpenMore() const
{
    record(QStringLiteral("IsOpenMore"));
    return answer(QStringLiteral("IsOpenMore"), false).toBool();
}

bool FakeViewLauncher::IsValidPath(QString path) const
{
    record(QStringLiteral("IsValidPath"), {path});
    return answerFor(QStringLiteral("IsValidPath"), path, !path.isEmpty()).toBool();
}

QString FakeViewLauncher::GetWebViewUrl() const
{
    record(QStringLiteral("GetWebViewUrl"));
    return answer(QStringLiteral("GetWebViewUrl"), QString()).toString();
}

QString FakeViewLauncher::GetInstallPath() const
{
    record(QStringLiteral("GetInstallPath"));
    return answer(QStringLiteral("GetInstallPath"), QString()).toString();
}

void FakeViewLauncher::SetInstallPath(QString path)
{
    record(QStringLiteral("SetInstallPath"), {path});
}

QString FakeViewLauncher::GetVersionContent() const
{
    record(QStringLiteral("GetVersionContent"));
    return answer(QStringLiteral("GetVersionContent"), QStringLiteral("1.0.2")).toString();
}

QString FakeViewLauncher::GetInstallGameInfo() const
{
    record(QStringLiteral("GetInstallGameInfo"));
    return answer(QStringLiteral("GetInstallGameInfo"), QStringLiteral("Valdane1.0")).toString();
}

int FakeViewLauncher::GetDiskSpace()
{
    record(QStringLiteral("GetDiskSpace"));
    return answer(QStringLiteral("GetDiskSpace"), 100).toInt();
}

double FakeViewLauncher::GetDevicePixelRatio()
{
    record(QStringLiteral("GetDevicePixelRatio"));
    return answer(QStringLiteral("GetDevicePixelRatio"), 1.0).toDouble();
}

QString FakeViewLauncher::GetGameNickName()
{
    record(QStringLiteral("GetGameNickName"));
    return answer(QStringLiteral("GetGameNickName"), QStringLiteral("Valdane")).toString();
}

QPointF FakeViewLauncher::cursonPos()
{
    record(QStringLiteral("cursonPos"));
    return answer(QStringLiteral("cursonPos"), QPointF()).toPointF();
}

void FakeViewLauncher::setAnswer(const QString& method, const QVariant& value)
{
    // QML hands maps and lists over as JS values.
    QVariant plain = value;
    if (plain.canConvert<QJSValue>())
        plain = plain.value<QJSValue>().toVariant();
    m_answers.insert(method, plain);
}

void FakeViewLauncher::clearAnswers()
{
    m_answers.clear();
}

int FakeViewLauncher::callCount(const QString& method) const
{
    int n = 0;
    for (const auto& call : m_calls)
        n += call.first == method ? 1 : 0;
    return n;
}

QVariantList FakeViewLauncher::callArgs(const QString& method) const
{
    QVariantList all;
    for (const auto& call : m_calls) {
        if (call.first == method)
            all.append(QVariant(call.second));
    }
    return all;
}

QStringList FakeViewLauncher::calls() const
{
    QStringList names;
    for (const auto& call : m_calls)
        names.append(call.first);
    return names;
}

void FakeViewLauncher::clearCalls()
{
    m_calls.clear();
}

// The window gets an engine of its own, as in the program, so that its
// Qt.quit() reaches this double instead of ending the test run.
QObject* FakeViewLauncher::createWindow(const QString& url)
{
    destroyWindow();
    m_windowErrors.clear();
    m_quitRequests = 0;
    m_lastQuitClosedWindow = false;
    m_engine = new QQmlEngine;
    m_engine->rootContext()->setContextProperty(QStringLiteral("ContextViewLauncher"), this);
    connect(m_engine, &QQmlEngine::quit, this, &FakeViewLauncher::onEngineQuit, Qt::QueuedConnection);
    QQmlComponent component(m_engine, QUrl(url));
    QObject* window = component.create();
    if (!window) {
        for (const auto& error : component.errors())
            m_windowErrors.append(error.toString());
        qWarning("%s", qPrintable(m_windowErrors.join(QLatin1Char('\n'))));
        return nullptr;
    }
    QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
    m_window = window;
    return window;
}

void FakeViewLauncher::destroyWindow()
{
    delete m_window.data();
    m_window = nullptr;
    delete m_engine;
    m_engine = nullptr;
}

QObject* FakeViewLauncher::findInWindow(const QString& objectName) const
{
    if (!m_window)
        return nullptr;
    if (m_window->objectName() == objectName)
        return m_window.data();
    return m_window->findChild<QObject*>(objectName);
}

// An application quit asks every window to close; the window's closing rule may refuse.
void FakeViewLauncher::onEngineQuit()
{
    ++m_quitRequests;
    auto* window = qobject_cast<QWindow*>(m_window.data());
    m_lastQuitClosedWindow = window ? window->close() : false;
    emit quitHandled();
}
