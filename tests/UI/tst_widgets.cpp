#include <QtTest>

#include <QDialog>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

#include "UI/BVDoubleSpinBox.h"
#include "UI/BVLineEdit.h"
#include "UI/BVPushBtn.h"
#include "UI/BVSpinBox.h"
#include "UI/BVStateButton.h"
#include "UI/BVThreeBtn.h"
#include "UI/BVTwoBtn.h"
#include "UI/BVWaitDialog.h"
#include "UI/BWDoubleSpinBox.h"
#include "UI/IconHelper.h"
#include "UI/ZCyclProgress.h"

class TestWidgets : public QObject
{
    Q_OBJECT

private slots:
    void spinBoxZeroRule_data();
    void spinBoxZeroRule();
    void returnDoesNotReachDialog();
    void plusGoesToParent();
    void twoButtons();
    void threeButtons();
    void stateButtonFrames_data();
    void stateButtonFrames();
    void lineEditClicks();
    void pushButtonDoubleClick();
    void steppedSpinBox();
    void spinnerFullCircle();
    void waitDialog();
    void iconFont();
};

void TestWidgets::spinBoxZeroRule_data()
{
    QTest::addColumn<bool>("isDouble");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("swallowed");
    QTest::newRow("int 000") << false << "000" << true;
    QTest::newRow("int 100") << false << "100" << false;
    QTest::newRow("int 00") << false << "00" << false;
    QTest::newRow("double 12.50") << true << "12.50" << true;
    QTest::newRow("double 0000") << true << "0000" << false; // not more than 4 characters
    QTest::newRow("double 00000") << true << "00000" << true;
    QTest::newRow("double 1000") << true << "1000" << false;
}

void TestWidgets::spinBoxZeroRule()
{
    QFETCH(bool, isDouble);
    QFETCH(QString, shown);
    QFETCH(bool, swallowed);
    QAbstractSpinBox* box;
    if (isDouble) {
        auto* d = new BVDoubleSpinBox;
        d->setRange(0, 1000000);
        d->setDecimals(2);
        box = d;
    } else {
        auto* i = new BVSpinBox;
        i->setRange(0, 1000000);
        box = i;
    }
    QScopedPointer<QAbstractSpinBox> owner(box);
    box->show();
    QLineEdit* edit = box->findChild<QLineEdit*>();
    edit->setText(shown);
    edit->end(false);
    QTest::keyClick(box, Qt::Key_0);
    QCOMPARE(edit->text(), swallowed ? shown : shown + "0");
}

void TestWidgets::returnDoesNotReachDialog()
{
    for (int which = 0; which < 2; ++which) {
        QDialog dialog;
        auto* layout = new QVBoxLayout(&dialog);
        QAbstractSpinBox* box = which == 0 ? static_cast<QAbstractSpinBox*>(new BVSpinBox)
                                           : static_cast<QAbstractSpinBox*>(new BVDoubleSpinBox);
        auto* ok = new QPushButton("ok");
        ok->setDefault(true);
        layout->addWidget(box);
        layout->addWidget(ok);
        QSignalSpy clicked(ok, &QPushButton::clicked);
        dialog.show();
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Enter);
        QCOMPARE(clicked.count(), 0);
        QVERIFY(dialog.isVisible());
        // A plain spin box lets Return through, which is what the rule is for.
        auto* plain = new QSpinBox;
        layout->addWidget(plain);
        QTest::keyClick(plain, Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
    }
}

void TestWidgets::plusGoesToParent()
{
    struct Parent : QWidget
    {
        int plus = 0;
        void keyPressEvent(QKeyEvent* e) override
        {
            if (e->key() == Qt::Key_Plus)
                ++plus;
        }
    } parent;
    auto* box = new BVSpinBox(&parent);
    box->setValue(5);
    parent.show();
    QTest::keyClick(box, Qt::Key_Plus);
    QCOMPARE(parent.plus, 1);
    QCOMPARE(box->value(), 5);
}

void TestWidgets::twoButtons()
{
    BVTwoBtn two;
    QCOMPARE(two.value(), 1); // yes checked at start
    two.setButtons("Off", "On", 3, 7);
    QCOMPARE(two.value(), 7);
    two.setValue(3);
    QCOMPARE(two.value(), 3);
    two.setValue(99); // neither value: unchanged
    QCOMPARE(two.value(), 3);
    two.setValue(7);
    QCOMPARE(two.value(), 7);
    two.setYesChecked(false);
    QCOMPARE(two.value(), 3);
    QSignalSpy spy(&two, &BVTwoBtn::sendClicked);
    two.findChild<QPushButton*>("btn_yes")->click();
    two.findChild<QPushButton*>("btn_no")->click();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    QCOMPARE(two.findChild<QPushButton*>("btn_no")->text(), QStringLiteral("Off"));
}

void TestWidgets::threeButtons()
{
    BVThreeBtn three;
    QVERIFY(three.findChild<QPushButton*>("btn_2")->isChecked());
    QSignalSpy spy(&three, &BVThreeBtn::sendClicked);
    three.findChild<QPushButton*>("btn_3")->click();
    three.findChild<QPushButton*>("btn_1")->click();
    three.setButtonTexts("0.1", "0.5", "2.5");
    three.findChild<QPushButton*>("btn_3")->click();
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(0).at(0).toDouble(), 10.0);
    QCOMPARE(spy.at(1).at(0).toDouble(), 1.0);
    QCOMPARE(spy.at(2).at(0).toDouble(), 2.5);
    QVERIFY(!three.findChild<QPushButton*>("btn_1")->isChecked());
}

