#pragma once

// A registry holding the test log and the real model over a game-settings file
// written beside the test program (the model reads it from there).

#include "OrbTestFiles.h"
#include "OrbTestLog.h"
#include "core/ComponentRegister.h"
#include "model/OrbModel.h"

#include <QCoreApplication>
#include <QDir>

#include <memory>

inline std::unique_ptr<ComponentRegister> orbStartModel(const QByteArray& gameSettings)
{
    const QString config = QCoreApplication::applicationDirPath() + QStringLiteral("/config");
    QDir(config).removeRecursively();
    QDir().mkpath(config);
    orbtest::writeFile(config + QStringLiteral("/game_settings.ini"), gameSettings);
    auto registry = std::make_unique<ComponentRegister>();
    registry->RegisterLog<OrbTestLog>("OrbLogImpl");
    registry->Register<OrbModel>("OrbModel");
    registry->InitAll();
    return registry;
}
