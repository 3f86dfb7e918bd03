#include "UI/BrevMessageBox.h"

#include <QCoreApplication>

#include "Thread/CommunicateThread.h"
#include "Thread/FDMSliceProcess.h"
#include "Thread/ThreadPool.h"

QVector<int> openErrorBoxes;

namespace {

BrevMessageBox::AnswerHook& answerHook()
{
    static BrevMessageBox::AnswerHook hook;
    return hook;
}

enum Preset : char { None, Err, Question, Info, Warn };

enum Buttons : char {
    KeepButtons, // as the preset left them
    OneButton,   // the first only
    OkCancel,    // the second shown and re-labelled "Cancel"
    ThreeButtons // the third shown as well
};

// Self-hiding rules: the question disappears when it no longer applies.
enum HideRule : unsigned {
    HideOnLinkLost = 1u << 0,
    HideOnLinkLostQueued = 1u << 1,
    HideOnTransferFinished = 1u << 2,
    HideOnPrintEnded = 1u << 3,
    HideOnPrintRunning = 1u << 4,
    HideOnSliceDone = 1u << 5,
    // The pool leaves the task state the box was built in: the slice or transfer it asks
    // about has ended, however it ended.
    HideOnJobEnded = 1u << 6,
};

struct KindEntry
{
    Preset preset;
    const char* text; // nullptr keeps the form's text
    Buttons buttons;
    int focus;
    int closeResult;
    bool disableClose;
    unsigned hide;
};

constexpr unsigned LinkPrint = HideOnLinkLost | HideOnPrintRunning;

const KindEntry kCatalogue[] = {
    /* 0 */ {Err, QT_TRANSLATE_NOOP("BrevMessageBox", "Computer graphics driver  version is low!"), KeepButtons, 0, 0, false, 0},
    /* 1 */ {Err, QT_TRANSLATE_NOOP("BrevMessageBox", "Fail to open the file!"), KeepButtons, 0, 0, false, 0},
    /* 2 */ {Err, QT_TRANSLATE_NOOP("BrevMessageBox", "Fail to slice"), KeepButtons, 0, 0, false, 0},
    /* 3 */ {Err, QT_TRANSLATE_NOOP("BrevMessageBox", "Switch To The Correct Machine"), KeepButtons, 0, 0, true, 0},
    /* 4 */ {Err, QT_TRANSLATE_NOOP("BrevMessageBox", "Some models are beyond the printing area!"), KeepButtons, 0, 0, false, 0},
    /* 5 */ {Question, QT_TRANSLATE_NOOP("BrevMessageBox", "Stop sending printing file?"), OkCancel, 1, 0, false, HideOnLinkLost | HideOnTransferFinished},
    /* 6 */ {Question, QT_TRANSLATE_NOOP("BrevMessageBox", "Do you want to cancel print?"), OkCancel, 1, 0, false, HideOnPrintEnded | HideOnLinkLost},
    /* 7 */ {Question, QT_TRANSLATE_NOOP("BrevMessageBox", "Do you want to cancel slice?"), OkCancel, 1, 0, false, HideOnSliceDone},
    /* 8 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Pause Printing?"), OkCancel, 0, 0, false, HideOnLinkLost},
    /* 9 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Restore The Print?"), OkCancel, 0, 0, false, HideOnLinkLost},
    /* 10 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Delete All Support?"), OkCancel, 0, 0, false, 0},
    /* 11 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Leveling distance is beyond range!"), KeepButtons, 0, 0, false, 0},
    /* 12 */ {Warn, QT_TRANSLATE_NOOP("BrevMessageBox", "The number of models has reached the upper limit!"), KeepButtons, 0, 0, false, 0},
    /* 13 */ {Err, QT_TRANSLATE_NOOP("BrevMessageBox", "Fail to download Tarni.exe!"), KeepButtons, 0, 0, false, 0},
    /* 14 */ {None, nullptr, KeepButtons, 0, 0, false, 0},
    /* 15 */ {Question, QT_TRANSLATE_NOOP("BrevMessageBox", "Close project and load Brev file?"), KeepButtons, 0, 0, false, 0},
    /* 16 */ {Question, QT_TRANSLATE_NOOP("BrevMessageBox", "Close the current project and load Brev file?"), KeepButtons, 0, 0, false, 0},
    /* 17 */ {Question, QT_TRANSLATE_NOOP("BrevMessageBox", "Saved as Brev file?"), ThreeButtons, 0, 2, false, 0},
    /* 18 */ {None, QT_TRANSLATE_NOOP("BrevMessageBox", "Do you want to quit supporting mode?"), OkCancel, 0, 0, false, 0},
    /* 19 */ {None, QT_TRANSLATE_NOOP("BrevMessageBox", "The operation will erase all slice data!"), OkCancel, 0, 0, false, 0},
    /* 20 */ {None, QT_TRANSLATE_NOOP("BrevMessageBox", "Before editing the model, delete the support?"), OkCancel, 0, 0, false, 0},
    /* 21 */ {Question, QT_TRANSLATE_NOOP("BrevMessageBox", "Slicing, Save or not?"), ThreeButtons, 0, 2, false, HideOnJobEnded},
    /* 22 */ {Question, QT_TRANSLATE_NOOP("BrevMessageBox", "Sending Gcode, can't exit?"), OneButton, 0, 2, false, HideOnJobEnded},
    /* 23 */ {None, QT_TRANSLATE_NOOP("BrevMessageBox", "Sending Gcode, exit"), KeepButtons, 0, 2, false, HideOnJobEnded},
    /* 24 */ {Question, QT_TRANSLATE_NOOP("BrevMessageBox", "The Firmware Cannot be Updated"), OneButton, 0, 0, false, 0},
    /* 25 */ {Question, QT_TRANSLATE_NOOP("BrevMessageBox", "Stop download Tarni?"), OkCancel, 1, 0, false, 0},
    /* 26 */ {Err, QT_TRANSLATE_NOOP("BrevMessageBox", "Fail to upgrade the firmware"), KeepButtons, 0, 0, false, 0},
    /* 27 */ {None, nullptr, KeepButtons, 0, 0, false, 0},
    /* 28 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Printing file successfully exported!"), KeepButtons, 0, 0, false, 0},
    /* 29 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Slice finished, start to send printing file?"), OkCancel, 0, 0, false, LinkPrint},
    /* 30 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Put Model On The Platform?"), OkCancel, 0, 0, false, 0},
    /* 31 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Cutting Failure!"), KeepButtons, 0, 0, false, 0},
    /* 32 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "The model name is over 50 characters!"), KeepButtons, 0, 0, false, 0},
    /* 33 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Fail to generate supporting automatically!"), KeepButtons, 0, 0, false, 0},
    /* 34 */ {Err, QT_TRANSLATE_NOOP("BrevMessageBox", "Fail to open!"), KeepButtons, 0, 0, false, 0},
    /* 35 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Start to send printing file?"), OkCancel, 0, 0, false, LinkPrint},
    /* 36 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Saving Brev file succeed!"), KeepButtons, 0, 0, false, 0},
    /* 37 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "file does not exist!"), KeepButtons, 0, 0, false, 0},
    /* 38 */ {Info, "Import is not supported!", KeepButtons, 0, 0, false, 0},
    /* 39 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Send finished,do you want to print?"), OkCancel, 0, 0, false, LinkPrint},
    /* 40 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "do you want to print?"), OkCancel, 0, 0, false, LinkPrint},
    /* 41 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Do you want to exit the slice preview?"), OkCancel, 0, 0, false, 0},
    /* 42 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Model too large, whether scaling?"), OkCancel, 0, 0, false, 0},
    /* 43 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Printing is completed!"), KeepButtons, 0, 0, false, 0},
    /* 44 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Beyond the cutting range!"), KeepButtons, 0, 0, false, 0},
    /* 45 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Would you like to download the new version of %1 software?"), OkCancel, 0, 0, false, 0},
    /* 46 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "No Update"), KeepButtons, 0, 0, false, 0},
    /* 47 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "New version of firmware for PX5 is available"), KeepButtons, 0, 0, false, 0},
    /* 48 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "New version of firmware for PX6 is available"), KeepButtons, 0, 0, false, 0},
    /* 49 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "firmware Updating Succeed!"), KeepButtons, 0, 0, false, 0},
    /* 50 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Whether To Start Feeding"), OkCancel, 0, 0, false, HideOnLinkLost},
    /* 51 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Whether To Start Returning"), OkCancel, 0, 0, false, HideOnLinkLostQueued},
    /* 52 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Whether To Stop"), OkCancel, 0, 0, false, HideOnLinkLostQueued},
    /* 53 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Feeding Succeed"), KeepButtons, 0, 0, false, 0},
    /* 54 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Returning Succeed"), KeepButtons, 0, 0, false, 0},
    /* 55 */ {None, QT_TRANSLATE_NOOP("BrevMessageBox", "Leveling Complete"), KeepButtons, 0, 0, false, 0},
    /* 56 */ {None, QT_TRANSLATE_NOOP("BrevMessageBox", "Leveling Fail"), KeepButtons, 0, 0, false, 0},
    /* 57 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Resetting the language requires to restart"), OkCancel, 0, 0, false, 0},
    /* 58 */ {Info, QT_TRANSLATE_NOOP("BrevMessageBox", "Support model cannot be deleted!"), KeepButtons, 0, 0, false, 0},
};
constexpr int kKindCount = int(sizeof(kCatalogue) / sizeof(kCatalogue[0]));
static_assert(kKindCount == 59, "message kinds 0 to 58");

const char* const kErrorTexts[] = {
    /* 1 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Printer busy,unable to connect."),
    /* 2 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Printer connection error."),
    /* 3 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Fail to read the print file."),
    /* 4 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Insufficient SD card storage."),
    /* 5 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Fail to sent print file."),
    /* 6 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Failure to adjust the level."),
    /* 7 */ QT_TRANSLATE_NOOP("BrevMessageBox", "ERR_TrayFail"),
    /* 8 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Fail to sent print file."),
    /* 9 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Printer is printing."),
    /* 10 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Please check the door is closed."),
    /* 11 */ QT_TRANSLATE_NOOP("BrevMessageBox", "No materials! Please refill immediately"),
    /* 12 */ QT_TRANSLATE_NOOP("BrevMessageBox", "SD card error(not exist or no file)"),
    /* 13 */ QT_TRANSLATE_NOOP("BrevMessageBox", "SD card error"),
    /* 14 */ QT_TRANSLATE_NOOP("BrevMessageBox", "SD card error"),
    /* 15 */ QT_TRANSLATE_NOOP("BrevMessageBox", "SD card error(no file)"),
    /* 16 */ QT_TRANSLATE_NOOP("BrevMessageBox", "SD card error(file incomplete)"),
    /* 17 */ QT_TRANSLATE_NOOP("BrevMessageBox", "SD card error(file incomplete)"),
    /* 18 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Communication error"),
    /* 19 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Abnormal Temperature"),
    /* 20 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Abnormal Temperature"),
    /* 21 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Abnormal Temperature"),
    /* 22 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Limit switch fault!"),
    /* 23 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Leveling limit switch fault"),
    /* 24 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Uneven Plate"),
    /* 25 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Beyond the print area"),
    /* 26 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Fail to leveling"),
    /* 27 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Bed temp is too high"),
    /* 28 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Bed heating timeout"),
    /* 29 */ QT_TRANSLATE_NOOP("BrevMessageBox", "Bed sensor anomaly"),
};
static_assert(sizeof(kErrorTexts) / sizeof(kErrorTexts[0]) == 29, "error codes 1 to 29");

} // namespace

