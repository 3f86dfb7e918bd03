#include <QtTest>

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>

#include "UI/EditTreeWidget.h"
#include "UI/ModelListWidget.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"
#include "testutil_host.h"

namespace {

QPoint itemCentre(EditTreeWidget* tree, int top)
{
    return tree->visualItemRect(tree->topLevelItem(top)).center();
}

} // namespace

class TestEditTree : public QObject
{
    Q_OBJECT
    FakeHost* host = nullptr;
    EditTreeWidget* tree() { return host->tree; }
    QTableWidget* table() { return host->tree->modelList()->table(); }
    QWidget* cell(int row, int column) { return table()->cellWidget(row, column); }

    void clickItem(int top)
    {
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, itemCentre(tree(), top));
    }

private slots:
    void init()
    {
        host = new FakeHost();
        const char* texts[6] = {"   Model     ◢", "   Move      ◢", "   Rotate    ◢",
                                "   Scale      ◢", "   Cut          ◢", "   Support  ◢"};
        for (int i = 0; i < 6; ++i)
            tree()->topLevelItem(i)->setText(0, QString::fromUtf8(texts[i]));
        host->show();
        QVERIFY(QTest::qWaitForWindowExposed(host));
    }
    void cleanup()
    {
        delete host;
        clearScene();
    }

    void accordion()
    {
        QSignalSpy changed(tree(), &EditTreeWidget::ItemExpandStateChanged);
        clickItem(1);
        QVERIFY(tree()->topLevelItem(1)->isExpanded());
        QCOMPARE(AppData::instance()->getEditMode(), 1);
        QCOMPARE(tree()->contentHeight(), 6 * 70 + 170);
        clickItem(2);
        QVERIFY(!tree()->topLevelItem(1)->isExpanded());
        QVERIFY(tree()->topLevelItem(2)->isExpanded());
        QCOMPARE(AppData::instance()->getEditMode(), 2);
        QCOMPARE(tree()->updateItemStyles(), 1);
        // Closing the open item hands mode 0; opening it again hands nothing.
        clickItem(2);
        QVERIFY(!tree()->topLevelItem(2)->isExpanded());
        QCOMPARE(AppData::instance()->getEditMode(), 0);
        clickItem(2);
        QVERIFY(tree()->topLevelItem(2)->isExpanded());
        QCOMPARE(AppData::instance()->getEditMode(), 0);
        QCOMPARE(changed.count(), 4);
    }

    void modesByText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("mode");
        QTest::newRow("Scale") << "   Scale      ◢" << 3;
        QTest::newRow("Cut") << "   Cut          ◢" << 4;
        QTest::newRow("Support") << "   Support  ◢" << 0;
        QTest::newRow("Chinese rotate") << QString::fromUtf8("   旋转        ◢") << 2;
        QTest::newRow("Chinese cut") << QString::fromUtf8("   切割        ◢") << 4;
        QTest::newRow("unknown keeps") << "   Other" << 7;
    }
    void modesByText()
    {
        QFETCH(QString, text);
        QFETCH(int, mode);
        AppData::instance()->setEditMode(7);
        tree()->topLevelItem(3)->setText(0, text);
        tree()->expandItem(tree()->topLevelItem(3));
        QCOMPARE(AppData::instance()->getEditMode(), mode);
    }

    void supportStyle()
    {
        QSignalSpy style(tree(), &EditTreeWidget::changeStyle);
        tree()->updateItemStyles();
        QCOMPARE(style.count(), 1);
        QCOMPARE(style.last().at(0).toBool(), false);
        tree()->expandItem(tree()->topLevelItem(5));
        tree()->updateItemStyles();
        QCOMPARE(style.count(), 2);
        QCOMPARE(style.last().at(0).toBool(), true);
        tree()->updateItemStyles();
        QCOMPARE(style.count(), 2);
    }

    // The cells keep their widths whatever the font the list is made with (the name column 125
    // px up to six models, 110 from seven), and nothing scrolls the list sideways, which would
    // take the eye column out of reach.
    void nameColumn_data()
    {
        QTest::addColumn<int>("models");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("points"); // the application font's size; 0 keeps it
        QTest::newRow("six") << 6 << 125 << 0;
        QTest::newRow("seven") << 7 << 110 << 0;
        QTest::newRow("six, 20 pt") << 6 << 125 << 20;
        QTest::newRow("seven, 20 pt") << 7 << 110 << 20;
    }
    void nameColumn()
    {
        QFETCH(int, models);
        QFETCH(int, width);
        QFETCH(int, points);
        const QFont before = QApplication::font();
        const auto restore = qScopeGuard([before] { QApplication::setFont(before); });
        if (points > 0) {
            QFont large = before;
            large.setPointSize(points);
            QApplication::setFont(large);
            delete host;
            init();
        }
        for (int i = 0; i < models; ++i)
            addBoxModel("m" + std::to_string(i), 5, 5, 5);
        host->openItem(0);
        host->updateStatus();
        QCOMPARE(table()->rowCount(), models);
        const int widths[5] = {25, 0, width, 25, 25}; // the second column is hidden
        for (int c = 0; c < 5; ++c)
            QCOMPARE(table()->columnWidth(c), widths[c]);
        QCOMPARE(cell(models - 1, 4)->objectName(), QString::number((models - 1) * 5 + 4));
        // The keyboard and a scroll to the last cell leave the eye column in place.
        table()->setFocus();
        table()->setCurrentCell(models - 1, 4);
        table()->scrollTo(table()->model()->index(models - 1, 4));
        QTest::keyClick(table(), Qt::Key_End);
        QCoreApplication::processEvents();
        QCOMPARE(table()->horizontalScrollBar()->value(), 0);
        QCOMPARE(cell(0, 0)->mapTo(table()->viewport(), QPoint()).x(), 0);
        AppData::instance()->removeModel(0);
        host->updateStatus();
        QCOMPARE(table()->rowCount(), models - 1);
    }

    void longNameElided()
    {
        const std::string name = "a_very_long_model_name_that_never_fits_the_field_end";
        MeshModel* m = addBoxModel(name, 5, 5, 5);
        host->updateStatus();
        auto* field = qobject_cast<QLineEdit*>(cell(0, 2));
        QVERIFY(field);
        QCOMPARE(field->toolTip(), QString::fromStdString(name));
        QVERIFY(field->text().contains(QChar(0x2026)));
        QVERIFY(field->text().startsWith("a_"));
        QVERIFY(field->text().endsWith("end"));
        // Leaving the field unchanged keeps the full name.
        emit field->editingFinished();
        QCOMPARE(m->name, name);
        field->setText("other");
        emit field->editingFinished();
        QCOMPARE(m->name, std::string("other"));
    }

    // Supports stay with their model through renames, unique naming and deletion.
    void renameKeepsSupports()
    {
        MessageRecorder answers(1);
        AppData* data = AppData::instance();
        MeshModel* a = addBoxModel("a", 5, 5, 5);
        MeshModel* b = addBoxModel("b", 5, 5, 5);
        addSupportFor(a);
        addSupportFor(b);
        host->updateStatus();
        auto rename = [&](int row, const char* text) {
            auto* field = qobject_cast<QLineEdit*>(cell(row, 2));
            field->setText(text);
            emit field->editingFinished();
        };
        auto owners = [&]() {
            QStringList names;
            for (int i = 0; i < data->supportCount(); ++i)
                names << QString::fromStdString(data->getSupport(i)->getOwnerName());
            return names;
        };
        // The renamed model yields the taken name; the list shows the name it got.
        rename(0, "b");
        QCOMPARE(b->name, std::string("b"));
        QCOMPARE(a->name, std::string("b(1)"));
        QCOMPARE(qobject_cast<QLineEdit*>(cell(0, 2))->toolTip(), QStringLiteral("b(1)"));
        QCOMPARE(owners(), (QStringList{"b(1)", "b"}));
        // Unique naming of a duplicate takes the duplicate's supports along.
        b->name = "b(1)";
        host->updateStatus();
        QCOMPARE(owners(), (QStringList{"b(1)", QString::fromStdString(b->name)}));
        // Deleting one model deletes its own support only; a renamed one leaves none behind.
        qobject_cast<QPushButton*>(cell(1, 4))->click();
        QCOMPARE(owners(), QStringList{"b(1)"});
        QCOMPARE(a->hasSupport, 1);
        rename(0, "x");
        QCOMPARE(owners(), QStringList{"x"});
        qobject_cast<QPushButton*>(cell(0, 4))->click();
        QCOMPARE(data->supportCount(), 0);
    }

    void copyLimit_data()
    {
        QTest::addColumn<int>("models");
        QTest::addColumn<int>("after");
        QTest::addColumn<QList<int>>("kinds");
        QTest::newRow("49 adds the 50th") << 49 << 50 << QList<int>();
        QTest::newRow("50 refuses") << 50 << 50 << QList<int>{12};
    }
    void copyLimit()
    {
        QFETCH(int, models);
        QFETCH(int, after);
        QFETCH(QList<int>, kinds);
        MessageRecorder answers(1);
        for (int i = 0; i < models; ++i)
            addBoxModel("m" + std::to_string(i), 5, 5, 5);
        host->updateStatus();
        host->openItem(0);
        MeshModel* source = AppData::instance()->getModel(0);
        QTest::mouseClick(cell(0, 3), Qt::LeftButton);
        QCOMPARE(AppData::instance()->modelCount(), after);
        QCOMPARE(answers.kinds, kinds);
        if (after > models) {
            const MeshModel* copy = AppData::instance()->getModel(after - 1);
            QCOMPARE(copy->meshSlot, source->meshSlot);
            QVERIFY(copy->position[0] - source->position[0] >= 0.0 && copy->position[0] - source->position[0] < 10.0);
            QVERIFY(copy->position[1] - source->position[1] >= 0.0 && copy->position[1] - source->position[1] < 10.0);
            QCOMPARE(copy->position[2], source->position[2]);
            QCOMPARE(AppData::instance()->getSelectedIndex(), 0);
        }
    }

    void copyGuardDeletesSupports()
    {
        MessageRecorder answers(1);
        MeshModel* m = addBoxModel("box", 5, 5, 5);
        addSupportFor(m);
        host->updateStatus();
        host->openItem(0);
        QTest::mouseClick(cell(0, 3), Qt::LeftButton);
        QCOMPARE(answers.kinds, QList<int>{20});
        QVERIFY(!AppData::instance()->hasSupports());
        QCOMPARE(AppData::instance()->modelCount(), 1);
        QTest::mouseClick(cell(0, 3), Qt::LeftButton);
        QCOMPARE(AppData::instance()->modelCount(), 2);
        QCOMPARE(AppData::instance()->getModel(1)->hasSupport, 0);
    }

    void deleteAndVisibility()
    {
        MessageRecorder answers(1);
        addBoxModel("a", 5, 5, 5);
        MeshModel* b = addBoxModel("b", 5, 5, 5);
        host->updateStatus();
        auto* eye = qobject_cast<QPushButton*>(cell(1, 0));
        eye->click();
        QVERIFY(!b->visible);
        QCOMPARE(eye->toolTip(), QStringLiteral("Show Model"));

        // Refused before the slice question: nothing is dropped for a delete that cannot be made.
        AppData::instance()->setSupportEditing(true);
        const int erases = host->eraseAsked;
        qobject_cast<QPushButton*>(cell(0, 4))->click();
        QCOMPARE(answers.kinds, QList<int>{58});
        QCOMPARE(host->eraseAsked, erases);
        QCOMPARE(AppData::instance()->modelCount(), 2);
        AppData::instance()->setSupportEditing(false);

        host->allowErase = false;
        qobject_cast<QPushButton*>(cell(0, 4))->click();
        QCOMPARE(AppData::instance()->modelCount(), 2);
        host->allowErase = true;
        qobject_cast<QPushButton*>(cell(0, 4))->click();
        QCOMPARE(AppData::instance()->modelCount(), 1);
        QCOMPARE(AppData::instance()->getModel(0)->name, std::string("b"));
        QCOMPARE(table()->rowCount(), 1);
    }

    void selectByName()
    {
        addBoxModel("a", 5, 5, 5);
        addBoxModel("b", 5, 5, 5);
        host->updateStatus();
        host->openItem(0);
        QTest::mouseClick(cell(1, 2), Qt::LeftButton);
        QCOMPARE(AppData::instance()->getSelectedIndex(), 1);
        QCOMPARE(table()->currentRow(), 1);
    }

    // The paste key copies as the copy button does: the supports are asked about first, and the
    // copy waits for the next paste.
    void pasteAsksLikeCopy()
    {
        MessageRecorder answers(1);
        emit host->signPaste();
        QCOMPARE(AppData::instance()->modelCount(), 0);
        MeshModel* m = addBoxModel("box", 5, 5, 5);
        addSupportFor(m);
        emit host->signPaste();
        QCOMPARE(answers.kinds, QList<int>{20});
        QCOMPARE(AppData::instance()->modelCount(), 1);
        QVERIFY(!AppData::instance()->hasSupports());
        emit host->signPaste();
        QCOMPARE(AppData::instance()->modelCount(), 2);
        QCOMPARE(answers.kinds.size(), 1);
    }

    void scrollLimiter()
    {
        auto* bar = tree()->verticalScrollBar();
        for (int i = 0; i < 6; ++i)
            tree()->expandItem(tree()->topLevelItem(i));
        host->resize(300, 300);
        QApplication::processEvents();
        QVERIFY(bar->maximum() > 100);
        bar->setValue(10); // first value only arms the limiter
        bar->setValue(30);
        QCOMPARE(bar->value(), 30);
        bar->setValue(bar->maximum());
        QCOMPARE(bar->value(), 50);
        bar->setValue(0);
        QCOMPARE(bar->value(), 30);
    }
};

QTEST_MAIN(TestEditTree)
#include "tst_edittree.moc"
