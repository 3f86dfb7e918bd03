#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QTranslator>
#include <QtConcurrent>

#include "Thread/CommunicateThread.h"
#include "Thread/FDMSliceProcess.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"

namespace {

// Shown buttons of a box, first to last.
QStringList shownButtons(const BVMessageBox& box)
{
    QStringList out;
    for (int b = 0; b < 3; ++b)
        if (box.isButtonShown(b))
            out << box.buttonText(b);
    return out;
}

QPushButton* buttonAt(BVMessageBox& box, int index)
{
    static const char* names[] = {"btn_ok", "btn_no", "btn_cancel"};
    return box.findChild<QPushButton*>(QLatin1String(names[index]));
}

// Runs the box modally and lets action act on it once it is shown; returns exec's result.
int runWith(BVMessageBox& box, std::function<void()> action)
{
    QTimer::singleShot(0, &box, [&box, action] {
        if (!box.isVisible()) {
            QTimer::singleShot(5, &box, [&box, action] { action(); });
            return;
        }
        action();
    });
    return box.exec();
}

struct Row
{
    const char* title;
    const char* text;
    const char* buttons; // '|'-separated
    int closeResult;
};

// The catalogue as the user sees it in English.
const Row kRows[59] = {
    {"Error", "Computer graphics driver  version is low!", "Ok", 0},
    {"Error", "Fail to open the file!", "Ok", 0},
    {"Error", "Fail to slice", "Ok", 0},
    {"Error", "Switch To The Correct Machine", "Ok", -1},
    {"Error", "Some models are beyond the printing area!", "Ok", 0},
    {"Warning", "Stop sending printing file?", "Yes|Cancel", 0},
    {"Warning", "Do you want to cancel print?", "Yes|Cancel", 0},
    {"Warning", "Do you want to cancel slice?", "Yes|Cancel", 0},
    {"Information", "Pause Printing?", "Ok|Cancel", 0},
    {"Information", "Restore The Print?", "Ok|Cancel", 0},
    {"Information", "Delete All Support?", "Ok|Cancel", 0},
    {"Information", "Leveling distance is beyond range!", "Ok", 0},
    {"Warning", "The number of models has reached the upper limit!", "Ok", 0},
    {"Error", "Fail to download Tarni.exe!", "Ok", 0},
    {"prompt", "prompt info", "ok", 0},
    {"Warning", "Close project and load Brev file?", "Yes|No", 0},
    {"Warning", "Close the current project and load Brev file?", "Yes|No", 0},
    {"Warning", "Saved as Brev file?", "Yes|No|Cancel", 2},
    {"prompt", "Do you want to quit supporting mode?", "ok|Cancel", 0},
    {"prompt", "The operation will erase all slice data!", "ok|Cancel", 0},
    {"prompt", "Before editing the model, delete the support?", "ok|Cancel", 0},
    {"Warning", "Slicing, Save or not?", "Yes|No|Cancel", 2},
    {"Warning", "Sending Gcode, can't exit?", "Yes", 2},
    {"prompt", "Sending Gcode, exit", "ok", 2},
    {"Warning", "The Firmware Cannot be Updated", "Yes", 0},
    {"Warning", "Stop download Tarni?", "Yes|Cancel", 0},
    {"Error", "Fail to upgrade the firmware", "Ok", 0},
    {"prompt", "prompt info", "ok", 0},
    {"Information", "Printing file successfully exported!", "Ok", 0},
    {"Information", "Slice finished, start to send printing file?", "Ok|Cancel", 0},
    {"Information", "Put Model On The Platform?", "Ok|Cancel", 0},
    {"Information", "Cutting Failure!", "Ok", 0},
    {"Information", "The model name is over 50 characters!", "Ok", 0},
    {"Information", "Fail to generate supporting automatically!", "Ok", 0},
    {"Error", "Fail to open!", "Ok", 0},
    {"Information", "Start to send printing file?", "Ok|Cancel", 0},
    {"Information", "Saving Brev file succeed!", "Ok", 0},
    {"Information", "file does not exist!", "Ok", 0},
    {"Information", "Import is not supported!", "Ok", 0},
    {"Information", "Send finished,do you want to print?", "Ok|Cancel", 0},
    {"Information", "do you want to print?", "Ok|Cancel", 0},
    {"Information", "Do you want to exit the slice preview?", "Ok|Cancel", 0},
    {"Information", "Model too large, whether scaling?", "Ok|Cancel", 0},
    {"Information", "Printing is completed!", "Ok", 0},
    {"Information", "Beyond the cutting range!", "Ok", 0},
    {"Information", "Would you like to download the new version of V3.1 software?", "Ok|Cancel", 0},
    {"Information", "No Update", "Ok", 0},
    {"Information", "New version of firmware for PX5 is available", "Ok", 0},
    {"Information", "New version of firmware for PX6 is available", "Ok", 0},
    {"Information", "firmware Updating Succeed!", "Ok", 0},
    {"Information", "Whether To Start Feeding", "Ok|Cancel", 0},
    {"Information", "Whether To Start Returning", "Ok|Cancel", 0},
    {"Information", "Whether To Stop", "Ok|Cancel", 0},
    {"Information", "Feeding Succeed", "Ok", 0},
    {"Information", "Returning Succeed", "Ok", 0},
    {"prompt", "Leveling Complete", "ok", 0},
    {"prompt", "Leveling Fail", "ok", 0},
    {"Information", "Resetting the language requires to restart", "Ok|Cancel", 0},
    {"Information", "Support model cannot be deleted!", "Ok", 0},
};

const char* const kErrors[29] = {
    "Printer busy,unable to connect.", "Printer connection error.", "Fail to read the print file.",
    "Insufficient SD card storage.", "Fail to sent print file.", "Failure to adjust the level.", "ERR_TrayFail",
    "Fail to sent print file.", "Printer is printing.", "Please check the door is closed.",
    "No materials! Please refill immediately", "SD card error(not exist or no file)", "SD card error",
    "SD card error", "SD card error(no file)", "SD card error(file incomplete)", "SD card error(file incomplete)",
    "Communication error", "Abnormal Temperature", "Abnormal Temperature", "Abnormal Temperature",
    "Limit switch fault!", "Leveling limit switch fault", "Uneven Plate", "Beyond the print area",
    "Fail to leveling", "Bed temp is too high", "Bed heating timeout", "Bed sensor anomaly"};

} // namespace