BrevMessageBox::BrevMessageBox(int kind, QWidget* parent, QString arg)
    : BVMessageBox(nullptr)
    , messageKind(kind)
{
    applyKind(kind, arg);
    centreOn(parent);
}

BrevMessageBox::BrevMessageBox(Error code, QWidget* parent)
    : BVMessageBox(nullptr)
    , errorCode(int(code) + 1000)
{
    openErrorBoxes.append(errorCode);
    setErrorStyle();
    if (code >= 1 && code <= 29)
        setText(tr(kErrorTexts[code - 1]));
    centreOn(parent);
}

BrevMessageBox::~BrevMessageBox()
{
    if (errorCode != -1)
        openErrorBoxes.removeAll(errorCode);
}

void BrevMessageBox::setErrorStyle()
{
    setIcon(Critical);
    setWindowTitle(tr("Error"));
    setStandardButtons(1);
    setButtonText(FirstButton, tr("Ok"));
    setButtonText(SecondButton, tr("No"));
    setButtonText(ThirdButton, tr("Cancel"));
}

void BrevMessageBox::setQuestionStyle()
{
    setIcon(Warning);
    setWindowTitle(tr("Warning"));
    setStandardButtons(2);
    setButtonText(FirstButton, tr("Yes"));
    setButtonText(SecondButton, tr("No"));
    setButtonText(ThirdButton, tr("Cancel"));
}

