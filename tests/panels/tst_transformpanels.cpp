#include <QtTest>

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "UI/BVDoubleSpinBox.h"
#include "UI/EditTreeWidget.h"
#include "UI/MoveModelWidget.h"
#include "UI/RotateModelWidget.h"
#include "UI/ScaleModelWidget.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"
#include "testutil_host.h"

class TestTransformPanels : public QObject
{
    Q_OBJECT
    FakeHost* host = nullptr;
    MoveModelWidget* move() { return host->tree->movePanel(); }
    RotateModelWidget* rotate() { return host->tree->rotatePanel(); }
    ScaleModelWidget* scale() { return host->tree->scalePanel(); }

private slots:
    void init()
    {
        host = new FakeHost();
        host->show();
        QVERIFY(QTest::qWaitForWindowExposed(host));
    }
    void cleanup()
    {
        delete host;
        clearScene();
    }

    void moveButtons()
    {
        MeshModel* m = addBoxModel("box", 10, 10, 10);
        const double d[3] = {5, -7, 3};
        m->translate(d);
        host->updateStatus();
        QCOMPARE(move()->form().SpinBox_moveY->value(), -7.0);

        move()->form().btn_movetoZ0->click();
        QCOMPARE(double(m->getBottomCenter()[2]), 0.0);
        QCOMPARE(double(m->getBottomCenter()[0]), 5.0);
        move()->form().btn_movecenter->click();
        QCOMPARE(double(m->getBottomCenter()[0]), 0.0);
        QCOMPARE(double(m->getBottomCenter()[1]), 0.0);
        // The boxes follow the model; their own change handler moves nothing further.
        QCOMPARE(move()->form().SpinBox_moveX->value(), 0.0);
        move()->form().SpinBox_moveZ->setValue(12.5);
        QCOMPARE(double(m->getBottomCenter()[2]), 12.5);
        QCOMPARE(AppData::instance()->getEditMode(), 1);
        move()->form().btn_reset->click();
        QCOMPARE(double(m->getBottomCenter()[2]), 0.0);
        QVERIFY(host->statusUpdates >= 4);
    }