class TestMessageBox : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void catalogueEnglish_data();
    void catalogueEnglish();
    void catalogueChinese();
    void execResults_data();
    void execResults();
    void errorBoxes();
    void openErrorBoxesFollowLifetime();
    void outOfRange();
    void answerHook();
    void centring();
    void dragStrip_data();
    void dragStrip();
    void selfHiding_data();
    void selfHiding();
    void enterAnswersFocusedButton();
};

void TestMessageBox::cleanup()
{
    BrevMessageBox::setAnswerHook(nullptr);
    QVERIFY(openErrorBoxes.isEmpty());
}

void TestMessageBox::catalogueEnglish_data()
{
    QTest::addColumn<int>("kind");
    for (int k = 0; k < 59; ++k)
        QTest::addRow("kind %d", k) << k;
}

void TestMessageBox::catalogueEnglish()
{
    QFETCH(int, kind);
    BrevMessageBox box(kind, nullptr, QStringLiteral("V3.1"));
    const Row& r = kRows[kind];
    QCOMPARE(box.titleText(), QString::fromUtf8(r.title));
    QCOMPARE(box.text(), QString::fromUtf8(r.text));
    QCOMPARE(shownButtons(box).join('|'), QString::fromUtf8(r.buttons));
    QCOMPARE(box.kind(), kind);
    QCOMPARE(box.printerError(), -1);
    QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(box.size(), QSize(378, 172));
}

