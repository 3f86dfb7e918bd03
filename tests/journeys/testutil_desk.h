#pragma once

#include <QCoreApplication>
#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include "common/TestTime.h"

// Drives the real program as a person does: its windows are found by name on the X display,
// pointer and keys move through xdotool, and what is drawn is read back from the screen.
namespace Desk {

bool haveXdotool();
QString xdotool(const QStringList& args);
void click(QPoint global, int count = 1);
// Presses at from, moves in small steps and lets go at to.
void drag(QPoint from, QPoint to);
// Key names as xdotool knows them ("Return", "ctrl+a").
void key(const QString& keys);
void type(const QString& text);
QImage grab(const QRect& global);
// Bounded polling that keeps this process's event loop (and an in-process printer) running.
bool waitFor(const std::function<bool()>& done, int ms);

// Pixels of a model as the view shades it (blue, lit or in shadow), in one part of an image.
struct Blob
{
    int count = 0;
    QPointF centre;
};
Blob modelPixels(const QImage& image, const QRect& part);
// Share of pixels that differ between two images of the same size.
double changedShare(const QImage& a, const QImage& b);

} // namespace Desk

// An X server of the test's own (Xvfb), so that no window of another test running at the same
// time covers the program's. Started before the application object; DISPLAY points at it.
class PrivateDisplay
{
public:
    ~PrivateDisplay();
    bool start(int width, int height);

private:
    int pid = -1;
};

// A child process killed with the test process. A program left behind by a crashed test
// keeps opening its printer's link, and the terminal number behind it is soon another
// test's printer.
class ChildProcess : public QProcess
{
protected:
    void setupChildProcess() override;

private:
    qint64 parent = QCoreApplication::applicationPid();
};

// One run of the real program with its own data folder and temporary folder; the program
// folder (with the engine beside the program) is shared by the runs of one test.
class Tarni
{
public:
    Tarni(const QString& programDir, const QString& serialPort);
    ~Tarni();

    QString dataDir() const { return home.path() + QStringLiteral("/local/Brevant"); }
    QString programDir() const { return program; }
    QString tempDir() const { return home.path() + QStringLiteral("/tmp"); }
    // A setting.ini naming the printer model, so the model dialog stays closed.
    void choose(int machineType);

    bool start(const QStringList& args = QStringList());
    // A further start with the same folders; its exit code, or -1 when it does not end.
    int runAgain(const QStringList& args, int ms = TestTime::waitMs(15000));
    // The exit code once the program ended by itself, else -1.
    int waitExit(int ms);
    bool running() const { return proc.state() != QProcess::NotRunning; }
    void kill();
    QString log() const;

    // Visible top-level windows of this program with exactly this name (Qt's window title).
    QList<QRect> windows(const QString& name) const;
    QStringList windowIds(const QString& name) const;
    static QRect geometry(const QString& windowId);
    QRect waitWindow(const QString& name, int ms = TestTime::waitMs(10000)) const;
    bool waitGone(const QString& name, int ms = TestTime::waitMs(10000)) const;

    // The main window, found by startUp(); points relative to it.
    bool startUp(int ms = TestTime::waitMs(20000));
    QRect frame() const { return main; }
    QPoint at(int x, int y) const { return main.topLeft() + QPoint(x, y); }
    void clickAt(int x, int y, int count = 1) const { Desk::click(at(x, y), count); }
    QImage grabMain() const { return Desk::grab(main); }
    // The 3D view without the overlays (layer column, edit panel, floating buttons).
    QRect viewPart() const { return QRect(300, 100, main.width() - 540, main.height() - 150); }
    Desk::Blob model() const { return Desk::modelPixels(grabMain(), viewPart()); }
    // Waits until the view stays the same for a while (a wait dialog's spinner has gone).
    bool settle(int ms = TestTime::waitMs(20000)) const;

    // Clicks button `index` (0 first, left to right) of the next message box; false when no
    // box with that many buttons shows.
    bool answer(int index, int buttons, int ms = TestTime::waitMs(10000)) const;
    // Types a path into the open file dialog of that title and accepts it.
    bool fileDialog(const QString& title, const QString& path, int ms = TestTime::waitMs(10000)) const;
    // Double-clicks the one file the dialog of that title lists, on its name, as a person picks
    // it with the mouse; false when the list shows no single file.
    bool pickListedFile(const QString& title, int ms = TestTime::waitMs(10000)) const;

    ChildProcess proc;

private:
    QProcessEnvironment environment() const;

    QString program;
    QString port;
    QTemporaryDir home;
    QRect main;
};
