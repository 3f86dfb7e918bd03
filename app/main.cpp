#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QSplashScreen>
#include <QStyleFactory>
#include <QSurfaceFormat>
#include <QTimer>
#include <QEventLoop>

#include "UI/MainWindow.h"
#include "app/QsLog.h"
#include "app/QtSingleApplication.h"
#include "app/Startup.h"
#include "scene/AppData.h"

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::addLibraryPath(".");
    QApplication::setStyle(QStyleFactory::create("fusion"));

    // A relative file argument must survive the change of working directory and make sense
    // to an instance started elsewhere.
    const QString fileArg = absoluteFileArgument(argc, argv);

    auto* app = new QtSingleApplication(QStringLiteral("BrevAnt"), argc, argv);
    if (app->isRunning()) {
        const QString message = fileArg.isEmpty() ? QStringLiteral("raise_window_noop") : fileArg;
        const bool delivered = app->sendMessage(message, 5000);
        if (!delivered)
            qWarning("Tarni: could not hand \"%s\" to the running instance", qPrintable(message));
        delete app;
        return delivered ? 0 : 1;
    }

    auto* pixmap = new QPixmap(":/Resources/splashscreen.png");
    auto* splash = new QSplashScreen(*pixmap);
    splash->show();
    QElapsedTimer shown;
    shown.start();

    initEnvironment(argc, argv);

    QsLogging::Logger& logger = QsLogging::Logger::instance();
    logger.setLoggingLevel(QsLogging::TraceLevel);
    const QString logPath = QDir(AppData::instance()->getSettingsDir()).filePath("log.txt");
    QsLogging::DestinationPtr fileDest = QsLogging::DestinationFactory::MakeFileDestination(
        logPath, QsLogging::EnableLogRotation, 0xA00000, 2);
    QsLogging::DestinationPtr debugDest = QsLogging::DestinationFactory::MakeDebugOutputDestination();
    logger.addDestination(debugDest);
    logger.addDestination(fileDest);

    QCoreApplication::setApplicationVersion("3.0.7");
    QCoreApplication::setApplicationName("Tarni");

    auto* format = new QSurfaceFormat();
    format->setVersion(4, 3);
    format->setProfile(QSurfaceFormat::CoreProfile);
    format->setDepthBufferSize(2);
    format->setStencilBufferSize(1);
    QSurfaceFormat::setDefaultFormat(*format);

    auto* window = new MainWindow();
    app->setActivationWindow(window, true);

    // The splash stays at least 3 s; an event loop (not a busy wait) keeps it painted.
    const qint64 remaining = 3001 - shown.elapsed();
    if (remaining > 0) {
        QEventLoop wait;
        QTimer::singleShot(int(remaining), &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }
    splash->finish(window);

    int result = 1;
    if (window->startUp()) {
        if (!fileArg.isEmpty())
            window->openFile(fileArg);
        result = app->exec();
    }

    delete window;
    delete format;
    fileDest.reset();
    debugDest.reset();
    delete splash;
    delete pixmap;
    // Drain the logger so the last lines reach log.txt.
    QsLogging::Logger::destroyInstance();
    delete app;
    return result;
}
