#pragma once

#include <QPointer>
#include <QQmlApplicationEngine>
#include <QSet>
#include <QString>

class QFileSystemWatcher;

// A QML engine for live editing: it watches a main QML file and every file and
// folder of the tree around it, and asks its reload target (the developer
// scene's root) to reload after each change.
class QmlLiveEngine : public QQmlApplicationEngine {
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "auto")
    Q_PROPERTY(QString absQmlPath MEMBER absQmlPath)

public:
    explicit QmlLiveEngine(QObject* parent = nullptr);
    ~QmlLiveEngine() override;

    Q_INVOKABLE void clearCache();
    Q_INVOKABLE void watch(QString Qmlpath);

    // The object whose "_reload" runs after a change; guarded, so a target
    // destroyed before the engine is simply forgotten.
    void setReloadTarget(QObject* target);
    QObject* reloadTarget() const;

    QString baseFolder() const;

private slots:
    void onFileSystemChanged();

private:
    void removeAllWatches();
    void watchRecursively(const QString& folder, QSet<QString>& visited);

    QFileSystemWatcher* m_watcher = nullptr;
    QPointer<QObject> m_reloadTarget;
    QString m_watchedPath;
    QString absQmlPath;
    QString m_baseFolder;
};