void BrevMessageBox::setInformationStyle()
{
    setIcon(Information);
    setWindowTitle(tr("Information"));
    setStandardButtons(1);
    setButtonText(FirstButton, tr("Ok"));
    setButtonText(SecondButton, tr("No"));
    setButtonText(ThirdButton, tr("Cancel"));
}

void BrevMessageBox::setWarningStyle()
{
    setIcon(Warning);
    setWindowTitle(tr("Warning"));
    setStandardButtons(1);
    setButtonText(FirstButton, tr("Ok"));
    setButtonText(SecondButton, tr("No"));
    setButtonText(ThirdButton, tr("Cancel"));
}

void BrevMessageBox::addReason(const QString& reason)
{
    if (!reason.isEmpty())
        setText(text() + QLatin1Char('\n') + reason);
}

void BrevMessageBox::applyKind(int kind, const QString& arg)
{
    if (kind < 0 || kind >= kKindCount)
        return; // the form's defaults
    const KindEntry& e = kCatalogue[kind];
    switch (e.preset) {
    case Err: setErrorStyle(); break;
    case Question: setQuestionStyle(); break;
    case Info: setInformationStyle(); break;
    case Warn: setWarningStyle(); break;
    case None: break;
    }
    connectSelfHiding(e.hide);
    switch (e.buttons) {
    case OneButton:
        setStandardButtons(1);
        break;
    case OkCancel:
        addButton(SecondButton);
        setButtonText(SecondButton, tr("Cancel"));
        break;
    case ThreeButtons:
        addButton(ThirdButton);
        break;
    case KeepButtons:
        break;
    }
    if (e.focus != 0)
        setFocusButton(e.focus);
    if (e.closeResult != 0)
        setCloseResult(e.closeResult);
    if (e.disableClose)
        disableClose();
    if (!e.text)
        return;
    if (kind == 38)
        setText(QString::fromLatin1(e.text));
    else if (kind == 45)
        setText(tr(e.text).arg(arg));
    else
        setText(tr(e.text));
}

