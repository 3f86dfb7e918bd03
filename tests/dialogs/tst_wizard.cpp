#include <QtTest>

#include <QPushButton>
#include <QStackedWidget>

#include "UI/Wizard.h"
#include "scene/AppData.h"
#include "testutil_dialogs.h"

namespace {

const QPoint kInHole(10, 300); // left of the later pages' pictures
const QPoint kHoleCorners[] = {QPoint(1, 78), QPoint(214, 510)};
const QPoint kOutsideHole[] = {QPoint(0, 300), QPoint(215, 60), QPoint(100, 511), QPoint(1200, 700)};

int alphaAt(Wizard& w, QPoint p)
{
    return qAlpha(renderTransparent(&w).pixel(p));
}

QImage picture(Wizard& w, const char* name)
{
    return w.findChild<QWidget*>(QLatin1String(name))->grab().toImage();
}

} // namespace

class TestWizard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(useTemporaryDataDir()); }

    void clearHoleOnFirstPageOnly()
    {
        Wizard w(nullptr);
        w.resize(1280, 760);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(alphaAt(w, kInHole), 0);
        for (QPoint p : kHoleCorners)
            QCOMPARE(alphaAt(w, p), 0);
        for (QPoint p : kOutsideHole)
            QCOMPARE(alphaAt(w, p), 128);

        auto* stack = w.findChild<QStackedWidget*>("stackedWidget");
        QTest::mouseClick(w.findChild<QPushButton*>("btn_next1"), Qt::LeftButton);
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("page_2"));
        QCOMPARE(alphaAt(w, kInHole), 128);
        QTest::mouseClick(w.findChild<QPushButton*>("btn_next2"), Qt::LeftButton);
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("page_3"));
        QCOMPARE(alphaAt(w, kInHole), 128);
        QTest::mouseClick(w.findChild<QPushButton*>("btn_finish"), Qt::LeftButton);
        QVERIFY(!w.isVisible());
    }

    void firstPictureBesideLeftPanel()
    {
        Wizard w(nullptr);
        w.resize(1255, 720);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QWidget* pic = w.findChild<QWidget*>("widget");
        QCOMPARE(QRect(pic->mapTo(&w, QPoint()), pic->size()), QRect(215, 78, 568, 521));
    }

    // Each picture exists in both languages, fits its widget, and the two sets differ.
    void pictureResources_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::newRow("left") << "wizard-left" << QSize(568, 521);
        QTest::newRow("top") << "wizard-top" << QSize(780, 488);
        QTest::newRow("help") << "wizard-help" << QSize(780, 529);
    }
    void pictureResources()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        const QImage en(":/new/" + name + "-en");
        const QImage cn(":/new/" + name + "-cn");
        QCOMPARE(en.size(), size);
        QCOMPARE(cn.size(), size);
        QVERIFY(en != cn);
    }

    void picturesFollowLanguage_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("set");
        QTest::newRow("English") << 0 << "en";
        QTest::newRow("Chinese") << 1 << "cn";
        QTest::newRow("other keeps the form's set") << 7 << "cn";
    }
    void picturesFollowLanguage()
    {
        QFETCH(int, language);
        QFETCH(QString, set);
        AppData::instance()->setLanguage(1);
        Wizard chinese(nullptr);
        AppData::instance()->setLanguage(0);
        Wizard english(nullptr);
        AppData::instance()->setLanguage(language);
        Wizard w(nullptr);
        for (const char* name : {"widget", "widget_2", "widget_3"}) {
            const QImage shown = picture(w, name);
            QCOMPARE(shown, picture(set == "en" ? english : chinese, name));
            QVERIFY(shown != picture(set == "en" ? chinese : english, name));
        }
    }

    // A change of language reaches only wizards made after it.
    void languageSwitchTakesEffectNextTime()
    {
        AppData::instance()->setLanguage(0);
        Wizard open(nullptr);
        const QImage before = picture(open, "widget");
        AppData::instance()->setLanguage(1);
        Wizard next(nullptr);
        QCOMPARE(picture(open, "widget"), before);
        QVERIFY(picture(next, "widget") != before);
    }

    void translated()
    {
        Wizard w(nullptr);
        QVERIFY(setChinese(true));
        const QString next = w.findChild<QPushButton*>("btn_next1")->text();
        const QString finish = w.findChild<QPushButton*>("btn_finish")->text();
        QVERIFY(setChinese(false));
        QCOMPARE(w.findChild<QPushButton*>("btn_finish")->text(), QStringLiteral("Finish"));
        QVERIFY(next != QStringLiteral("Next"));
        QVERIFY(finish != QStringLiteral("Finish"));
    }
};

QTEST_MAIN(TestWizard)
#include "tst_wizard.moc"
