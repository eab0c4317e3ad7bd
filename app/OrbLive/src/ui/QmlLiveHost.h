#pragma once

#include <QObject>
#include <QString>

class QmlLiveEngine;

// Runs the developer scene: a live engine published to it as "$Engine", the
// scene's root as the reload target, and Qt's messages shown in the scene's
// console for the engine's lifetime.
class QmlLiveHost : public QObject {
    Q_OBJECT

public:
    explicit QmlLiveHost(QObject* parent = nullptr);
    ~QmlLiveHost() override;

    // Loads the developer scene; when `mainQml` names a QML file, or a folder
    // holding main.qml, that document is loaded into it at once. False when the
    // scene could not be created.
    bool start(const QString& mainQml = QString());

    QmlLiveEngine* engine() const { return m_engine; }
    QObject* scene() const;

    // The document a path given on the command line stands for.
    static QString mainDocumentFor(const QString& path);

private:
    QmlLiveEngine* m_engine = nullptr;
};