void BrevMessageBox::connectSelfHiding(unsigned rules)
{
    ThreadPool* pool = ThreadPool::instance();
    if (!rules || !pool)
        return;
    if (CommunicateThread* link = pool->linkWorker()) {
        if (rules & (HideOnLinkLost | HideOnLinkLostQueued)) {
            const auto type = (rules & HideOnLinkLostQueued) ? Qt::QueuedConnection : Qt::AutoConnection;
            connect(link, &CommunicateThread::linkStatus, this, [this](bool up) {
                if (!up)
                    withdraw();
            }, type);
        }
        if (rules & HideOnTransferFinished) {
            connect(link, &CommunicateThread::sendBVTStatusChanged, this, [this](const SendBVTStatus& s) {
                if (s.finished)
                    withdraw();
            });
        }
        if (rules & (HideOnPrintEnded | HideOnPrintRunning)) {
            const bool onEnded = rules & HideOnPrintEnded;
            connect(link, &CommunicateThread::signPrintStatus, this, [this, onEnded](const SendPrintStatus& s) {
                if (s.ended == onEnded)
                    withdraw();
            });
        }
    }
    if (FDMSliceProcess* slicer = pool->sliceWorker()) {
        if (rules & HideOnSliceDone) {
            connect(slicer, &FDMSliceProcess::progressChanged, this, [this](int p) {
                if (p == 10000)
                    withdraw();
            }, Qt::QueuedConnection);
        }
    }
    if (rules & HideOnJobEnded) {
        // Direct, on the pool's own change: the box is gone before the pool's next question
        // (the slice's failure, the offer to send or print) is asked.
        const int state = pool->taskState();
        connect(pool, &ThreadPool::ThreadStatusChanged, this, [this, pool, state] {
            if (pool->taskState() != state)
                withdraw();
        });
    }
}

void BrevMessageBox::withdraw()
{
    wasWithdrawn = true;
    hide();
}

void BrevMessageBox::centreOn(QWidget* parent)
{
    if (!parent)
        return;
    // The box is a window of its own, so it is placed in global coordinates.
    const QPoint origin = parent->isWindow() ? parent->pos() : parent->mapToGlobal(QPoint(0, 0));
    move(origin.x() + parent->width() / 2 - width() / 2, origin.y() + parent->height() / 2 - height() / 2);
}

namespace {
int g_runCount = 0;
}

int BrevMessageBox::runCount()
{
    return g_runCount;
}

int BrevMessageBox::exec()
{
    ++g_runCount;
    if (const AnswerHook& hook = answerHook()) {
        const int r = hook(*this);
        if (r >= 0) {
            setResult(r);
            return r;
        }
    }
    return BVMessageBox::exec();
}

void BrevMessageBox::setAnswerHook(AnswerHook hook)
{
    answerHook() = std::move(hook);
}

bool BrevMessageBox::hasAnswerHook()
{
    return bool(answerHook());
}

bool BrevMessageBox::isErrorBoxOpen(int code)
{
    return openErrorBoxes.contains(code + 1000);
}
