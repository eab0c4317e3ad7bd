#include "ui/QmlLiveEngine.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

QmlLiveEngine::QmlLiveEngine(QObject* parent)
    : QQmlApplicationEngine(parent), m_watcher(new QFileSystemWatcher(this))
{
    // Folder changes stay unconnected: a new file is picked up at the next reload.
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &QmlLiveEngine::onFileSystemChanged);
}

QmlLiveEngine::~QmlLiveEngine()
{
    qDebug() << "~QmlLiveEngine called";
    delete m_watcher;
    m_watcher = nullptr;
    // Whatever a host routed into the scene must not outlive it.
    qInstallMessageHandler(nullptr);
}

void QmlLiveEngine::clearCache()
{
    clearComponentCache();
}

void QmlLiveEngine::watch(QString Qmlpath)
{
    qDebug() << "Watching QML path:" << Qmlpath;
    if (Qmlpath == m_watchedPath)
        return;
    m_watchedPath = Qmlpath;
    absQmlPath = QDir(Qmlpath).absolutePath();
    const int slash = m_watchedPath.lastIndexOf(QLatin1Char('/'));
    // A bare name or a backslash path has no "/": its folder is the folder of
    // the absolute path, not the file name itself.
    m_baseFolder = slash >= 0 ? m_watchedPath.left(slash) : QFileInfo(absQmlPath).absolutePath();

    removeAllWatches();
    QSet<QString> visited;
    watchRecursively(m_baseFolder, visited);
    addImportPath(m_baseFolder);
    qDebug() << "Updated import paths:" << importPathList();
}

void QmlLiveEngine::setReloadTarget(QObject* target)
{
    m_reloadTarget = target;
}

QObject* QmlLiveEngine::reloadTarget() const
{
    return m_reloadTarget.data();
}

QString QmlLiveEngine::baseFolder() const
{
    return m_baseFolder;
}

void QmlLiveEngine::onFileSystemChanged()
{
    // An editor that replaces a file on save ends the watch on it: arm the
    // whole tree again before reloading.
    removeAllWatches();
    QSet<QString> visited;
    watchRecursively(m_baseFolder, visited);
    if (QObject* target = m_reloadTarget.data())
        QMetaObject::invokeMethod(target, "_reload", Qt::AutoConnection);
}

void QmlLiveEngine::removeAllWatches()
{
    const QStringList paths = m_watcher->directories() + m_watcher->files();
    QStringList failed;
    for (const QString& path : paths) {
        if (!m_watcher->removePath(path))
            failed << path;
    }
    if (failed.isEmpty())
        return;
    qWarning().noquote()
        << tr("The following directories or files cannot be removed from file system watcher:");
    for (const QString& path : failed)
        qWarning().noquote() << QLatin1Char('\t') + path;
}

void QmlLiveEngine::watchRecursively(const QString& folder, QSet<QString>& visited)
{
    // A folder reached twice (through a link back up the tree) is walked once.
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (!canonical.isEmpty()) {
        if (visited.contains(canonical))
            return;
        visited.insert(canonical);
    }

    const QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("*.*")}, QDir::Files, QDir::Unsorted);
    const QStringList folders = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);

    if (!m_watcher->directories().contains(folder))
        m_watcher->addPath(folder);
    const QStringList watchedFiles = m_watcher->files();
    for (const QString& name : files) {
        const QString path = folder + QLatin1Char('/') + name;
        if (!watchedFiles.contains(path))
            m_watcher->addPath(path);
    }
    for (const QString& name : folders)
        watchRecursively(folder + QLatin1Char('/') + name, visited);
}