void TestMessageBox::catalogueChinese()
{
    QTranslator zh;
    QVERIFY(zh.load(QStringLiteral(":/brevant_zh.qm")));
    QCoreApplication::installTranslator(&zh);
    for (int kind = 0; kind < 59; ++kind) {
        BrevMessageBox box(kind, nullptr, QStringLiteral("V3.1"));
        const Row& r = kRows[kind];
        const QString english = QString::fromUtf8(r.text);
        if (kind == 38) {
            QCOMPARE(box.text(), english); // stays English
        } else if (kind == 45) {
            QCOMPARE(box.text(), QString::fromUtf8("是否下载新版本的 V3.1 软件？"));
        } else if (kind != 14 && kind != 27) {
            QVERIFY2(box.text() != english && !box.text().isEmpty(), qPrintable(english));
        }
        if (QByteArray(r.title) != "prompt")
            QVERIFY2(box.titleText() != QString::fromUtf8(r.title), r.title);
        const QStringList buttons = shownButtons(box);
        QCOMPARE(buttons.size(), QString::fromUtf8(r.buttons).split('|').size());
        for (const QString& b : buttons)
            QVERIFY2(!b.contains(QRegularExpression("[A-Za-z]")), qPrintable(b));
    }
    {
        BrevMessageBox box(0, nullptr);
        QCOMPARE(box.titleText(), QString::fromUtf8("错误"));
        QCOMPARE(box.buttonText(0), QString::fromUtf8("确定"));
    }
    for (int code = 1; code <= 29; ++code) {
        BrevMessageBox box(Error(code), nullptr);
        QVERIFY(box.text() != QString::fromUtf8(kErrors[code - 1]));
    }
    QCoreApplication::removeTranslator(&zh);
}

void TestMessageBox::execResults_data()
{
    QTest::addColumn<int>("kind");
    for (int k = 0; k < 59; ++k)
        QTest::addRow("kind %d", k) << k;
}

void TestMessageBox::execResults()
{
    QFETCH(int, kind);
    const Row& r = kRows[kind];
    const int shown = QString::fromUtf8(r.buttons).split('|').size();
    const bool threeSlots = shown == 3;
    // Results of the shown buttons, first to last: 1, 0, then 2 for a real third button.
    for (int i = 0; i < shown; ++i) {
        BrevMessageBox box(kind);
        const int index = (i == 2 && threeSlots) ? 2 : i;
        QPushButton* b = buttonAt(box, index);
        QVERIFY(b && !b->isHidden());
        const int expected = index == 0 ? 1 : index == 1 ? 0 : 2;
        QCOMPARE(runWith(box, [b] { b->click(); }), expected);
    }
    // The close button, Escape, and a close by the window manager.
    for (int how = 0; how < 3; ++how) {
        BrevMessageBox box(kind);
        bool stillOpen = false;
        const int result = runWith(box, [&box, how, &stillOpen] {
            if (how == 0)
                box.findChild<QPushButton*>("btn_close")->click();
            else if (how == 1)
                QTest::keyClick(&box, Qt::Key_Escape);
            else
                box.close();
            stillOpen = box.isVisible();
            if (stillOpen)
                buttonAt(box, 0)->click();
        });
        if (r.closeResult < 0) {
            QVERIFY(stillOpen); // only Ok ends it
            QCOMPARE(result, 1);
            QVERIFY(!box.findChild<QPushButton*>("btn_close")->isEnabled());
        } else {
            QVERIFY(!stillOpen);
            QCOMPARE(result, r.closeResult);
        }
    }
}

void TestMessageBox::errorBoxes()
{
    for (int code = 1; code <= 29; ++code) {
        BrevMessageBox box(Error(code), nullptr);
        QCOMPARE(box.titleText(), QStringLiteral("Error"));
        QCOMPARE(box.text(), QString::fromUtf8(kErrors[code - 1]));
        QCOMPARE(shownButtons(box), QStringList{"Ok"});
        QCOMPARE(box.printerError(), code);
        QCOMPARE(box.kind(), -1);
    }
    BrevMessageBox box(ErrTransfer, nullptr);
    QCOMPARE(runWith(box, [&box] { buttonAt(box, 0)->click(); }), 1);
}

