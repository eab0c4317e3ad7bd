#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QUrl>

class QQmlApplicationEngine;


// Owns the scene's QML engine and knows the scene's root window. Subclasses
// publish themselves to the scene and say how to show, hide and close it.
class OrbViewBase : public QObject {
    Q_OBJECT
public:
    OrbViewBase();
    ~OrbViewBase() override;

    // Loads the scene into the engine; true when it produced a root object. The
    // first root object becomes the root window when it is a Qt Quick window.
    bool loadScene(const QUrl& url);

    QQmlApplicationEngine* engine() const { return m_engine; }
    QQuickWindow* rootWindow() const { return m_rootWindow; }

signals:
    void sigToggleWindowVisibility(bool bVisible);
    void sigCloseWindow();

public slots:
    bool onToggleVisibility(bool bVisible);
    bool onClose();

public:
    virtual void requestShow() = 0;
    virtual void requestHide() = 0;
    virtual void requestClose() = 0;
    virtual bool registerContext() = 0;
    virtual bool prepare();

protected:
    QQmlApplicationEngine* m_engine = nullptr;
    // Guarded: the engine owns the window and may destroy it first.
    QPointer<QQuickWindow> m_rootWindow;

private:
    QMetaObject::Connection m_toggleConnection;
    QMetaObject::Connection m_closeConnection;
};
