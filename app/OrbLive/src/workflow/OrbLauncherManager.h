#pragma once

#include "IOrbLauncher.h"

#include <QObject>

#include <memory>

class QQmlApplicationEngine;

class OrbLauncherManager : public QObject, public IOrbLauncher {
    Q_OBJECT
public:
    explicit OrbLauncherManager(QObject* parent = nullptr);
    ~OrbLauncherManager() override;

    void Init() override;
    void Uninit() override;
    std::string GetName() override;

    // Scene document loaded by Init.
    static constexpr const char* kSceneUrl = "qrc:/qml/main.qml";

private:
    std::unique_ptr<QQmlApplicationEngine> m_engine;
};
