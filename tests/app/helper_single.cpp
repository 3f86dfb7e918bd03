// A tiny single-instance program for the tests: the first instance prints every message it
// receives on stdout (one per line) and quits after "quit"; later instances forward their
// file argument (made absolute) or "raise_window_noop", and exit 0 when it was acknowledged.
#include <QTimer>
#include <cstdio>

#include "app/QtSingleApplication.h"
#include "app/Startup.h"

int main(int argc, char** argv)
{
    const QString fileArg = absoluteFileArgument(argc, argv);
    QtSingleCoreApplication app(QStringLiteral("BrevAntTest"), argc, argv);
    if (app.isRunning()) {
        const QString message = fileArg.isEmpty() ? QStringLiteral("raise_window_noop") : fileArg;
        return app.sendMessage(message, 5000) ? 0 : 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    QObject::connect(&app, &QtSingleCoreApplication::messageReceived, [&app](const QString& m) {
        std::printf("%s\n", m.toUtf8().constData());
        std::fflush(stdout);
        if (m == QLatin1String("quit"))
            app.quit();
    });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return app.exec();
}
