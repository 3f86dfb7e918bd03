#include "testutil_desk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Desk {

bool haveXdotool()
{
    return !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
}

QString xdotool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    // Events keep flowing meanwhile: an in-process printer must go on answering.
    QElapsedTimer clock;
    clock.start();
    while (p.state() != QProcess::NotRunning && clock.elapsed() < TestTime::waitMs(5000))
        QTest::qWait(2);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
        return QString();
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

void click(QPoint p, int count)
{
    // No "--sync": it waits for a motion that never comes when the pointer is there already.
    xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
    // A first move gives hover; a pause lets the program see it before the press.
    QTest::qWait(60);
    xdotool({"click", "--repeat", QString::number(count), "--delay", "80", "1"});
    QTest::qWait(60);
}

void drag(QPoint from, QPoint to)
{
    xdotool({"mousemove", QString::number(from.x()), QString::number(from.y())});
    QTest::qWait(60);
    xdotool({"mousedown", "1"});
    const int steps = 12;
    for (int i = 1; i <= steps; ++i) {
        const QPoint p = from + (to - from) * i / steps;
        xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
        // At a person's pace: the program redraws between the steps.
        QTest::qWait(80);
    }
    xdotool({"mouseup", "1"});
    QTest::qWait(60);
}

void key(const QString& keys)
{
    xdotool({"key", "--delay", "40", keys});
    QTest::qWait(40);
}

void type(const QString& text)
{
    xdotool({"type", "--delay", "8", text});
    QTest::qWait(40);
}

QImage grab(const QRect& r)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage().convertToFormat(QImage::Format_RGB32);
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QTest::qWait(50);
    }
    return true;
}

Blob modelPixels(const QImage& image, const QRect& part)
{
    Blob b;
    double sx = 0, sy = 0;
    const QRect r = part.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            const int red = qRed(line[x]), green = qGreen(line[x]), blue = qBlue(line[x]);
            // The model's blue, lit (82,138,175) or in shadow (34,63,82); the grey plate and
            // the pure colours of the gizmo and the light cut plane are not.
            if (blue - red > 40 && green - red > 20 && blue > green + 10 && blue < 230 && red < 120) {
                ++b.count;
                sx += x;
                sy += y;
            }
        }
    }
    if (b.count)
        b.centre = QPointF(sx / b.count, sy / b.count);
    return b;
}

double changedShare(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    qint64 changed = 0;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb* la = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* lb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            changed += (la[x] & 0xffffff) != (lb[x] & 0xffffff);
    }
    return double(changed) / (double(a.width()) * a.height());
}

} // namespace Desk

PrivateDisplay::~PrivateDisplay()
{
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

bool PrivateDisplay::start(int width, int height)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    const QByteArray screen = QByteArray::number(width) + 'x' + QByteArray::number(height) + "x24";
    const QByteArray fd = QByteArray::number(fds[1]);
    pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", screen.constData(), "-nolisten", "tcp",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return false;
    }
    // The server writes its display number once it accepts clients.
    char number[16] = {};
    size_t got = 0;
    while (got < sizeof number - 1) {
        const ssize_t n = ::read(fds[0], number + got, 1);
        if (n <= 0 || number[got] == '\n')
            break;
        ++got;
    }
    ::close(fds[0]);
    number[got] = 0;
    if (got == 0)
        return false;
    qputenv("DISPLAY", QByteArray(":") + QByteArray(number));
    return true;
}

void ChildProcess::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127); // the test ended before the signal was armed
}

Tarni::Tarni(const QString& programDir, const QString& serialPort)
    : program(programDir)
    , port(serialPort)
{
    QDir().mkpath(dataDir());
    QDir().mkpath(tempDir());
    // The program folder outlives a run: what a former run kept there must not leak in.
    QDir(program + QStringLiteral("/gco")).removeRecursively();
    QFile::remove(program + QStringLiteral("/recentfile.ini"));
}

Tarni::~Tarni()
{
    kill();
}

void Tarni::choose(int machineType)
{
    QFile f(dataDir() + QStringLiteral("/setting.ini"));
    if (f.open(QIODevice::WriteOnly))
        f.write(QStringLiteral("[%General]\nChoiceType=%1\nLanguage=0\nprintQuality=1\n").arg(machineType).toLatin1());
}