    void wrappedDegrees_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("degrees");
        QTest::newRow("400") << 400.0 << 40;
        QTest::newRow("360 stays") << 360.0 << 360;
        QTest::newRow("720") << 720.0 << 0;
        QTest::newRow("-10") << -10.0 << 351;
        QTest::newRow("-400") << -400.0 << 321;
        QTest::newRow("45.4") << 45.4 << 45;
        QTest::newRow("45.5 rounds up") << 45.5 << 46;
        QTest::newRow("huge typed number") << 1e15 << int(std::fmod(1e15, 360.0));
    }
    void wrappedDegrees()
    {
        QFETCH(double, value);
        QFETCH(int, degrees);
        QCOMPARE(RotateModelWidget::wrappedDegrees(value), degrees);
    }

    void typedAngles()
    {
        MeshModel* m = addBoxModel("box", 10, 10, 10);
        host->updateStatus();
        QLineEdit* x = rotate()->form().letRotate_x;
        x->setText("400");
        QCOMPARE(m->rotationAngles[0], 40.0);
        QCOMPARE(AppData::instance()->getEditMode(), 2);
        // The refresh shows the stored angle on both controls.
        QCOMPARE(rotate()->form().hsdRotate_x->value(), 40);
        QCOMPARE(x->text(), QStringLiteral("40"));
        x->setText("360");
        QCOMPARE(m->rotationAngles[0], 360.0);
        x->setText("");
        QCOMPARE(m->rotationAngles[0], 0.0);
        // A very long number is accepted by the validator and must not overflow.
        x->setText("99999999999999999999");
        QVERIFY(m->rotationAngles[0] >= 0.0 && m->rotationAngles[0] <= 360.0);
        rotate()->form().hsdRotate_z->setValue(45);
        QCOMPARE(m->rotationAngles[2], 45.0);
        QCOMPARE(rotate()->form().letRotate_z->text(), QStringLiteral("45"));
        // The refresh shows whole degrees but keeps the stored fraction (mouse rotation sets these).
        m->setAxisRotation(1, 45.7);
        host->updateStatus();
        QCOMPARE(rotate()->form().hsdRotate_y->value(), 45);
        QCOMPARE(m->rotationAngles[1], 45.7);
    }

    void presetChecks_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("z");
        QTest::addColumn<QString>("checked");
        QTest::newRow("front") << 270 << 0 << 0 << "btnRotate_front";
        QTest::newRow("back") << 90 << 0 << 0 << "btnRotate_back";
        QTest::newRow("left") << 0 << 90 << 0 << "btnRotate_left";
        QTest::newRow("right") << 0 << 270 << 0 << "btnRotate_right";
        QTest::newRow("top") << 0 << 180 << 0 << "btnRotate_top";
        QTest::newRow("down") << 0 << 0 << 0 << "btnRotate_down";
        QTest::newRow("none") << 10 << 0 << 0 << "btn_hide";
        QTest::newRow("keeps previous") << 90 << 90 << 0 << "btnRotate_left";
    }
    void presetChecks()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(int, z);
        QFETCH(QString, checked);
        rotate()->checkRotateBtn(0, 90, 0);
        rotate()->checkRotateBtn(x, y, z);
        const auto buttons = rotate()->findChildren<QPushButton*>();
        int count = 0;
        for (QPushButton* b : buttons) {
            if (b->isChecked()) {
                ++count;
                QCOMPARE(b->objectName(), checked);
            }
        }
        QCOMPARE(count, 1);
    }

    void presetButtonsRotate()
    {
        MeshModel* m = addBoxModel("box", 10, 20, 30);
        host->updateStatus();
        rotate()->form().btnRotate_front->click();
        QCOMPARE(m->rotationAngles[0], 270.0);
        QVERIFY(rotate()->form().btnRotate_front->isChecked());
        // Rotated 270 about X, the box is 30 deep and 20 high.
        QVERIFY(std::fabs(m->size[1] - 30.0) < 1e-6);
        QVERIFY(std::fabs(m->size[2] - 20.0) < 1e-6);
        rotate()->form().btnRotate_down->click();
        QCOMPARE(m->rotationAngles[0], 0.0);
        QVERIFY(std::fabs(m->size[2] - 30.0) < 1e-6);
    }

    void scaleBySize()
    {
        MeshModel* m = addBoxModel("box", 50, 20, 10);
        host->updateStatus();
        QCOMPARE(scale()->form().dsbScale_y->value(), 20.0);
        scale()->form().dsbScale_x->setValue(100.0);
        QVERIFY(std::fabs(m->size[0] - 100.0) < 1e-6);
        QVERIFY(std::fabs(m->size[1] - 40.0) < 1e-6);
        QVERIFY(std::fabs(m->size[2] - 20.0) < 1e-6);
        QCOMPARE(AppData::instance()->getEditMode(), 3);
        // Scaling keeps the bottom centre.
        QVERIFY(std::fabs(m->getBottomCenter()[2]) < 1e-4);
        QCOMPARE(scale()->form().dsbScale_y->value(), 40.0);
        QCOMPARE(scale()->form().dsbScale_s->value(), 2.0);
        // A box stepped without the focus (its menu's "Step up") follows the model again.
        scale()->form().dsbScale_x->stepBy(1);
        QVERIFY(std::fabs(m->size[0] - 100.1) < 1e-6);
        m->setScale(1.0);
        host->updateStatus();
        QCOMPARE(scale()->form().dsbScale_x->value(), 50.0);
    }

    void undoWithFactor()
    {
        MeshModel* m = addBoxModel("box", 10, 10, 10);
        m->factor = {0.5, 0.5, 0.5};
        m->updateBounds();
        host->updateStatus();
        QCOMPARE(scale()->form().dsbScale_s->value(), 0.5);
        scale()->form().dsbScale_s->setValue(0.75);
        QVERIFY(std::fabs(m->scale[0] - 1.5) < 1e-9);
        scale()->form().btnScale_undo->click();
        QVERIFY(std::fabs(m->scale[0] - 2.0) < 1e-9);
        QCOMPARE(scale()->form().dsbScale_s->value(), 1.0);
    }

    // A refused erase question swallows the click; supports are asked about once and the click
    // is swallowed even on yes; a click that changes nothing asks nothing.
    void editGuard()
    {
        MessageRecorder answers(1);
        MeshModel* m = addBoxModel("box", 10, 10, 10);
        const double up[3] = {0, 0, 5};
        m->translate(up);
        host->updateStatus();
        host->openItem(1);
        QPushButton* centre = move()->form().btn_movecenter;
        const double side[3] = {3, 0, 0};
        m->translate(side);

        host->allowErase = false;
        QTest::mouseClick(centre, Qt::LeftButton);
        QCOMPARE(double(m->getBottomCenter()[0]), 3.0);
        QCOMPARE(host->eraseAsked, 1);

        host->allowErase = true;
        addSupportFor(m);
        QCOMPARE(m->hasSupport, 1);
        QTest::mouseClick(centre, Qt::LeftButton);
        QCOMPARE(answers.kinds, QList<int>{20});
        QCOMPARE(double(m->getBottomCenter()[0]), 3.0);
        QVERIFY(!AppData::instance()->hasSupports());
        QCOMPARE(m->hasSupport, 0);
        QTest::mouseClick(centre, Qt::LeftButton);
        QCOMPARE(double(m->getBottomCenter()[0]), 0.0);

        // Standing a raised model on the plate leaves its supports in the air: asked as well.
        addSupportFor(m);
        QTest::mouseClick(move()->form().btn_movetoZ0, Qt::LeftButton);
        QCOMPARE(answers.kinds, (QList<int>{20, 20}));
        QCOMPARE(double(m->getBottomCenter()[2]), 5.0);
        QTest::mouseClick(move()->form().btn_movetoZ0, Qt::LeftButton);
        QCOMPARE(double(m->getBottomCenter()[2]), 0.0);
        // On the plate already, it changes nothing and asks nothing.
        addSupportFor(m);
        QTest::mouseClick(move()->form().btn_movetoZ0, Qt::LeftButton);
        QCOMPARE(answers.kinds.size(), 2);

        // The rotate panel's presets are guarded the same way; refusing keeps the supports.
        answers.answer = 0;
        host->openItem(2);
        QTest::mouseClick(rotate()->form().btnRotate_back, Qt::LeftButton);
        QCOMPARE(answers.kinds.size(), 3);
        QCOMPARE(m->rotationAngles[0], 0.0);
        QVERIFY(AppData::instance()->hasSupports());
        // The refused preset shows the model's own orientation again.
        QVERIFY(rotate()->form().btnRotate_down->isChecked());

        // A disabled panel asks nothing.
        host->tree->setPanelsDisabled(true);
        QTest::mouseClick(rotate()->form().btnRotate_back, Qt::LeftButton);
        QCOMPARE(answers.kinds.size(), 3);
    }

    void noModelDoesNothing()
    {
        host->updateStatus();
        move()->moveAxisTo(0, 5.0);
        rotate()->setAxisAngle(0, 90.0);
        rotate()->setAngles(90, 0, 0);
        scale()->setAxisSize(0, 10.0);
        scale()->form().btnScale_undo->click();
        QCOMPARE(scale()->form().dsbScale_x->value(), 50.0);
        QCOMPARE(move()->form().SpinBox_moveX->value(), 0.0);
    }
};

QTEST_MAIN(TestTransformPanels)
#include "tst_transformpanels.moc"