void TestMessageBox::openErrorBoxesFollowLifetime()
{
    {
        BrevMessageBox a(Error(5), nullptr);
        QVERIFY(BrevMessageBox::isErrorBoxOpen(5));
        QVERIFY(!BrevMessageBox::isErrorBoxOpen(6));
        {
            BrevMessageBox b(Error(6), nullptr);
            BrevMessageBox kindBox(5); // a message kind never enters the list
            QCOMPARE(openErrorBoxes, (QVector<int>{1005, 1006}));
        }
        QCOMPARE(openErrorBoxes, QVector<int>{1005});
    }
    QVERIFY(openErrorBoxes.isEmpty());
}

void TestMessageBox::outOfRange()
{
    BrevMessageBox big(59);
    QCOMPARE(big.titleText(), QStringLiteral("prompt"));
    QCOMPARE(big.text(), QStringLiteral("prompt info"));
    BrevMessageBox negative(-3);
    QCOMPARE(negative.text(), QStringLiteral("prompt info"));
    {
        BrevMessageBox code(Error(40), nullptr);
        QCOMPARE(code.titleText(), QStringLiteral("Error"));
        QCOMPARE(code.text(), QStringLiteral("prompt info"));
        QVERIFY(BrevMessageBox::isErrorBoxOpen(40));
    }
    QVERIFY(!BrevMessageBox::isErrorBoxOpen(40));
}

void TestMessageBox::answerHook()
{
    QList<int> seen;
    bool wasVisible = true;
    BrevMessageBox::setAnswerHook([&](BrevMessageBox& box) {
        seen << (box.kind() >= 0 ? box.kind() : 1000 + box.printerError());
        wasVisible = box.isVisible();
        return box.kind() == 17 ? 2 : box.kind() == 5 ? -1 : 1;
    });
    BrevMessageBox a(17);
    QCOMPARE(a.exec(), 2);
    QCOMPARE(a.result(), 2);
    QVERIFY(!wasVisible);
    BrevMessageBox b(ErrNoSpace, nullptr);
    QCOMPARE(b.exec(), 1);
    // A negative answer shows the box after all.
    BrevMessageBox c(5);
    QCOMPARE(runWith(c, [&c] { buttonAt(c, 1)->click(); }), 0);
    QCOMPARE(seen, (QList<int>{17, 1004, 5}));
}

void TestMessageBox::centring()
{
    QWidget top;
    top.setWindowFlags(Qt::FramelessWindowHint);
    top.setGeometry(100, 80, 800, 600);
    QWidget panel(&top);
    panel.setGeometry(200, 100, 400, 300);
    top.show();
    QVERIFY(QTest::qWaitForWindowExposed(&top));

    BrevMessageBox onTop(1, &top);
    QCOMPARE(onTop.pos(), QPoint(top.x() + 400 - 189, top.y() + 300 - 86));
    // A child parent: its global place counts, not its place inside its window.
    BrevMessageBox onPanel(1, &panel);
    const QPoint g = panel.mapToGlobal(QPoint(0, 0));
    QCOMPARE(onPanel.pos(), QPoint(g.x() + 200 - 189, g.y() + 150 - 86));
    QVERIFY(onPanel.isWindow());
    BrevMessageBox orphan(1, nullptr);
    QCOMPARE(orphan.pos(), QPoint(0, 0));
}

void TestMessageBox::dragStrip_data()
{
    QTest::addColumn<int>("pressY");
    QTest::addColumn<bool>("drags");
    QTest::newRow("y=0") << 0 << false;
    QTest::newRow("y=1") << 1 << true;
    QTest::newRow("y=29") << 29 << true;
    QTest::newRow("y=30") << 30 << false;
}

void TestMessageBox::dragStrip()
{
    QFETCH(int, pressY);
    QFETCH(bool, drags);
    BrevMessageBox box(11);
    box.move(300, 200);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QPoint start = box.pos();
    const QPoint local(10, pressY);
    QMouseEvent press(QEvent::MouseButtonPress, local, box.mapToGlobal(local), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&box, &press);
    const QPoint to(700, 500);
    QMouseEvent move(QEvent::MouseMove, local, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&box, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local, to, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&box, &release);
    if (drags)
        QCOMPARE(box.pos(), to - local);
    else
        QCOMPARE(box.pos(), start);
    // After the release, moves no longer drag.
    QMouseEvent later(QEvent::MouseMove, local, QPoint(50, 60), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&box, &later);
    QCOMPARE(box.pos(), drags ? to - local : start);
}

