// A simulated printer on a pseudo-terminal, for use by hand or as a child process of tests.
// Prints "port: <path>" once the terminal is ready; point TARNI_SERIAL_PORTS at that path.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <cstring>
#include <memory>
#include <unistd.h>

#include "BootLoaderSim.h"
#include "PrinterSim.h"

namespace {
char g_linkPath[4096] = {};

void onSignal(int)
{
    if (g_linkPath[0])
        ::unlink(g_linkPath);
    ::_exit(0);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated printer on a pseudo-terminal"));
    parser.addHelpOption();
    const QCommandLineOption linkOpt(QStringLiteral("link"), QStringLiteral("Publish the terminal at <path>."), QStringLiteral("path"));
    const QCommandLineOption modelOpt(QStringLiteral("model"), QStringLiteral("px5, px6a or px6b."), QStringLiteral("model"), QStringLiteral("px5"));
    const QCommandLineOption refuseOpt(QStringLiteral("refuse-link"), QStringLiteral("Refuse the link request."));
    const QCommandLineOption tryAgainOpt(QStringLiteral("try-again"), QStringLiteral("Answer \"try again\" <n> times first."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption silentOpt(QStringLiteral("silent"), QStringLiteral("Answer nothing."));
    const QCommandLineOption freeOpt(QStringLiteral("free"), QStringLiteral("Free space on the card in KiB."), QStringLiteral("kib"), QStringLiteral("1048576"));
    const QCommandLineOption faultOpt(QStringLiteral("fault"), QStringLiteral("Status fault code 1..18."), QStringLiteral("code"), QStringLiteral("0"));
    const QCommandLineOption doorOpt(QStringLiteral("door-open"), QStringLiteral("Report the door open on begin and resume."));
    const QCommandLineOption materialOpt(QStringLiteral("no-material"), QStringLiteral("Report no material on begin and resume."));
    const QCommandLineOption chunkErrOpt(QStringLiteral("chunk-errors"), QStringLiteral("Answer the first <n> chunks with an error."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption chunkSilentOpt(QStringLiteral("chunk-silences"), QStringLiteral("Leave the first <n> chunks unanswered."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption keepShortOpt(QStringLiteral("keep-all-but-last"), QStringLiteral("Keep all but the last chunk of a file; never acknowledge that chunk."));
    const QCommandLineOption keepNothingOpt(QStringLiteral("keep-nothing"), QStringLiteral("Keep nothing of a file; never acknowledge its last chunk."));
    const QCommandLineOption bootOpt(QStringLiteral("boot-loader"), QStringLiteral("Enter the boot loader on a boot reset and take firmware images."));
    const QCommandLineOption bootSilentOpt(QStringLiteral("boot-silent-at"), QStringLiteral("The boot loader leaves image packet <n> unanswered."), QStringLiteral("n"), QStringLiteral("-1"));
    const QCommandLineOption bootSilentTimesOpt(QStringLiteral("boot-silent-times"), QStringLiteral("...<k> times; below 0: always."), QStringLiteral("k"), QStringLiteral("-1"));
    parser.addOptions({linkOpt, modelOpt, refuseOpt, tryAgainOpt, silentOpt, freeOpt, faultOpt, doorOpt, materialOpt, chunkErrOpt, chunkSilentOpt,
                       keepShortOpt, keepNothingOpt, bootOpt, bootSilentOpt, bootSilentTimesOpt});
    parser.process(app);

    PrinterSim sim;
    const QString model = parser.value(modelOpt).toLower();
    sim.behaviour.machine.model = model == QLatin1String("px5") ? 2 : 3;
    sim.behaviour.machine.variant = model == QLatin1String("px6b") ? 1 : 0;
    sim.behaviour.machine.serialNumber = "SIM0001";
    sim.behaviour.machine.mac = "02:00:00:00:00:01";
    sim.behaviour.linkAnswer = parser.isSet(refuseOpt) ? PrinterSim::LinkRefuse : PrinterSim::LinkAccept;
    sim.behaviour.tryAgainCount = parser.value(tryAgainOpt).toInt();
    sim.behaviour.silent = parser.isSet(silentOpt);
    sim.behaviour.freeSpaceKiB = parser.value(freeOpt).toUInt();
    sim.behaviour.faultCode = parser.value(faultOpt).toInt();
    sim.behaviour.doorOpen = parser.isSet(doorOpt);
    sim.behaviour.noMaterial = parser.isSet(materialOpt);
    sim.behaviour.chunkErrors = parser.value(chunkErrOpt).toInt();
    sim.behaviour.chunkSilences = parser.value(chunkSilentOpt).toInt();
    sim.behaviour.keepAllButLastChunk = parser.isSet(keepShortOpt);
    sim.behaviour.keepNothing = parser.isSet(keepNothingOpt);

    const QString link = parser.value(linkOpt);
    const QByteArray linkBytes = link.toLocal8Bit();
    if (size_t(linkBytes.size()) >= sizeof g_linkPath) {
        QTextStream(stderr) << "link path too long\n";
        return 1;
    }
    std::memcpy(g_linkPath, linkBytes.constData(), size_t(linkBytes.size()));
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    if (!sim.start(link)) {
        QTextStream(stderr) << "cannot open a pseudo-terminal\n";
        return 1;
    }
    QTextStream out(stdout);
    out << "port: " << sim.portPath() << Qt::endl;
    std::unique_ptr<BootLoaderSim> boot;
    if (parser.isSet(bootOpt)) {
        boot.reset(new BootLoaderSim(&sim));
        boot->behaviour.silentAt = parser.value(bootSilentOpt).toInt();
        boot->behaviour.silentTimes = parser.value(bootSilentTimesOpt).toInt();
        QObject::connect(boot.get(), &BootLoaderSim::imageComplete, [&out](bool confirmed) {
            out << "image: " << (confirmed ? "confirmed" : "bad checksum") << Qt::endl;
        });
    }
    QObject::connect(&sim, &PrinterSim::fileComplete, [&out](const QString& name, int size) {
        out << "file: " << name << " " << size << Qt::endl;
    });
    return app.exec();
}