void TestWidgets::stateButtonFrames_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<QString>("offsets");
    QTest::newRow("enabled play") << true << false << "0 156 0 0";
    QTest::newRow("enabled stop") << true << true << "0 52 0 104";
    QTest::newRow("disabled play") << false << false << "0 104 0 52";
    QTest::newRow("disabled stop") << false << true << "0 0 0 156";
}

void TestWidgets::stateButtonFrames()
{
    QFETCH(bool, enabled);
    QFETCH(bool, stop);
    QFETCH(QString, offsets);
    BVStateButton b;
    QCOMPARE(b.state(), QString(QChar(0xF04D)));
    b.setState(stop ? QString(QChar(0xF04D)) : QString(QChar(0xF04B)));
    b.setDisabled(!enabled);
    QVERIFY2(b.styleSheet().contains(") " + offsets + ";"), qPrintable(b.styleSheet()));
    QVERIFY(b.styleSheet().contains(":/add/Resources/new/add/play.png"));
}

void TestWidgets::lineEditClicks()
{
    BVLineEdit edit;
    edit.setText("cube");
    edit.show();
    QSignalSpy clicked(&edit, &BVLineEdit::clicked);
    QTest::mouseClick(&edit, Qt::LeftButton);
    QVERIFY(edit.isReadOnly());
    QCOMPARE(clicked.count(), 1);
    QTest::mouseDClick(&edit, Qt::LeftButton);
    QVERIFY(!edit.isReadOnly());
    QCOMPARE(edit.alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
}

void TestWidgets::pushButtonDoubleClick()
{
    BVPushBtn b;
    b.show();
    QSignalSpy dbl(&b, &BVPushBtn::DblClick);
    QTest::mouseDClick(&b, Qt::LeftButton);
    QCOMPARE(dbl.count(), 1);
}

void TestWidgets::steppedSpinBox()
{
    BWDoubleSpinBox w;
    w.setMinimum(0);
    w.setMaximum(10);
    w.setDecimals(1);
    w.setSingleStep(0.5);
    w.setSuffix("mm");
    w.setValue(2);
    QSignalSpy changed(&w, &BWDoubleSpinBox::valueChanged);
    w.findChild<QPushButton*>("btn_add")->click();
    w.findChild<QPushButton*>("btn_add")->click();
    w.findChild<QPushButton*>("btn_dec")->click();
    QCOMPARE(changed.count(), 3);
    QCOMPARE(changed.last().at(0).toDouble(), 2.5);
    QCOMPARE(w.text(), QStringLiteral("2.5mm"));
    w.setValue(10);
    w.findChild<QPushButton*>("btn_add")->click();
    QCOMPARE(w.text(), QStringLiteral("10.0mm"));
}

void TestWidgets::spinnerFullCircle()
{
    ZCyclProgress spinner(":/new/wait", 18);
    QCOMPARE(spinner.size(), QSize(84, 84));
    spinner.startAnimation(25);
    const int id = spinner.animationTimer();
    QVERIFY(id != 0);
    for (int tick = 1; tick <= 20; ++tick) {
        QTimerEvent e(id);
        QCoreApplication::sendEvent(&spinner, &e);
        if (tick == 10)
            QCOMPARE(spinner.currentAngle(), 180.0);
    }
    QCOMPARE(spinner.currentAngle(), 0.0); // a full circle
    QTimerEvent foreign(id + 1000);
    QCoreApplication::sendEvent(&spinner, &foreign);
    QCOMPARE(spinner.currentAngle(), 0.0);
    spinner.stopAnimation();
    QCOMPARE(spinner.animationTimer(), 0);
    QVERIFY(spinner.isHidden());
}

void TestWidgets::waitDialog()
{
    QWidget window;
    window.resize(1000, 700);
    window.setAcceptDrops(true);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!waitingFlag);
    {
        BVWaitDialog wait(&window);
        QVERIFY(waitingFlag);
        QVERIFY(!wait.isWindow()); // an overlay inside the main window
        QCOMPARE(wait.geometry(), QRect(0, 0, 1000, 700));
        QCOMPARE(wait.spinner()->pos(), QPoint(500 - 42, 350 - 42));
        bool openAfterKeys = false;
        bool dropSwallowed = false;
        QTimer::singleShot(0, &wait, [&] {
            QTest::keyClick(&wait, Qt::Key_Escape);
            QTest::keyClick(&wait, Qt::Key_Return);
            openAfterKeys = wait.isVisible();
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile("/tmp/x.stl")});
            // A drag is delivered to whoever accepted its entry: the overlay, not the window.
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&wait, &enter);
            QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&wait, &drop);
            dropSwallowed = drop.isAccepted() && drop.dropAction() == Qt::IgnoreAction;
            wait.DoneClose();
        });
        QCOMPARE(wait.exec(), 2);
        QVERIFY(openAfterKeys);
        QVERIFY(dropSwallowed);
        QVERIFY(!waitingFlag);
    }
    {
        BVWaitDialog abandoned(&window);
        QVERIFY(waitingFlag);
    }
    QVERIFY(!waitingFlag); // never left set by a dialog that is gone
}

void TestWidgets::iconFont()
{
    IconHelper* icons = IconHelper::instance();
    QCOMPARE(IconHelper::instance(), icons);
    QVERIFY(icons->isLoaded());
    QPushButton b;
    icons->setIcon(&b, QChar(0xF0E2), 14);
    QCOMPARE(b.text(), QString(QChar(0xF0E2)));
    QCOMPARE(b.font().pointSize(), 14);
    QCOMPARE(icons->iconFont(9).pointSize(), 9);
    QVERIFY(QFontDatabase().families().contains(b.font().family()));
}

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