QProcessEnvironment Tarni::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LOCALAPPDATA"), home.path() + QStringLiteral("/local"));
    env.insert(QStringLiteral("TMPDIR"), tempDir());
    env.insert(QStringLiteral("TARNI_SERIAL_PORTS"), port);
    env.insert(QStringLiteral("TARNI_UPDATE_BASE_URL"), QStringLiteral("http://127.0.0.1:9"));
    env.insert(QStringLiteral("LIBGL_ALWAYS_SOFTWARE"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

bool Tarni::start(const QStringList& args)
{
    proc.setProcessEnvironment(environment());
    proc.setWorkingDirectory(program);
    // Its log goes to log.txt as well; the copy on the error channel is not wanted here.
    proc.setStandardOutputFile(QProcess::nullDevice());
    proc.setStandardErrorFile(QProcess::nullDevice());
    proc.start(program + QStringLiteral("/tarni"), args);
    return proc.waitForStarted(TestTime::waitMs(5000));
}

int Tarni::runAgain(const QStringList& args, int ms)
{
    ChildProcess second;
    second.setProcessEnvironment(environment());
    second.setWorkingDirectory(home.path());
    second.setStandardOutputFile(QProcess::nullDevice());
    second.setStandardErrorFile(QProcess::nullDevice());
    second.start(program + QStringLiteral("/tarni"), args);
    if (!Desk::waitFor([&] { return second.state() == QProcess::NotRunning; }, ms)) {
        second.kill();
        second.waitForFinished(TestTime::waitMs(2000));
        return -1;
    }
    return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
}

int Tarni::waitExit(int ms)
{
    if (!Desk::waitFor([&] { return proc.state() == QProcess::NotRunning; }, ms))
        return -1;
    return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
}

void Tarni::kill()
{
    if (proc.state() != QProcess::NotRunning) {
        proc.kill();
        proc.waitForFinished(TestTime::waitMs(3000));
    }
}

QString Tarni::log() const
{
    QFile f(dataDir() + QStringLiteral("/log.txt"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QStringList Tarni::windowIds(const QString& name) const
{
    if (proc.state() == QProcess::NotRunning)
        return QStringList();
    const QString pattern = QLatin1Char('^') + QRegularExpression::escape(name) + QLatin1Char('$');
    return Desk::xdotool({"search", "--all", "--onlyvisible", "--pid", QString::number(proc.processId()), "--name", pattern})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QRect Tarni::geometry(const QString& id)
{
    QRect r;
    for (const QString& line : Desk::xdotool({"getwindowgeometry", "--shell", id}).split(QLatin1Char('\n'))) {
        const int eq = line.indexOf(QLatin1Char('='));
        const QString k = line.left(eq), v = line.mid(eq + 1);
        if (k == QLatin1String("X")) r.moveLeft(v.toInt());
        else if (k == QLatin1String("Y")) r.moveTop(v.toInt());
        else if (k == QLatin1String("WIDTH")) r.setWidth(v.toInt());
        else if (k == QLatin1String("HEIGHT")) r.setHeight(v.toInt());
    }
    return r;
}

QList<QRect> Tarni::windows(const QString& name) const
{
    QList<QRect> found;
    for (const QString& id : windowIds(name)) {
        const QRect r = geometry(id);
        if (r.width() > 1 && r.height() > 1)
            found << r;
    }
    return found;
}

QRect Tarni::waitWindow(const QString& name, int ms) const
{
    QRect r;
    Desk::waitFor([&] {
        const QList<QRect> w = windows(name);
        if (!w.isEmpty())
            r = w.first();
        return !w.isEmpty();
    }, ms);
    return r;
}

bool Tarni::waitGone(const QString& name, int ms) const
{
    return Desk::waitFor([&] { return windows(name).isEmpty(); }, ms);
}

bool Tarni::startUp(int ms)
{
    // The splash is a window without a title; the main window is called "Brevant".
    main = waitWindow(QStringLiteral("Brevant"), ms);
    if (main.isNull())
        return false;
    // Drawn once the view shows its plate: a good part of it is no longer the background.
    return Desk::waitFor([&] {
        const QImage img = grabMain();
        const QRect part = viewPart();
        int drawn = 0;
        for (int y = part.top(); y <= part.bottom(); y += 4)
            for (int x = part.left(); x <= part.right(); x += 4)
                drawn += qRed(img.pixel(x, y)) < 235;
        return drawn > 500;
    }, ms);
}

bool Tarni::settle(int ms) const
{
    QImage last = grabMain().copy(viewPart());
    return Desk::waitFor([&] {
        QTest::qWait(250);
        const QImage now = grabMain().copy(viewPart());
        const bool same = now == last;
        last = now;
        return same;
    }, ms);
}

bool Tarni::answer(int index, int buttons, int ms) const
{
    const QString name = QStringLiteral("BrevMessageBox");
    QList<int> centres;
    QRect box;
    QString id;
    // The buttons sit in one row near the bottom edge: grey, or blue when focused.
    const bool shown = Desk::waitFor([&] {
        const QStringList ids = windowIds(name);
        if (ids.isEmpty())
            return false;
        id = ids.first();
        box = geometry(id);
        const QImage img = Desk::grab(box);
        const int y = img.height() - 12 - 26; // above the button text
        centres.clear();
        int runStart = -1;
        for (int x = 0; x <= img.width(); ++x) {
            const QRgb c = x < img.width() ? img.pixel(x, y) : 0;
            const bool button = (c & 0xffffff) == 0xdedede || (c & 0xffffff) == 0x29c2f5;
            if (button && runStart < 0)
                runStart = x;
            if (!button && runStart >= 0) {
                if (x - runStart > 60)
                    centres << (runStart + x) / 2;
                runStart = -1;
            }
        }
        return centres.size() == buttons;
    }, ms);
    if (!shown || index >= centres.size())
        return false;
    Desk::click(box.topLeft() + QPoint(centres[index], box.height() - 12 - 15));
    // Gone before the next question may be looked for.
    return Desk::waitFor([&] { return !windowIds(name).contains(id); }, ms);
}

bool Tarni::fileDialog(const QString& title, const QString& path, int ms) const
{
    const QRect dialog = waitWindow(title, ms);
    if (dialog.isNull())
        return false;
    // The file name field has the focus; the pointer over the dialog gives it the keys.
    Desk::xdotool({"mousemove", QString::number(dialog.center().x()), QString::number(dialog.top() + 10)});
    QTest::qWait(200);
    Desk::key(QStringLiteral("ctrl+a"));
    Desk::type(path);
    Desk::key(QStringLiteral("Return"));
    return waitGone(title, ms);
}

bool Tarni::pickListedFile(const QString& title, int ms) const
{
    const QRect dialog = waitWindow(title, ms);
    if (dialog.isNull())
        return false;
    // The list is white; a listed file is a line of dark text on white, right of the places
    // beside it. Its name is the first word of the line that is wider than an icon.
    QPoint name;
    Desk::waitFor([&] {
        const QImage img = Desk::grab(dialog);
        img.save(QDir::temp().filePath(QStringLiteral("file-dialog.png")));
        const auto white = [&](int x, int y) { return (img.pixel(x, y) & 0xffffff) == 0xffffff; };
        const auto dark = [&](int x, int y) { return qGray(img.pixel(x, y)) < 110; };
        QList<int> lines;
        for (int y = img.height() / 6; y < img.height() * 3 / 4; ++y) {
            int blank = 0, ink = 0;
            for (int x = img.width() / 3; x < img.width() - 10; ++x)
                white(x, y) ? ++blank : dark(x, y) ? ++ink : 0;
            if (ink > 3 && blank > img.width() / 2 - 40)
                lines << y;
        }
        if (lines.isEmpty() || lines.last() - lines.first() > 18)
            return false; // none yet, or more than one line
        const int y = (lines.first() + lines.last()) / 2;
        int start = -1, last = -100;
        for (int x = img.width() / 3; x < img.width(); ++x) {
            bool ink = false;
            for (int line : lines)
                ink = ink || dark(x, line);
            if (!ink)
                continue;
            if (x - last > 10) {
                if (start >= 0 && last - start > 24)
                    break;
                start = x;
            }
            last = x;
        }
        if (start < 0 || last - start <= 24)
            return false;
        name = QPoint((start + last) / 2, y);
        return true;
    }, ms);
    if (name.isNull())
        return false;
    Desk::click(dialog.topLeft() + name, 2);
    return waitGone(title, ms);
}