void TestMessageBox::selfHiding_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("event");
    QTest::addColumn<bool>("hides");
    QTest::newRow("5 transfer finished") << 5 << "sendFinished" << true;
    QTest::newRow("5 transfer running") << 5 << "sendRunning" << false;
    QTest::newRow("5 link lost") << 5 << "linkLost" << true;
    QTest::newRow("5 link up") << 5 << "linkUp" << false;
    QTest::newRow("6 print ended") << 6 << "printEnded" << true;
    QTest::newRow("6 print running") << 6 << "printRunning" << false;
    QTest::newRow("7 slice 10000") << 7 << "slice10000" << true;
    QTest::newRow("7 slice 9999") << 7 << "slice9999" << false;
    QTest::newRow("29 print running") << 29 << "printRunning" << true;
    QTest::newRow("29 print ended") << 29 << "printEnded" << false;
    QTest::newRow("39 link lost") << 39 << "linkLost" << true;
    QTest::newRow("51 link lost") << 51 << "linkLost" << true;
    QTest::newRow("52 link lost") << 52 << "linkLost" << true;
    QTest::newRow("10 link lost") << 10 << "linkLost" << false;
}

void TestMessageBox::selfHiding()
{
    QFETCH(int, kind);
    QFETCH(QString, event);
    QFETCH(bool, hides);
    ThreadPool pool(nullptr);
    CommunicateThread* link = pool.linkWorker();
    FDMSliceProcess* slicer = pool.sliceWorker();
    BrevMessageBox box(kind);
    // The pool asks its own questions on these events; only the box under test is shown.
    BrevMessageBox::setAnswerHook([&box](BrevMessageBox& b) { return &b == &box ? -1 : 0; });
    bool visibleAfter = false;
    const int result = runWith(box, [&] {
        // Emitted from the workers' own threads, as the real workers do.
        auto onLink = [link](std::function<void()> f) { QMetaObject::invokeMethod(link, f, Qt::BlockingQueuedConnection); };
        if (event == "sendFinished" || event == "sendRunning") {
            SendBVTStatus s;
            s.finished = event == "sendFinished";
            s.progress = s.finished ? 10000 : 300;
            onLink([link, s] { emit link->sendBVTStatusChanged(s); });
        } else if (event == "linkLost" || event == "linkUp") {
            const bool up = event == "linkUp";
            onLink([link, up] { emit link->linkStatus(up); });
        } else if (event == "printEnded" || event == "printRunning") {
            SendPrintStatus s;
            s.ended = event == "printEnded";
            onLink([link, s] { emit link->signPrintStatus(s); });
        } else {
            const int p = event == "slice10000" ? 10000 : 9999;
            QMetaObject::invokeMethod(slicer, [slicer, p] { emit slicer->progressChanged(p); },
                                      Qt::BlockingQueuedConnection);
        }
        QTest::qWait(20);
        visibleAfter = box.isVisible();
        if (visibleAfter)
            buttonAt(box, 0)->click();
    });
    QCOMPARE(!visibleAfter, hides);
    QCOMPARE(result, hides ? 0 : 1);
}

void TestMessageBox::enterAnswersFocusedButton()
{
    // Kinds 5, 6, 7 and 25 put the focus on the second button, so Enter answers Cancel.
    for (int kind : {5, 6, 7, 25, 8}) {
        BrevMessageBox box(kind);
        const int result = runWith(box, [&box] {
            QApplication::setActiveWindow(&box);
            QVERIFY(QTest::qWaitForWindowActive(&box));
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &box, Qt::Key_Return);
            if (box.isVisible())
                box.done(-5);
        });
        QCOMPARE(result, kind == 8 ? 1 : 0);
    }
}

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
