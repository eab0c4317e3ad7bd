#include "OrbCompositionRoot.h"

#include "core/ComponentRegister.h"
#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "core/SingleInstance.h"
#include "log/OrbLogImpl.h"
#include "platform/OrbPlatform.h"
#include "services/download/OrbBackend.h"
#include "services/installer/OrbInstaller.h"
#include "workflow/OrbLauncherManager.h"
#include "model/OrbModel.h"
#include "ui/QmlLiveHost.h"

#include "OrbSignedSettings.h"

#include <QApplication>
#include <QFile>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

// Exit code of a start that a component refused.
constexpr int kStartupFailed = 1;

void reportStartupFailure(const char* reason)
{
    std::fprintf(stderr, "OrbLive: start-up failed: %s\n", reason);
    std::fflush(stderr);
    ORB_LOG(OrbLogError, "start-up failed: %s", reason);
}

// Developer aid: "--qml-live [file or folder]" runs the live QML scene instead
// of the launcher; no component is created.
int runQmlLive(QApplication& app, const QStringList& arguments, int switchAt)
{
    const QString path = arguments.value(switchAt + 1);
    QmlLiveHost host;
    if (!host.start(path.startsWith(QLatin1String("--")) ? QString() : path))
        return kStartupFailed;
    return app.exec();
}

// [Basic] GameName of config/game_settings.ini beside the program, read as text.
std::string shippedGameName()
{
    QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/config/game_settings.ini"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const std::string text = file.read(1 << 20).toStdString();
    return QString::fromStdString(OrbSignedSettings::Value(text, "Basic", "GameName")).trimmed().toStdString();
}

} // namespace

int OrbLauncherMain(int argc, char** argv)
{
    qputenv("QT_SCREEN_SCALE_FACTORS", "1.001;1.001");

    // Qt WebEngine wants its initialisation before the application object exists.
    QtWebEngineQuick::initialize();

    // Widgets-based: the tray icon and folder dialog of Qt labs platform need it
    // outside Windows and macOS.
    auto app = std::make_unique<QApplication>(argc, argv);

    const int qmlLive = app->arguments().indexOf(QStringLiteral("--qml-live"));
    if (qmlLive > 0) {
        const int code = runQmlLive(*app, app->arguments(), qmlLive);
        app.reset();
        return code;
    }

    // A second launcher of this copy's game must touch nothing of the running one:
    // the components' Init already saves the INI files (and with them their
    // backups) and the scene starts work. So the test comes first, by the game name
    // of the shipped settings, read without writing; only the log hears why.
    const std::string shippedGame = shippedGameName();
    if (!shippedGame.empty() && IsAlreadyRunning(shippedGame)) {
        ComponentRegister registry;
        registry.RegisterLog<OrbLogImpl>("OrbLogImpl");
        registry.InitAll();
        ORB_LOG(OrbLogInfo, "another launcher for this game is running; leaving");
        std::fprintf(stderr, "OrbLive: another launcher for this game is running; leaving\n");
        return 0;
    }

    int exitCode = 0;
    {
        ComponentRegister registry;
        registry.RegisterLog<OrbLogImpl>("OrbLogImpl");
        registry.Register<OrbModel>("OrbModel");
        registry.Register<OrbBackend>("OrbBackend");
        registry.Register<OrbInstaller>("OrbInstaller");
        registry.Register<OrbLauncherManager>("OrbLauncherManager");

        bool started = false;
        try {
            registry.InitAll();
            started = true;
        } catch (const std::exception& error) {
            reportStartupFailure(error.what());
            exitCode = kStartupFailed;
        } catch (...) {
            reportStartupFailure("unknown error");
            exitCode = kStartupFailed;
        }

        if (started) {
            IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
            const std::string gameName =
                model ? model->GetStringValue(OrbConfig::GameSettingConfig, "Basic", "GameName") : std::string();
            // Taken above by the shipped name, unless the shipped file had none.
            if (shippedGame.empty() && IsAlreadyRunning(gameName)) {
                ORB_LOG(OrbLogInfo, "another launcher for this game is running; leaving");
            } else {
                OrbPlatform::QuitOnTerminationRequest();
                ORB_LOG(OrbLogInfo, "launcher started");
                exitCode = app->exec();
            }
        }
    }
    app.reset();
    return exitCode;
}
