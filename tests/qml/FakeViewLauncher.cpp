#include "FakeViewLauncher.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJSValue>
#include <QMetaMethod>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QWindow>

FakeViewLauncher::FakeViewLauncher(QObject* parent)
{
    setParent(parent);
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

QString FakeViewLauncher::NearestExistingFolder(QString path) const
{
    record(QStringLiteral("NearestExistingFolder"), {path});
    return answerFor(QStringLiteral("NearestExistingFolder"), path, path).toString();
}

bool FakeViewLauncher::IsRepairAvailable() const
{
    record(QStringLiteral("IsRepairAvailable"));
    return answer(QStringLiteral("IsRepairAvailable"), false).toBool();
}

void FakeViewLauncher::VerifyAndRepair()
{
    record(QStringLiteral("VerifyAndRepair"));
    emit sigVerifyAndRepair();
}

bool FakeViewLauncher::IsCreatablePath(QString path) const
{
    record(QStringLiteral("IsCreatablePath"), {path});
    return answerFor(QStringLiteral("IsCreatablePath"), path, false).toBool();
}

void FakeViewLauncher::setFlags(const QVariant& flags)
{
    QVariant plain = flags;
    if (plain.canConvert<QJSValue>())
        plain = plain.value<QJSValue>().toVariant();
    const QVariantMap map = plain.toMap();
    static const QList<QPair<QString, QString>> keys = {
        {QStringLiteral("IsDownloadStart"), QStringLiteral("IsDownloadStart")},
        {QStringLiteral("IsDownloadFinish"), QStringLiteral("IsDownloadFinish")},
        {QStringLiteral("IsInstallGmae"), QStringLiteral("IsInstall")},
        {QStringLiteral("IsUpdateGmaeHint"), QStringLiteral("IsUpdateGmaeHint")},
    };
    for (const auto& key : keys) {
        if (map.contains(key.first))
            m_answers.insert(key.second, map.value(key.first).toBool());
    }
}

bool FakeViewLauncher::emitSignal(const QString& name, const QVariant& args)
{
    QVariant plain = args;
    if (plain.canConvert<QJSValue>())
        plain = plain.value<QJSValue>().toVariant();
    const QVariantList values = plain.isValid() ? plain.toList() : QVariantList();
    if (values.size() > 10)
        return false;
    const QMetaObject* mo = metaObject();
    for (int i = 0; i < mo->methodCount(); ++i) {
        const QMetaMethod method = mo->method(i);
        if (method.methodType() != QMetaMethod::Signal || QString::fromLatin1(method.name()) != name
            || method.parameterCount() != values.size())
            continue;
        QVariantList converted;
        for (int p = 0; p < values.size(); ++p) {
            QVariant value = values[p];
            if (!value.convert(method.parameterMetaType(p))) {
                qWarning("emitSignal %s: argument %d does not fit", qPrintable(name), p);
                return false;
            }
            converted.append(value);
        }
        QGenericArgument a[10];
        for (int p = 0; p < converted.size(); ++p)
            a[p] = QGenericArgument(method.parameterTypeName(p).constData(), converted[p].constData());
        return method.invoke(this, Qt::DirectConnection, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
    }
    qWarning("emitSignal: no signal %s with %d arguments", qPrintable(name), int(values.size()));
    return false;
}

QVariantList FakeViewLauncher::fixtures() const
{
    QVariantList all;
    const QDir dir(QStringLiteral(QUICK_TEST_SOURCE_DIR "/fixtures"));
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            qWarning("fixture %s cannot be read", qPrintable(name));
            continue;
        }
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
        QVariantMap entry = doc.object().toVariantMap();
        entry.insert(QStringLiteral("file"), name);
        if (error.error != QJsonParseError::NoError)
            entry.insert(QStringLiteral("parseError"), error.errorString());
        all.append(entry);
    }
    return all;
}

QStringList FakeViewLauncher::unshadowedMethods() const
{
    const QMetaObject& real = OrbViewLauncher::staticMetaObject;
    const QMetaObject* own = metaObject();
    QStringList missing;
    for (int i = real.methodOffset(); i < real.methodCount(); ++i) {
        const QMetaMethod method = real.method(i);
        if (method.methodType() != QMetaMethod::Method)
            continue;
        const int found = own->indexOfMethod(method.methodSignature().constData());
        if (found < own->methodOffset())
            missing.append(QString::fromLatin1(method.methodSignature()));
    }
    return missing;
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
