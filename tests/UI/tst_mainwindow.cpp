#include <QtTest>

#include <QComboBox>
#include <QDialog>
#include <QPainter>
#include <QFileDialog>
#include <QDirIterator>
#include <QFileSystemModel>
#include <QAbstractItemView>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QSettings>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSemaphore>
#include <QThreadPool>
#include <QStackedWidget>
#include <QTableWidget>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <algorithm>
#include <ctime>
#include <functional>

#include <QCloseEvent>
#include <QDropEvent>
#include <QMimeData>

#include "FileRW/PrintTaskWriter.h"
#include "Thread/FDMSliceProcess.h"
#include "Thread/FileRWThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
#include "UI/ChoiceTypeDialog.h"
#include "UI/EditTreeWidget.h"
#include "UI/MainWindow.h"
#include "UI/ModelListWidget.h"
#include "UI/TextFont.h"
#include "app/Startup.h"
#include "platform/Platform.h"
#include "cutting/CutModelWidget.h"
#include "cutting/CutWorkData.h"
#include "cutting/SectionPreview.h"
#include "cutting/testutil_meshes.h"
#include "render/GLWidget.h"
#include "render/RenderEngine.h"
#include "scene/AppData.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "support/ManualSupportWidget.h"
#include "common/CubeStl.h"
#include "common/TestTime.h"

namespace {

// Pixels of r that stand out from the most common colour there: the ink of a text.
int inkPixels(const QImage& img, const QRect& r)
{
    QHash<QRgb, int> count;
    const QRect area = r & img.rect();
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++count[img.pixel(x, y)];
    QRgb back = 0;
    int most = -1;
    for (auto it = count.cbegin(); it != count.cend(); ++it)
        if (it.value() > most)
            most = it.value(), back = it.key();
    int ink = 0;
    for (auto it = count.cbegin(); it != count.cend(); ++it) {
        const QRgb c = it.key();
        const int d = std::max({std::abs(qRed(c) - qRed(back)), std::abs(qGreen(c) - qGreen(back)),
                                std::abs(qBlue(c) - qBlue(back))});
        if (d > 96)
            ink += it.value();
    }
    return ink;
}

// Median stroke width of the pixels matching the colour: the shorter of the horizontal and
// vertical runs through each of them.
double strokeWidth(const QImage& img, const std::function<bool(QRgb)>& match)
{
    std::vector<int> widths;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            if (!match(img.pixel(x, y)))
                continue;
            int h = 1, v = 1;
            for (int i = x - 1; i >= 0 && match(img.pixel(i, y)); --i) ++h;
            for (int i = x + 1; i < img.width() && match(img.pixel(i, y)); ++i) ++h;
            for (int j = y - 1; j >= 0 && match(img.pixel(x, j)); --j) ++v;
            for (int j = y + 1; j < img.height() && match(img.pixel(x, j)); ++j) ++v;
            widths.push_back(std::min(h, v));
        }
    if (widths.size() < 20)
        return 0;
    std::nth_element(widths.begin(), widths.begin() + widths.size() / 2, widths.end());
    return widths[widths.size() / 2];
}

bool near(QRgb c, int r, int g, int b)
{
    return std::abs(qRed(c) - r) < 24 && std::abs(qGreen(c) - g) < 24 && std::abs(qBlue(c) - b) < 24;
}

// Every (context, source) of a translation file; with finishedOnly, those with a translation.
QSet<QString> messages(const QString& path, bool finishedOnly)
{
    QSet<QString> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    QXmlStreamReader xml(&f);
    QString context, source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation")) {
            const bool unfinished = !xml.attributes().value("type").isEmpty();
            if (!finishedOnly || (!unfinished && !xml.readElementText().isEmpty()))
                out << context + "|" + source;
        }
    }
    return out;
}

// How long the GUI thread went without giving events a turn, seen by a 10 ms timer: the
// longest gap between its ticks, and the longest the thread itself worked within one gap
// (on a busy machine a gap may be mostly time spent waiting for a core).
class StallMeter
{
public:
    StallMeter()
    {
        QObject::connect(&tick, &QTimer::timeout, [this] { note(); });
        tick.start(10);
        clock.start();
        lastCpu = threadCpuMs();
    }
    qint64 longestMs()
    {
        note();
        return longest;
    }
    double longestWorkMs()
    {
        note();
        return longestCpu;
    }

private:
    static double threadCpuMs()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    }
    void note()
    {
        const qint64 now = clock.elapsed();
        const double cpu = threadCpuMs();
        longest = std::max(longest, now - last);
        longestCpu = std::max(longestCpu, cpu - lastCpu);
        last = now;
        lastCpu = cpu;
    }
    QTimer tick;
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    double lastCpu = 0.0, longestCpu = 0.0;
};

const QString SourceRoot = QStringLiteral(TEST_SOURCE_DIR "/../..");

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    MainWindow* window = nullptr;
    QList<int> asked;
    QMap<int, int> answers;
    int fileDialogs = 0;

    void openPanel(int top)
    {
        EditTreeWidget* tree = window->form().twtMain_edit;
        tree->expandItem(tree->topLevelItem(top));
        QCoreApplication::processEvents();
    }

    QPushButton* printButton() { return window->findChild<QPushButton*>("btnMain_print"); }
    QPushButton* cardPrintButton() { return window->findChild<QPushButton*>("btnSD_print"); }

    // Real pointer input through the X server, as a user gives it.
    void xdo(const QStringList& args)
    {
        QCOMPARE(QProcess::execute("xdotool", args), 0);
        QTest::qWait(40);
    }
    QPoint global(const QPoint& p) { return window->mapToGlobal(p); }
    void pointerTo(const QPoint& g) { xdo({"mousemove", QString::number(g.x()), QString::number(g.y())}); }

    // Where the X server has the window: it may lag behind Qt's own geometry under load.
    QPoint serverPos()
    {
        QProcess p;
        p.start("xdotool", {"getwindowgeometry", "--shell", QString::number(window->winId())});
        p.waitForFinished();
        const QString out = QString::fromLatin1(p.readAllStandardOutput());
        const auto field = [&](const char* key) { return QRegularExpression(QString("%1=(-?\\d+)").arg(key)).match(out).captured(1).toInt(); };
        return QPoint(field("X"), field("Y"));
    }

    void placeWindow()
    {
        window->move(200, 100);
        window->layoutOverlays(1000, 760);
        QTRY_COMPARE(window->geometry(), QRect(200, 100, 1000, 760));
        QTRY_COMPARE(serverPos(), QPoint(200, 100));
    }

    // Runs open(), which shows a modal dialog; when it is up, check() looks at it and it is
    // closed again. What check() returns is the fault found (empty: none).
    QString withModal(const std::function<void()>& open, const std::function<QString(QWidget*)>& check)
    {
        QString fault = "no dialog showed";
        int ticks = 0;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, [&] {
            QWidget* m = QApplication::activeModalWidget();
            if (!m || !m->isVisible() || ++ticks < 4)
                return;
            poll.stop();
            fault = check(m);
            if (auto* d = qobject_cast<QDialog*>(m))
                d->reject();
            else
                m->close();
        });
        poll.start();
        open();
        return fault;
    }

    // The visible labels with text whose ink cannot be told from their background.
    static QString unreadableLabels(QWidget* dialog)
    {
        const QImage img = dialog->grab().toImage();
        QStringList bad;
        int seen = 0;
        for (QLabel* l : dialog->findChildren<QLabel*>()) {
            if (!l->isVisibleTo(dialog) || l->text().trimmed().isEmpty() || l->width() < 4 || l->height() < 4)
                continue;
            ++seen;
            const QRect r(l->mapTo(dialog, QPoint(0, 0)), l->size());
            if (inkPixels(img, r) < 6)
                bad << QString("%1 \"%2\"").arg(l->objectName(), l->text());
        }
        if (seen == 0)
            return "no labels";
        return bad.join(", ");
    }

    void loadAndWait(const QString& path, int models)
    {
        window->openFile(path);
        QTRY_COMPARE_WITH_TIMEOUT(AppData::instance()->modelCount(), models, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadPool::instance()->isBusy(), 10000);
        QCoreApplication::processEvents();
    }
    // An empty plate, or one 20 mm cube on it.
    void resetPlate(bool cube)
    {
        window->on_btnMain_Slice_clear();
        AppData* app = AppData::instance();
        app->removeAllSupports();
        while (app->modelCount() > 0) {
            app->selectModel(0, 1);
            QTest::keyClick(window, Qt::Key_Delete);
        }
        if (cube)
            loadAndWait(writeCube(dir.path(), "one.stl", 20.0f), 1);
        asked.clear();
        answers.clear();
        fileDialogs = 0;
    }
    // A small print-task file for the first printer model.
    QString printTask()
    {
        const QString gcode = dir.filePath("engine.gcode");
        QFile f(gcode);
        if (!f.open(QIODevice::WriteOnly))
            return QString();
        f.write(";Print time:\t0:10:00\n;Filament:\t123.2mm\n;Layer height:\t0.200\n;Layer count:\t2\n"
                ";Sliced by BrevEngine\nG28\nG0 Z0.2\nG0 X90 Y80\nG1 X100 Y80 E1\nG0 Z0.4\nG1 X100 Y90 E2\nM25\n");
        f.close();
        const QString target = dir.filePath("job.BVT");
        return PrintTaskWriter(1, 210, 60).postProcess(gcode, target) ? target : QString();
    }
    void showPrintTask()
    {
        window->openFile(printTask());
        QTRY_COMPARE_WITH_TIMEOUT(window->view()->showMode(), 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadPool::instance()->isBusy(), 10000);
        asked.clear();
    }
    // Puts the worker pool into a task: 0 none, 3 slicing, 4 sending.
    void setTask(int task)
    {
        ThreadPool* p = ThreadPool::instance();
        if (task == 3) {
            emit p->sliceWorker()->progressChanged(4000);
        } else if (task == 4) {
            SendBVTStatus s;
            s.progress = 100;
            p->on_SendGcode_StatusChanged(s);
        } else {
            emit p->sliceWorker()->progressChanged(-1);
        }
        QTRY_COMPARE(p->taskState(), task);
        window->updateStatus();
    }

    // One support column under the first model, so the support panel's delete buttons work.
    void addSupport()
    {
        AppData* data = AppData::instance();
        auto* column = new MeshModel();
        column->isSupport = true;
        column->ownerName = data->getModel(0)->name;
        const double foot[3] = {10.0, 10.0, 0.0};
        column->buildSupportBox(foot, 2.0, true);
        data->commitSupport(column);
    }
    // Scrolls the edit tree until the control's centre shows, as a user does with the wheel.
    void revealInTree(QWidget* c)
    {
        EditTreeWidget* tree = window->form().twtMain_edit;
        QWidget* port = tree->viewport();
        for (int i = 0; i < 100; ++i) {
            const QPoint p = c->mapTo(port, c->rect().center());
            QScrollBar* bar = tree->verticalScrollBar();
            if (port->rect().contains(p))
                return;
            const int before = bar->value();
            bar->setValue(before + (p.y() < 0 ? -20 : 20));
            QCoreApplication::processEvents();
            if (bar->value() == before)
                return;
        }
    }

    // Questions answered from `answers`, file dialogs counted and cancelled.
    void answerAsTests()
    {
        BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
            asked << box.kind();
            // Closing: do not save the scene.
            return answers.value(box.kind(), box.kind() == 17 ? 0 : 1);
        });
        MainWindow::setFileDialogHook([this](const QString&, const QString&, const QString&, bool) {
            ++fileDialogs;
            return QStringList();
        });
    }

    SectionPreview* sectionPreview() { return window->findChild<SectionPreview*>(); }
    // A model of the mesh in the scene, selected.
    MeshModel* addScanModel(const MeshData& mesh, const char* name)
    {
        auto* m = new MeshModel();
        m->name = name;
        m->setMeshSlot(MeshList::instance()->add(new MeshData(mesh)));
        AppData::instance()->addModel(m);
        AppData::instance()->selectModel(AppData::instance()->modelCount() - 1, 1);
        window->updateStatus();
        return m;
    }
    QPoint viewPixel(const QVector3D& p)
    {
        QPointF px;
        window->view()->getCamera().project(p, px);
        return px.toPoint();
    }
    void viewMouse(QEvent::Type type, Qt::MouseButton button, const QPoint& at)
    {
        GLWidget* v = window->view();
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent e(type, at, v->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(v, &e);
    }
    // A press at from, moves to `to` in steps a frame apart, a release.
    void viewDrag(Qt::MouseButton button, const QPoint& from, const QPoint& to, int steps)
    {
        viewMouse(QEvent::MouseButtonPress, button, from);
        for (int k = 1; k <= steps; ++k) {
            viewMouse(QEvent::MouseMove, button, from + (to - from) * k / steps);
            QTest::qWait(16);
        }
        viewMouse(QEvent::MouseButtonRelease, button, to);
    }
    // The cut panel in its ready state on the axis button's axis.
    CutModelForm& readyToCut(const QString& axis)
    {
        openPanel(4);
        CutModelForm& cut = window->form().twtMain_edit->cutPanel()->form();
        if (!cut.btnReadyCutting->isChecked())
            cut.btnReadyCutting->click();
        window->findChild<QPushButton*>(axis)->click();
        return cut;
    }
    void leaveCut()
    {
        CutModelForm& cut = window->form().twtMain_edit->cutPanel()->form();
        if (cut.btnReadyCutting->isChecked())
            cut.btnReadyCutting->click();
        QTRY_VERIFY_WITH_TIMEOUT(!sectionPreview()->isBusy(), TestTime::waitMs(60000));
        resetPlate(false);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("LOCALAPPDATA", dir.path().toLocal8Bit());
        char arg0[] = "tarni";
        char* argv[] = {arg0, nullptr};
        initEnvironment(1, argv);
        AppData::instance()->setChoiceType(1);
        answerAsTests();
        window = new MainWindow();
        QVERIFY(window->startUp());
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    void cleanupTestCase()
    {
        window->close();
        delete window;
        BrevMessageBox::setAnswerHook(nullptr);
        MainWindow::setFileDialogHook(nullptr);
    }

    void shows()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("Brevant"));
        QVERIFY(window->isVisible());
        QVERIFY(window->view()->isInitialised());
        // The slice switch waits for a print-task file; the language button shows English.
        QVERIFY(!window->form().btnMain_Slice->isEnabled());
        QVERIFY(!window->form().btnMain_Slice->isChecked());
        QVERIFY(!window->form().cbbMain_language->isChecked());
        QCOMPARE(window->form().letMain_size->text(), QStringLiteral("-"));
        QCOMPARE(window->form().labMain_Status->text(), QStringLiteral("No Task"));
    }

    void machineLabel_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << 0 << "Error";
        QTest::newRow("PX5") << 1 << "PX5";
        QTest::newRow("PX6") << 2 << "PX6";
        QTest::newRow("PX6-H") << 3 << "PX6-H";
    }
    void machineLabel()
    {
        QFETCH(int, type);
        QFETCH(QString, text);
        AppData::instance()->setChoiceType(type);
        window->updateMachineLabel();
        QCOMPARE(window->form().labMain_type->text(), text);
        AppData::instance()->setChoiceType(1);
    }

    void reportedMachineType()
    {
        asked.clear();
        window->onMachineTypeReported(ChoicePX5);
        QVERIFY(asked.isEmpty());
        window->onMachineTypeReported(ChoicePX6B);
        QCOMPARE(asked, QList<int>{3});
        QCOMPARE(AppData::instance()->getChoiceType(), 3);
        QCOMPARE(window->form().labMain_type->text(), QStringLiteral("PX6-H"));
        AppData::instance()->setChoiceType(1);
        window->updateMachineLabel();
    }

    void linkLight()
    {
        ThreadPool* p = ThreadPool::instance();
        p->slotLink(true);
        QTRY_COMPARE(window->form().labMain_light->text(), QStringLiteral("Connected"));
        QVERIFY(!window->form().actionChoiceType->isEnabled());
        p->slotLink(false);
        QTRY_COMPARE(window->form().labMain_light->text(), QStringLiteral("Not Connected"));
        QVERIFY(window->form().actionChoiceType->isEnabled());
    }

    void taskTexts()
    {
        ThreadPool* p = ThreadPool::instance();
        // Slicing, reported by the slicing worker.
        emit p->sliceWorker()->progressChanged(4000);
        QTRY_COMPARE(window->form().labMain_Status->text(), QStringLiteral("Slicing"));
        QVERIFY(!window->form().btnMain_open->isEnabled());
        emit p->sliceWorker()->progressChanged(-1);
        QTRY_COMPARE(window->form().labMain_Status->text(), QStringLiteral("No Task"));
        QVERIFY(window->form().btnMain_open->isEnabled());
        // Loading, reported by the file worker.
        FileRWStatus s;
        s.filePath = "x.stl";
        s.progress = 100;
        emit p->fileWorker()->StatusChanged(s);
        QTRY_COMPARE(window->form().labMain_Status->text(), QStringLiteral("Loading Model"));
        s.finished = true;
        s.success = false;
        emit p->fileWorker()->StatusChanged(s);
        QTRY_COMPARE(window->form().labMain_Status->text(), QStringLiteral("No Task"));
    }

    void loadsModelAndShowsSize()
    {
        const QString path = writeCube(dir.path(), "cube.stl", 20.0f);
        loadAndWait(path, 1);
        AppData::instance()->selectModel(0, 1);
        window->updateStatus();
        QCOMPARE(window->form().letMain_size->text(), QStringLiteral("20.00 x 20.00 x 20.00mm"));
        QVERIFY(window->form().btnMain_save->isEnabled());
        // On the plate and inside the volume: it keeps the place the file gave it.
        const auto bc = AppData::instance()->getModel(0)->getBottomCenter();
        QCOMPARE(bc[0], 10.0f);
        QCOMPARE(bc[1], 10.0f);
        QCOMPARE(bc[2], 0.0f);
        QTest::qWait(200);
        QImage shot = window->grab().toImage();
        QVERIFY(shot.save(QStringLiteral(TARNI_BUILD_DIR "/mainwindow_cube.png")));
    }

    void tooLargeModelIsOfferedOnce()
    {
        asked.clear();
        const QString path = writeCube(dir.path(), "big.stl", 300.0f);
        loadAndWait(path, 2);
        QTRY_VERIFY(asked.contains(42));
        QCOMPARE(asked.count(42), 1);
        MeshModel* big = AppData::instance()->getModel(1);
        QCOMPARE(big->fitPending, 0);
        QCOMPARE(window->view()->getRenderer()->getNewModelTipResult(), 1);
        // A cube's largest axis counts as Z: fitted to three quarters of the 140 mm height.
        QVERIFY2(std::fabs(big->size[2] - 105.0) < 0.05, qPrintable(QString::number(big->size[0])));
        window->updateStatus();
        QTest::qWait(50);
        QCOMPARE(asked.count(42), 1);
    }

    void languageSwitch()
    {
        QVERIFY(window->form().cbbMain_language->isEnabled());
        QTest::mouseClick(window->form().cbbMain_language, Qt::LeftButton);
        QVERIFY(window->form().cbbMain_language->isChecked());
        QCOMPARE(AppData::instance()->getLanguage(), 1);
        QCOMPARE(window->form().labMain_Status->text(), QString::fromUtf8("无任务"));
        QCOMPARE(window->form().btnMain_open->toolTip(), QString::fromUtf8("打开文件"));
        // Qt's own dialogs follow: the file dialog's labels.
        QCOMPARE(QFileDialog::tr("Look in:"), QString::fromUtf8("查找范围："));
        QTest::mouseClick(window->form().cbbMain_language, Qt::LeftButton);
        QCOMPARE(window->form().labMain_Status->text(), QStringLiteral("No Task"));
        QCOMPARE(QFileDialog::tr("Look in:"), QStringLiteral("Look in:"));
        QCOMPARE(AppData::instance()->getLanguage(), 0);
    }

    void frameRegions()
    {
        window->layoutOverlays(100, 100);
        QCOMPARE(window->size(), QSize(800, 720));
        QCOMPARE(window->hitRegion(QPoint(3, 3)), 11);
        QCOMPARE(window->hitRegion(QPoint(400, 3)), 12);
        QCOMPARE(window->hitRegion(QPoint(797, 719)), 33);
        QCOMPARE(window->hitRegion(QPoint(400, 50)), 221);
        QCOMPARE(window->hitRegion(QPoint(400, 300)), 222);
    }

    // A cut that runs past its time-out is stopped and reported, and the scene stays as it
    // was. The next test uses the box as well.
    void failedCutIsReported()
    {
        AppData* data = AppData::instance();
        MeshModel* box = addScanModel(testmesh::cuboid(0, 0, 0, 20, 20, 20), "box");
        const int before = data->modelCount();
        openPanel(4);
        CutModelForm& cut = window->form().twtMain_edit->cutPanel()->form();
        cut.btnReadyCutting->click();
        cut.btn_z->click();
        cut.dsbCutting->setValue(10.0);
        asked.clear();
        // The cut's thread starts only once the time-out has fired, so a cut, however quick
        // (it may reuse the section), cannot end the row before its time-out does.
        QThreadPool* threads = QThreadPool::globalInstance();
        const int maxThreads = threads->maxThreadCount();
        const double scale = Platform::timeoutScale();
        QSemaphore held;
        std::shared_ptr<void> restore(nullptr, [&](void*) {
            held.release();
            threads->waitForDone();
            threads->setMaxThreadCount(maxThreads);
            Platform::setTimeoutScale(scale);
        });
        threads->setMaxThreadCount(1);
        threads->start([&held]() { held.acquire(); });
        // Released from the wait dialog's own event loop, which runs until the cut ends.
        QTimer release;
        connect(&release, &QTimer::timeout, [&]() {
            if (g_jobState.load() == 1) {
                held.release();
                release.stop();
            }
        });
        release.start(1);
        Platform::setTimeoutScale(1e-6);
        cut.btnStartCutting->click();
        QTRY_VERIFY(asked.contains(31));
        restore.reset();
        QCOMPARE(data->modelCount(), before);
        QCOMPARE(data->getModel(before - 1), box);
        cut.btnReadyCutting->click();
    }

    // Refused for a model outside the volume before anything is deleted: the old supports stay,
    // and so do the buttons that delete them.
    void refusedAutoSupportRefreshesPanel()
    {
        AppData* data = AppData::instance();
        MeshModel* box = addScanModel(testmesh::cuboid(0, 0, 0, 20, 20, 20), "supported box");
        auto* column = new MeshModel();
        column->isSupport = true;
        column->ownerName = box->name;
        const double foot[3] = {10.0, 10.0, 0.0};
        column->buildSupportBox(foot, 5.0, true);
        data->commitSupport(column);
        const double away[3] = {500.0, 0.0, 0.0};
        box->translate(away);
        window->updateStatus();
        openPanel(5);
        ManualSupportForm& panel = window->form().twtMain_edit->supportPanel()->form();
        QVERIFY(panel.btnSupport_delete->isEnabled());
        asked.clear();
        panel.btnSupport_auto->click();
        QCOMPARE(asked, QList<int>{4});
        QCOMPARE(data->supportCount(), 1);
        QVERIFY(panel.btnSupport_delete->isEnabled());
        QVERIFY(panel.btnSupport_deleteall->isEnabled());
        data->removeAllSupports();
        data->removeModel(data->modelCount() - 1);
        window->updateStatus();
    }

    void deleteKeyRemovesSelected()
    {
        const int before = AppData::instance()->modelCount();
        QVERIFY(before > 0);
        AppData::instance()->selectModel(0, 1);
        QSignalSpy cut(window, &MainWindow::CutSign);
        QTest::keyClick(window, Qt::Key_Delete);
        QCOMPARE(AppData::instance()->modelCount(), before - 1);
        QCOMPARE(cut.count(), 1);
        QCOMPARE(cut.at(0).at(0).toInt(), before - 1);
    }

    // The print button turns into a stop button while slicing or sending; the card button
    // prints the file already on the printer.
    void askedBeforeStopping_data()
    {
        QTest::addColumn<int>("task");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("fromPool");
        QTest::addColumn<QByteArray>("signal");
        const QByteArray beginPrint = SIGNAL(signBeginPrint(QString));
        const QByteArray killSlice = SIGNAL(signSliceKill());
        const QByteArray stopSending = SIGNAL(signStopSendGcode());
        QTest::newRow("card print") << 0 << "btnSD_print" << 1 << 40 << true << beginPrint;
        QTest::newRow("card print declined") << 0 << "btnSD_print" << 0 << 40 << true << beginPrint;
        QTest::newRow("slice cancelled") << 3 << "btnMain_print" << 1 << 7 << true << killSlice;
        QTest::newRow("slice kept") << 3 << "btnMain_print" << 0 << 7 << true << killSlice;
        QTest::newRow("transfer stopped") << 4 << "btnMain_print" << 1 << 5 << false << stopSending;
        QTest::newRow("transfer kept") << 4 << "btnMain_print" << 0 << 5 << false << stopSending;
    }
    void askedBeforeStopping()
    {
        QFETCH(int, task);
        QFETCH(QString, button);
        QFETCH(int, answer);
        QFETCH(int, kind);
        QFETCH(bool, fromPool);
        QFETCH(QByteArray, signal);
        if (AppData::instance()->modelCount() != 1)
            resetPlate(true);
        ThreadPool* p = ThreadPool::instance();
        p->slotLink(true);
        setTask(task);
        QSignalSpy spy(fromPool ? static_cast<QObject*>(p) : window, signal.constData());
        asked.clear();
        answers[kind] = answer;
        auto* b = window->findChild<QPushButton*>(button);
        QVERIFY(b && b->isEnabled());
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(asked, QList<int>{kind});
        QCOMPARE(spy.count(), answer);
        setTask(0);
        p->slotLink(false);
        answers.clear();
    }

    // The end of a cut or support job: its timer reports what came of it.
    void jobTimer_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QList<int>>("kinds");
        QTest::addColumn<int>("supportsLeft");
        QTest::newRow("done") << 1 << QList<int>() << 1;
        QTest::newRow("cut failed") << 2 << QList<int>{31} << 1;
        QTest::newRow("supports failed") << 3 << QList<int>{33} << 0;
    }
    void jobTimer()
    {
        QFETCH(int, state);
        QFETCH(QList<int>, kinds);
        QFETCH(int, supportsLeft);
        AppData* app = AppData::instance();
        app->removeAllSupports();
        auto* support = new MeshModel();
        support->isSupport = true;
        const double foot[3] = {5, 5, 0};
        support->buildSupportBox(foot, 5.0, true);
        app->commitSupport(support);
        asked.clear();
        window->setJobState(state);
        window->onJobTimer();
        QCOMPARE(asked, kinds);
        QCOMPARE(app->supportCount(), supportsLeft);
        // The job state is reset: a second time-out reports nothing.
        asked.clear();
        window->onJobTimer();
        QVERIFY(asked.isEmpty());
        app->removeAllSupports();
    }

    // Leaving support editing or the slice preview is asked first; a refusal changes nothing.
    void confirmBeforeLeaving_data()
    {
        QTest::addColumn<bool>("preview");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("modeLeft");
        QTest::addColumn<int>("dialogs");
        // Saving out of support editing: the mode ends, the save waits for the next click.
        QTest::newRow("support mode, quit") << false << 1 << 18 << true << 0;
        QTest::newRow("support mode, stay") << false << 0 << 18 << false << 0;
        QTest::newRow("preview, kept") << true << 0 << 19 << false << 0;
        QTest::newRow("preview, dropped") << true << 1 << 19 << true << 1;
    }
    void confirmBeforeLeaving()
    {
        QFETCH(bool, preview);
        QFETCH(int, answer);
        QFETCH(int, kind);
        QFETCH(bool, modeLeft);
        QFETCH(int, dialogs);
        resetPlate(true);
        AppData* app = AppData::instance();
        QPushButton* action = nullptr;
        if (preview) {
            showPrintTask();
            action = window->form().btnMain_open;
        } else {
            auto* add = window->findChild<QPushButton*>("btnSupport_add");
            QVERIFY(add && add->isEnabled());
            add->click();
            QVERIFY(app->isSupportEditing());
            action = window->form().btnMain_save;
            asked.clear();
        }
        answers[kind] = answer;
        QTRY_VERIFY(action->isEnabled());
        QTest::mouseClick(action, Qt::LeftButton);
        QCOMPARE(asked, QList<int>{kind});
        QCOMPARE(fileDialogs, dialogs);
        if (preview)
            QCOMPARE(window->view()->showMode() != 2, modeLeft);
        else
            QCOMPARE(!app->isSupportEditing(), modeLeft);
        if (app->isSupportEditing())
            window->findChild<QPushButton*>("btnSupport_add")->click();
    }

    // Another printer model while a print-task file is shown: the preview goes.
    void printerModelLeavesPreview()
    {
        resetPlate(false);
        showPrintTask();
        // The dialog opens from a queued call: answer it once it is up.
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [this, &answer] {
            auto* dialog = window->findChild<ChoiceTypeDialog*>();
            if (!dialog || !dialog->isVisible())
                return;
            answer.stop();
            dialog->findChild<QPushButton*>("btn_px6_a")->click();
            dialog->findChild<QPushButton*>("btn_ok")->click();
        });
        answer.start(20);
        QVERIFY(window->form().actionChoiceType->isEnabled());
        window->form().actionChoiceType->trigger();
        QTRY_COMPARE(asked, QList<int>{41});
        QCOMPARE(AppData::instance()->getChoiceType(), 2);
        QVERIFY(window->view()->showMode() != 2);
        QVERIFY(!window->form().btnMain_Slice->isEnabled() && !window->form().btnMain_Slice->isChecked());
        QCOMPARE(ThreadPool::instance()->hasPrintFile(), 0);
        AppData::instance()->setChoiceType(1);
        window->updateMachineLabel();
    }

    void dropSeveralFiles_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("models");
        QTest::addColumn<bool>("preview");
        QTest::newRow("two models") << QStringList{"a.stl", "b.stl"} << 2 << false;
        QTest::newRow("a model and a print task") << QStringList{"a.stl", "job.BVT"} << 1 << true;
    }
    void dropSeveralFiles()
    {
        QFETCH(QStringList, names);
        QFETCH(int, models);
        QFETCH(bool, preview);
        resetPlate(false);
        QList<QUrl> urls;
        for (const QString& n : names)
            urls << QUrl::fromLocalFile(n.endsWith("BVT") ? printTask() : writeCube(dir.path(), n, 10.0f));
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint at = window->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &drop);
        QTRY_COMPARE_WITH_TIMEOUT(AppData::instance()->modelCount(), models, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadPool::instance()->isBusy(), 10000);
        if (preview)
            QTRY_COMPARE_WITH_TIMEOUT(window->view()->showMode(), 2, 10000);
    }

    // Closing while slicing or sending: kept open unless the user says otherwise.
    void closeWhileBusy_data()
    {
        QTest::addColumn<int>("task");
        QTest::addColumn<bool>("models");
        QTest::addColumn<int>("kind");
        QTest::newRow("slicing, cancelled") << 3 << true << 21;
        QTest::newRow("sending, models on the plate") << 4 << true << 22;
        QTest::newRow("sending, cancelled") << 4 << false << 23;
    }
    void closeWhileBusy()
    {
        QFETCH(int, task);
        QFETCH(bool, models);
        QFETCH(int, kind);
        resetPlate(models);
        setTask(task);
        // Cancel where there is a choice; sending with models keeps the window whatever the answer.
        answers[kind] = kind == 22 ? 1 : 2;
        QCloseEvent close;
        QCoreApplication::sendEvent(window, &close);
        QVERIFY(!close.isAccepted());
        QCOMPARE(asked, QList<int>{kind});
        QVERIFY(window->isVisible());
        QCOMPARE(AppData::instance()->modelCount(), models ? 1 : 0);
        setTask(0);
        answers.clear();
    }

    // Drags through the X server: the title strip moves the window, edges and corners
    // resize it, never below 800 x 720, wherever a child covers the frame.
    void frameDrags_data()
    {
        QTest::addColumn<QPoint>("press"); // in the 1000 x 760 window placed at (200, 100)
        QTest::addColumn<QPoint>("by");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("title strip") << QPoint(800, 50) << QPoint(60, 40) << QRect(260, 140, 1000, 760);
        QTest::newRow("top edge") << QPoint(500, 2) << QPoint(0, -30) << QRect(200, 72, 1000, 788);
        QTest::newRow("left edge") << QPoint(2, 400) << QPoint(-30, 0) << QRect(172, 100, 1028, 760);
        QTest::newRow("right edge over the view") << QPoint(997, 600) << QPoint(30, 0) << QRect(200, 100, 1027, 760);
        QTest::newRow("bottom-right corner") << QPoint(997, 757) << QPoint(40, 30) << QRect(200, 100, 1037, 787);
        QTest::newRow("not below 800 x 720") << QPoint(2, 757) << QPoint(300, -100) << QRect(400, 100, 800, 720);
    }
    void frameDrags()
    {
        QFETCH(QPoint, press);
        QFETCH(QPoint, by);
        QFETCH(QRect, geometry);
        placeWindow();
        const QPoint start = global(press);
        pointerTo(start);
        xdo({"mousedown", "1"});
        QTRY_VERIFY(QGuiApplication::mouseButtons() & Qt::LeftButton);
        pointerTo(start + by / 2);
        pointerTo(start + by);
        xdo({"mouseup", "1"});
        QTRY_VERIFY(!(QGuiApplication::mouseButtons() & Qt::LeftButton));
        QTRY_COMPARE(window->geometry(), geometry);
        // The overlays follow the new size.
        const QRect r = window->rect();
        QCOMPARE(printButton()->geometry().bottomRight(), r.bottomRight() - QPoint(72, 74));
    }

    // A resize from outside (the window manager, another program) places the overlays inside
    // the window, and the open page leaves all six headers in the edit panel, unscrolled.
    void resizedFromOutside_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("panel");
        QTest::newRow("800 x 720, Model") << QSize(800, 720) << 0;
        for (const QSize size : {QSize(1280, 800), QSize(1600, 1000)})
            for (int panel = 0; panel < 6; ++panel)
                QTest::addRow("%d x %d, page %d", size.width(), size.height(), panel) << size << panel;
    }
    void resizedFromOutside()
    {
        QFETCH(QSize, size);
        QFETCH(int, panel);
        placeWindow();
        openPanel(panel);
        xdo({"windowsize", QString::number(window->winId()), QString::number(size.width()), QString::number(size.height())});
        QTRY_COMPARE(window->size(), size);
        for (const char* name : {"btnMain_print", "btnSD_print", "cbbMain_view"})
            QVERIFY2(window->rect().contains(window->findChild<QWidget*>(name)->geometry()), name);
        // The title strip's buttons lie whole in the window, side by side.
        QRect last;
        for (QPushButton* b : {window->form().btnMain_open, window->form().btnMain_save, window->form().btnMain_export,
                           window->form().btnMain_Slice, window->form().cbbMain_language, window->form().btnMain_setcura,
                           window->form().btnMain_setting, window->form().btnMain_min, window->form().btnMain_max,
                           window->form().btnMain_close}) {
            const QRect r(b->mapTo(window, QPoint()), b->size());
            QVERIFY2(window->rect().contains(r) && !r.intersects(last), qPrintable(b->objectName()));
            last = r;
        }
        EditTreeWidget* tree = window->form().twtMain_edit;
        const auto hidden = [tree] {
            QString out = tree->verticalScrollBar()->isVisible() ? "a scroll bar " : "";
            for (int i = 0; i < tree->topLevelItemCount(); ++i)
                if (!tree->viewport()->rect().contains(tree->visualItemRect(tree->topLevelItem(i))))
                    out += tree->topLevelItem(i)->text(0).trimmed();
            return out;
        };
        QTRY_COMPARE(hidden(), QString());
        tree->collapseAll();
    }

    void titleDoubleClickMaximises()
    {
        placeWindow();
        // Between the file buttons and the window buttons.
        QCOMPARE(window->childAt(800, 50), window->form().wgtMain_upMenu);
        pointerTo(global(QPoint(800, 50)));
        xdo({"click", "--repeat", "2", "--delay", "60", "1"});
        QTRY_COMPARE(window->geometry(), QGuiApplication::primaryScreen()->availableGeometry());
        pointerTo(global(QPoint(800, 50)));
        xdo({"click", "--repeat", "2", "--delay", "60", "1"});
        QTRY_COMPARE(window->geometry(), QRect(200, 100, 1000, 760));
    }

    // The print buttons show their state's frame; screenshots in both languages.
    void printButtons()
    {
        placeWindow();
        ThreadPool* p = ThreadPool::instance();
        resetPlate(true);
        // Inside the disc (left of any glyph), and where the stop square lies but not the play triangle.
        auto frame = [this](QPushButton* b) {
            const QImage img = window->grab().toImage();
            const QPoint o = b->geometry().topLeft();
            const QRgb disc = img.pixel(o + QPoint(8, 26));
            const bool stop = near(img.pixel(o + QPoint(19, 20)), 255, 255, 255)
                && near(img.pixel(o + QPoint(33, 20)), 255, 255, 255);
            return QString("%1 %2").arg(near(disc, 0x29, 0xc2, 0xf5) || near(disc, 84, 200, 234) ? "enabled"
                                        : near(disc, 0x9a, 0x9a, 0x9a) || near(disc, 150, 150, 150) ? "disabled"
                                                                                                  : "missing",
                                        stop ? "stop" : "play");
        };
        auto disc = [&](QPushButton* b) { return frame(b).section(' ', 0, 0); }; // no play or stop glyph
        const QString shots = QStringLiteral(TARNI_BUILD_DIR "/screenshots/");
        QVERIFY(QDir().mkpath(shots));
        for (const char* language : {"en", "zh"}) {
            if (QByteArray(language) == "zh")
                QTest::mouseClick(window->form().cbbMain_language, Qt::LeftButton);
            p->slotLink(false);
            QTRY_COMPARE(window->form().labMain_light->text(), window->tr("Not Connected"));
            QTest::qWait(50);
            QCOMPARE(frame(printButton()), QStringLiteral("disabled play"));
            QCOMPARE(disc(cardPrintButton()), QStringLiteral("disabled"));
            QVERIFY(window->grab().save(shots + QString("window_%1_unlinked.png").arg(language)));
            p->slotLink(true);
            QTRY_COMPARE(window->form().labMain_light->text(), window->tr("Connected"));
            QTest::qWait(50);
            QCOMPARE(frame(printButton()), QStringLiteral("enabled play"));
            QCOMPARE(disc(cardPrintButton()), QStringLiteral("enabled"));
            QVERIFY(window->grab().save(shots + QString("window_%1_linked.png").arg(language)));
        }
        // Slicing: the button stops the slice.
        emit p->sliceWorker()->progressChanged(4000);
        QTRY_COMPARE(window->form().labMain_Status->text(), window->tr("Slicing"));
        QCOMPARE(frame(printButton()), QStringLiteral("enabled stop"));
        emit p->sliceWorker()->progressChanged(-1);
        QTRY_COMPARE(window->form().labMain_Status->text(), window->tr("No Task"));
        p->slotLink(false);
        QTest::mouseClick(window->form().cbbMain_language, Qt::LeftButton);
        QCOMPARE(AppData::instance()->getLanguage(), 0);
    }

    void viewPad()
    {
        placeWindow();
        auto* pad = window->findChild<QWidget*>("cbbMain_view");
        QVERIFY(pad);
        const int W = window->width() - 1;
        QCOMPARE(pad->geometry(), QRect(QPoint(W - 175, 94), QPoint(W - 26, 243)));
        auto centre = [pad](const char* name) { return pad->findChild<QWidget*>(name)->geometry().center(); };
        const QPoint home = centre("btn_home");
        QCOMPARE(home - centre("btn_left"), centre("btn_right") - home);
        QCOMPARE(home - centre("btn_up"), centre("btn_down") - home);
        QCOMPARE(home, pad->rect().center());
        // Drawn there, over everything else: the window shows each button's own picture.
        const QImage shot = window->grab().toImage();
        for (const char* name : {"btn_up", "btn_left", "btn_home", "btn_right", "btn_down"}) {
            auto* b = pad->findChild<QWidget*>(name);
            const QPoint c = b->mapTo(window, b->rect().center());
            QCOMPARE(QColor(shot.pixel(c)), QColor(b->grab().toImage().pixel(b->rect().center())));
        }
    }

    void settingsMenu()
    {
        placeWindow();
        AppData::instance()->setRecentFiles({"a.BVT"});
        QPushButton* button = window->form().btnMain_setting;
        QMenu* menu = button->menu();
        QMenu* recent = menu->actions().first()->menu();
        QStringList faults;
        // The button runs its menu in a loop of its own: the checks run inside it.
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, [&] {
            if (!menu->isVisible())
                return;
            poll.stop();
            (void)QTest::qWaitForWindowExposed(menu); // what it lays out is checked below
            for (QAction* a : menu->actions())
                if (!menu->rect().adjusted(0, 0, 0, -2).contains(menu->actionGeometry(a)))
                    faults << a->text() + " cut off";
            // The menu lets the first motion after it opens pass: two steps onto the entry.
            const QPoint entry = menu->mapToGlobal(menu->actionGeometry(recent->menuAction()).center());
            pointerTo(entry);
            pointerTo(entry + QPoint(3, 1));
            for (int i = 0; i < 50 && !recent->isVisible(); ++i)
                QTest::qWait(20);
            if (!recent->isVisible() || recent->geometry().right() >= menu->geometry().left())
                faults << QString("recent files at %1, the menu at %2").arg(recent->geometry().right()).arg(menu->geometry().left());
            // The last entry, "About", is clicked.
            pointerTo(menu->mapToGlobal(menu->actionGeometry(window->form().actionAbout).center()));
            xdo({"click", "1"});
        });
        poll.start();
        pointerTo(global(button->mapTo(window, button->rect().center())));
        const QString about = withModal(
            [&] {
                xdo({"click", "1"});
                QTest::qWait(100); // the action is queued
            },
            [](QWidget* d) { return d->inherits("AboutDialog") ? QString() : QString(d->metaObject()->className()); });
        AppData::instance()->setRecentFiles({});
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
        QVERIFY2(about.isEmpty(), qPrintable("About: " + about));
    }

    // The window's white label rule stays in the window: every dialog it opens is readable.
    void dialogsReadable_data()
    {
        QTest::addColumn<int>("dialog");
        QTest::newRow("picture") << 0;
        QTest::newRow("open file") << 1;
        QTest::newRow("save file") << 2;
        QTest::newRow("settings") << 3;
        QTest::newRow("about") << 4;
        QTest::newRow("printer model") << 5;
        QTest::newRow("firmware") << 6;
        QTest::newRow("message box") << 7;
    }
    void dialogsReadable()
    {
        QFETCH(int, dialog);
        const QString picture = dir.filePath("relief.png");
        QImage img(40, 30, QImage::Format_RGB32);
        img.fill(Qt::gray);
        QVERIFY(img.save(picture));
        MainWindow::setFileDialogHook(nullptr);
        const std::function<void()> open[] = {
            [&] { window->openFile(picture); },
            [&] { window->on_btnMain_open_clicked(); },
            [&] { window->on_btnMain_save_clicked(); },
            [&] { window->on_btnMain_setcura_clicked(); },
            [&] { window->on_actionAbout(); },
            [&] { window->on_actionChoiceType(); },
            [&] { window->on_actionFirmware(); },
            [&] {
                BrevMessageBox::setAnswerHook([](BrevMessageBox&) { return -1; });
                BrevMessageBox box(4, window);
                box.exec();
            },
        };
        const QString fault = withModal(open[dialog], [dialog](QWidget* d) {
            // The firmware dialog's close button shows the dialogs' close picture, a grey cross.
            QWidget* close = dialog == 6 ? d->findChild<QWidget*>("btn_win_close") : nullptr;
            const bool cross = !close || inkPixels(close->grab().toImage(), close->rect()) > 20;
            return unreadableLabels(d) + (cross ? "" : " no close cross");
        });
        BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
            asked << box.kind();
            return box.kind() == 17 ? 0 : 1;
        });
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // The move arrows and rotate rings are 3 px wide, whatever the profile allows for lines.
    void gizmoLines_data()
    {
        QTest::addColumn<int>("editMode");
        QTest::newRow("arrows") << 1;
        QTest::newRow("rings") << 2;
    }
    void gizmoLines()
    {
        QFETCH(int, editMode);
        if (AppData::instance()->modelCount() == 0)
            resetPlate(true);
        AppData::instance()->selectModel(0, 1);
        AppData::instance()->setEditMode(editMode);
        const QImage frame = window->view()->grabFramebuffer();
        AppData::instance()->setEditMode(0);
        frame.save(QString(TARNI_BUILD_DIR "/screenshots/gizmo_%1.png").arg(editMode));
        // Red enough, edge pixels the multisampling blends with the background included.
        const double width = strokeWidth(frame, [](QRgb c) { return qRed(c) - std::max(qGreen(c), qBlue(c)) > 60; });
        QVERIFY2(width >= 3, qPrintable(QString("red strokes %1 px wide").arg(width)));
    }

    // Every text the sources give to translation has its Chinese text.
    void everyTextTranslated()
    {
        const QString lupdate = QLibraryInfo::location(QLibraryInfo::BinariesPath) + "/lupdate";
        const QString found = dir.filePath("found.ts");
        QProcess p;
        p.setWorkingDirectory(SourceRoot);
        p.start(lupdate, {"-silent", "-I", ".", "app", "scene", "FileRW", "render", "UI", "Thread", "cutting",
                          "support", "Update", "platform", "-ts", found});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const QSet<QString> wanted = messages(found, false);
        QVERIFY(wanted.size() > 100);
        QSet<QString> translated;
        for (const QFileInfo& ts : QDir(SourceRoot + "/resources/translations").entryInfoList({"*.ts"}))
            translated += messages(ts.filePath(), true);
        QStringList missing = (wanted - translated).values();
        missing.sort();
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join("\n")));
    }

    // One name, one picture: an alias given twice lets the last resource file win.
    void resourceNamesUnique()
    {
        QHash<QString, QString> owner;
        QStringList twice;
        const QRegularExpression block("<qresource(?: prefix=\"([^\"]*)\")?>(.*?)</qresource>",
                                       QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpression entry("<file(?: alias=\"([^\"]*)\"| [\\w-]+=\"[^\"]*\")*>([^<]*)</file>");
        QDir res(SourceRoot + "/resources");
        for (const QFileInfo& qrc : res.entryInfoList({"*.qrc", "*.qrc.in"}) + QDir(res.filePath("translations")).entryInfoList({"*.qrc.in"})) {
            QFile f(qrc.filePath());
            QVERIFY(f.open(QIODevice::ReadOnly));
            for (auto b = block.globalMatch(QString::fromUtf8(f.readAll())); b.hasNext();) {
                const QRegularExpressionMatch m = b.next();
                for (auto e = entry.globalMatch(m.captured(2)); e.hasNext();) {
                    const QRegularExpressionMatch file = e.next();
                    const QString name = QDir::cleanPath("/" + m.captured(1) + "/" + (file.captured(1).isEmpty() ? file.captured(2) : file.captured(1)));
                    if (owner.contains(name))
                        twice << QString("%1 in %2 and %3").arg(name, owner[name], qrc.fileName());
                    owner[name] = qrc.fileName();
                }
            }
        }
        QVERIFY(owner.size() > 50);
        QVERIFY2(twice.isEmpty(), qPrintable(twice.join("\n")));
    }

    // Every control of an open edit panel takes its own clicks, with every overlay shown, at the
    // smallest window and at full size; the view pad takes clicks only on its five buttons.
    void overlaysLeavePanelControls_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<bool>("full");
        QTest::addColumn<int>("panel");
        for (const bool chinese : {false, true})
            for (const bool full : {false, true})
                for (int panel = 0; panel < 6; ++panel)
                    QTest::addRow("%s, %s, panel %d", chinese ? "zh" : "en", full ? "full size" : "800 x 720", panel)
                        << chinese << full << panel;
    }
    void overlaysLeavePanelControls()
    {
        QFETCH(bool, chinese);
        QFETCH(bool, full);
        QFETCH(int, panel);
        resetPlate(true);
        if (chinese)
            QTest::mouseClick(window->form().cbbMain_language, Qt::LeftButton);
        addSupport();
        window->updateStatus();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        window->move(screen.topLeft());
        window->layoutOverlays(800, 720);
        if (full)
            window->on_btnMain_max_clicked();
        QTRY_COMPARE(window->geometry().size(), full ? screen.size() : QSize(800, 720));
        const auto showOverlays = [this](bool shown) {
            for (QWidget* overlay : window->findChildren<QWidget*>())
                if (overlay->inherits("PrintMessageForm") || overlay->inherits("PrintingForm"))
                    overlay->setVisible(shown);
        };
        showOverlays(true);
        openPanel(panel);
        window->update();
        QTest::qWait(100);
        EditTreeWidget* tree = window->form().twtMain_edit;
        QWidget* panelWidget = tree->itemWidget(tree->topLevelItem(panel)->child(0), 0);
        QStringList covered;
        int tried = 0;
        for (QWidget* c : panelWidget->findChildren<QWidget*>()) {
            if (!(c->inherits("QAbstractButton") || c->inherits("QAbstractSpinBox") || c->inherits("QLineEdit"))
                || !c->isVisibleTo(window) || !c->isEnabled() || c->width() < 2 || c->height() < 2
                || qobject_cast<QAbstractSpinBox*>(c->parentWidget()))
                continue;
            revealInTree(c);
            ++tried;
            const QPoint centre = c->mapToGlobal(c->rect().center());
            QWidget* hit = QApplication::widgetAt(centre);
            if (hit != c && !c->isAncestorOf(hit))
                covered << QString("%1 (%2) under %3 %4").arg(c->objectName(), c->metaObject()->className(),
                                                              hit ? hit->metaObject()->className() : "nothing",
                                                              hit ? hit->objectName() : QString());
        }
        // Between the pad's buttons the view takes the mouse.
        auto* pad = window->findChild<QWidget*>("cbbMain_view");
        for (const QPoint corner : {QPoint(12, 12), QPoint(137, 12), QPoint(12, 137), QPoint(137, 137)})
            if (QApplication::widgetAt(pad->mapToGlobal(corner)) == pad)
                covered << QString("the view under the pad at %1,%2").arg(corner.x()).arg(corner.y());
        for (const char* name : {"btn_up", "btn_left", "btn_home", "btn_right", "btn_down"}) {
            auto* b = pad->findChild<QWidget*>(name);
            if (QApplication::widgetAt(b->mapToGlobal(b->rect().center())) != b)
                covered << QString("pad button %1").arg(name);
        }
        window->grab().save(QString(TARNI_BUILD_DIR "/screenshots/overlays_%1_%2_panel%3.png")
                                .arg(chinese ? "zh" : "en", full ? "full" : "800x720")
                                .arg(panel));
        if (full)
            window->on_btnMain_max_clicked();
        if (chinese)
            QTest::mouseClick(window->form().cbbMain_language, Qt::LeftButton);
        showOverlays(false);
        tree->collapseAll();
        AppData::instance()->removeAllSupports();
        window->updateStatus();
        QVERIFY(tried >= 1);
        QVERIFY2(covered.isEmpty(), qPrintable(covered.join("; ")));
    }

    // The guide's clear hole lies over the panel its first picture explains.
    void guideHoleShowsPanel()
    {
        placeWindow();
        const QString fault = withModal([&] { window->on_actionWizard(); }, [this](QWidget* guide) {
            const QImage img = guide->grab().toImage();
            QImage seen = window->grab().toImage().convertToFormat(QImage::Format_ARGB32);
            QPainter(&seen).drawImage(0, 0, img);
            seen.save(TARNI_BUILD_DIR "/screenshots/guide_first_page.png");
            int clear = 0;
            QStringList wrong;
            for (int y = 0; y < img.height(); y += 6)
                for (int x = 0; x < img.width(); x += 6) {
                    if (qAlpha(img.pixel(x, y)) != 0)
                        continue;
                    ++clear;
                    const QPoint p = window->mapFromGlobal(guide->mapToGlobal(QPoint(x, y)));
                    QWidget* under = window->childAt(p);
                    const bool panel = under && (under == window->form().wgtMain_ctrl
                                                 || window->form().wgtMain_ctrl->isAncestorOf(under)
                                                 || under == window->form().pgbMain_progress);
                    if (!panel && wrong.size() < 5)
                        wrong << QString("%1,%2 shows %3").arg(p.x()).arg(p.y()).arg(under ? under->objectName() : "nothing");
                }
            return clear < 1000 ? QString("clear points: %1").arg(clear) : wrong.join("; ");
        });
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // The guide takes the window's size at the smallest window, a middle one and full size:
    // each page's picture and button lie inside it, and the arrows of the later pictures end
    // at the controls they explain.
    void guideFollowsControls_data()
    {
        QTest::addColumn<QSize>("size"); // empty: maximised
        QTest::newRow("800 x 720") << QSize(800, 720);
        QTest::newRow("1280 x 800") << QSize(1280, 800);
        QTest::newRow("full size") << QSize();
    }
    void guideFollowsControls()
    {
        QFETCH(QSize, size);
        placeWindow();
        if (size.isEmpty())
            window->on_btnMain_max_clicked();
        else
            window->layoutOverlays(size.width(), size.height());
        QTRY_COMPARE(window->size(), size.isEmpty() ? QGuiApplication::primaryScreen()->availableGeometry().size() : size);
        const QString fault = withModal([&] { window->on_actionWizard(); }, [this](QWidget* guide) {
            QStringList faults;
            if (guide->geometry() != window->geometry())
                faults << QString("the guide is %1 x %2").arg(guide->width()).arg(guide->height());
            // Where each arrow ends: one pixel or so beside a point of its control.
            const auto below = [](const QRect& r) { return QRect(r.center().x() - 4, r.bottom() + 1, 9, 10); };
            const auto leftOf = [](const QRect& r) { return QRect(r.left() - 13, r.center().y() - 4, 12, 9); };
            const struct
            {
                int page;
                const char* control;
                std::function<QRect(const QRect&)> end;
            } arrows[] = {{1, "btnMain_open", below},    {1, "btnMain_save", below}, {1, "btnMain_export", below},
                          {1, "btnMain_Slice", below},   {2, "btnMain_setting", below}, {2, "cbbMain_view", leftOf}};
            const char* pictures[] = {"widget", "widget_2", "widget_3"};
            const char* buttons[] = {"btn_next1", "btn_next2", "btn_finish"};
            auto* stack = guide->findChild<QStackedWidget*>("stackedWidget");
            for (int page = 0; page < 3; ++page) {
                stack->setCurrentIndex(page);
                guide->layout()->activate();
                stack->currentWidget()->layout()->activate();
                auto* picture = guide->findChild<QWidget*>(pictures[page]);
                for (QWidget* w : {picture, guide->findChild<QWidget*>(buttons[page])})
                    if (!guide->rect().contains(QRect(w->mapTo(guide, QPoint()), w->size())))
                        faults << QString("%1 outside the guide").arg(w->objectName());
                const QImage img = picture->grab().toImage();
                QImage seen = window->grab().toImage().convertToFormat(QImage::Format_ARGB32);
                QPainter(&seen).drawImage(0, 0, guide->grab().toImage());
                seen.save(QString(TARNI_BUILD_DIR "/screenshots/guide_%1x%2_page%3.png").arg(window->width()).arg(window->height()).arg(page + 1));
                for (const auto& a : arrows) {
                    if (a.page != page)
                        continue;
                    auto* c = window->findChild<QWidget*>(a.control);
                    const QRect end = a.end(QRect(c->mapTo(window, QPoint()), c->size())).translated(-picture->mapTo(guide, QPoint()));
                    bool hit = false;
                    for (int y = end.top(); y <= end.bottom(); ++y)
                        for (int x = end.left(); x <= end.right(); ++x)
                            if (img.rect().contains(x, y) && qAlpha(img.pixel(x, y)) == 255 && qGray(img.pixel(x, y)) >= 250)
                                hit = true;
                    if (!hit)
                        faults << QString("no arrow at %1").arg(a.control);
                }
            }
            stack->setCurrentIndex(0);
            // A window resized under the open guide takes the guide along.
            window->resize(window->size() + QSize(20, 10));
            if (guide->geometry() != window->geometry())
                faults << "the guide stays behind a resized window";
            return faults.join("; ");
        });
        if (size.isEmpty())
            window->on_btnMain_max_clicked();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // What each file dialog lists: Qt reads its patterns, in either case; the type box keeps the
    // program's wording.
    void dialogFilters_data()
    {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("open") << 0 << "3D Model File(*.stl;*.obj;*.brev;*.png;*.bmp;*.jpg;*.3mf;*.BVT)"
                              << QStringList{"B.STL", "F.BREV", "a.stl", "c.3mf", "d.BVT", "e.bvt", "f.brev", "g.Obj", "h.png"};
        QTest::newRow("project save") << 1 << "Brevant File (*.brev)" << QStringList{"F.BREV", "f.brev"};
        QTest::newRow("export") << 2 << "Brevant File (*.BVT)" << QStringList{"d.BVT", "e.bvt"};
    }
    void dialogFilters()
    {
        QFETCH(int, dialog);
        QFETCH(QString, shown);
        QFETCH(QStringList, listed);
        resetPlate(true);
        QTemporaryDir files;
        for (const char* name : {"a.stl", "B.STL", "c.3mf", "d.BVT", "e.bvt", "f.brev", "F.BREV", "g.Obj", "h.png", "i.txt"}) {
            QFile f(files.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        {
            QSettings ini(AppData::instance()->settingsFilePath(), QSettings::IniFormat);
            ini.setValue("Paths/OpenDir", files.path());
            ini.setValue("Paths/MeshSave", files.path());
            ini.setValue("Paths/GCodeSave", files.filePath("d.BVT"));
        }
        MainWindow::setFileDialogHook(nullptr);
        const std::function<void()> open[] = {[&] { window->on_btnMain_open_clicked(); },
                                              [&] { window->on_btnMain_save_clicked(); },
                                              [&] { window->on_btnMain_export_clicked(); }};
        QStringList seen;
        const QString fault = withModal(open[dialog], [&](QWidget* d) {
            auto* list = d->findChild<QAbstractItemView*>("listView");
            auto* model = d->findChild<QFileSystemModel*>();
            auto* types = d->findChild<QComboBox*>("fileTypeCombo");
            if (!list || !model || !types)
                return QString("not Qt's own file dialog");
            for (int i = 0; i < 100 && model->rowCount(list->rootIndex()) < listed.size(); ++i)
                QTest::qWait(20);
            QTest::qWait(100);
            for (int row = 0; row < model->rowCount(list->rootIndex()); ++row)
                seen << model->index(row, 0, list->rootIndex()).data().toString();
            seen.sort();
            // The patterns themselves, read as Qt reads them and matched case by case, as
            // platform dialogs match them.
            const QString filter = qobject_cast<QFileDialog*>(d)->nameFilters().value(0);
            const QStringList patterns = filter.mid(filter.lastIndexOf('(') + 1).chopped(1).split(' ', Qt::SkipEmptyParts);
            QStringList unmatched;
            for (const QString& name : listed)
                if (QFileInfo(name).suffix().isLower() || QFileInfo(name).suffix().isUpper())
                    if (std::none_of(patterns.begin(), patterns.end(), [&](const QString& p) {
                            return QRegularExpression(QRegularExpression::wildcardToRegularExpression(p)).match(name).hasMatch();
                        }))
                        unmatched << name;
            if (!unmatched.isEmpty())
                return QString("%1 match no pattern of \"%2\"").arg(unmatched.join(", "), filter);
            return types->currentText() == shown ? QString() : "the type box shows " + types->currentText();
        });
        answerAsTests();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QCOMPARE(seen, listed);
    }

    // Every resource path the program names is in its resources; a path made with arguments
    // names at least one.
    void resourcePathsDefined()
    {
        QStringList all;
        for (QDirIterator it(":/", QDirIterator::Subdirectories); it.hasNext();)
            all << it.next();
        QVERIFY(all.size() > 50);
        const QRegularExpression named("(?<=[\"(\\s])(:/[\\w./%-]*)");
        QStringList missing;
        int checked = 0;
        for (const char* folder : {"app", "scene", "FileRW", "render", "UI", "Thread", "cutting", "support", "Update", "platform"}) {
            for (QDirIterator it(SourceRoot + "/" + folder, {"*.cpp", "*.h", "*.ui"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
                QFile f(it.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                for (auto m = named.globalMatch(QString::fromUtf8(f.readAll())); m.hasNext();) {
                    const QString path = m.next().captured(1);
                    if (path == ":/")
                        continue;
                    ++checked;
                    bool found;
                    if (path.contains('%')) {
                        QStringList parts = path.split(QRegularExpression("%\\d"));
                        for (QString& part : parts)
                            part = QRegularExpression::escape(part);
                        found = !all.filter(QRegularExpression("^" + parts.join("[^/]+") + "$")).isEmpty();
                    } else {
                        found = path.endsWith('/') ? QDir(path).exists() : QFile::exists(path);
                    }
                    if (!found)
                        missing << QFileInfo(f.fileName()).fileName() + ": " + path;
                }
            }
        }
        QVERIFY(checked > 50);
        missing.removeDuplicates();
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join("\n")));
        // The support-delete cursor is a picture with a centre.
        QVERIFY(!QPixmap(":/new/mousedelete").isNull());
    }

    // The model list's cells keep their widths in the smallest window: eye, name, copy and
    // delete lie whole in the list, the name is cut to its field, and a click on a copy button
    // does not scroll the list sideways (the eye column would be lost).
    void modelListCells_data()
    {
        QTest::addColumn<int>("models");
        QTest::addColumn<QString>("file");
        QTest::newRow("one") << 1 << "one.stl";
        QTest::newRow("six") << 6 << "one.stl";
        QTest::newRow("seven, name column 110") << 7 << "one.stl";
        QTest::newRow("long name") << 1 << "a_model_whose_name_is_far_too_long_for_the_list.stl";
    }
    void modelListCells()
    {
        QFETCH(int, models);
        QFETCH(QString, file);
        resetPlate(false);
        loadAndWait(writeCube(dir.path(), file, 20.0f), 1);
        window->layoutOverlays(800, 720);
        QTRY_COMPARE(window->size(), QSize(800, 720));
        openPanel(0);
        QTableWidget* table = window->form().twtMain_edit->modelList()->table();
        const auto cell = [table](int row, int column) { return table->cellWidget(row, column); };
        for (int i = 1; i < models; ++i) {
            QTest::mouseClick(cell(0, 3), Qt::LeftButton);
            QTRY_COMPARE(AppData::instance()->modelCount(), i + 1);
        }
        QTest::qWait(50);
        QStringList faults;
        const auto checkCells = [&](const QString& when) {
            const int widths[5] = {25, 0, models >= 7 ? 110 : 125, 25, 25};
            if (table->horizontalScrollBar()->value() != 0)
                faults << when + QString(": scrolled %1 px sideways").arg(table->horizontalScrollBar()->value());
            for (int row = 0; row < std::min(models, 4); ++row)
                for (const int column : {0, 2, 3, 4}) {
                    QWidget* c = cell(row, column);
                    const QRect r(c->mapTo(table->viewport(), QPoint()), c->size());
                    const QPoint centre = c->mapToGlobal(c->rect().center());
                    if (std::abs(table->columnWidth(column) - widths[column]) > 0 || std::abs(c->width() - widths[column]) > 1
                        || !table->viewport()->rect().contains(r) || QApplication::widgetAt(centre) != c)
                        faults << when + QString(": cell %1,%2 at %3,%4 %5 x %6").arg(row).arg(column).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
                }
        };
        checkCells("shown");
        // A click on the copy cell, as the user gives it.
        QWidget* copy = cell(0, 3);
        pointerTo(copy->mapToGlobal(copy->rect().center()));
        xdo({"click", "1"});
        QTRY_COMPARE(AppData::instance()->modelCount(), models + 1);
        ++models;
        QTest::qWait(50);
        checkCells("after a copy");
        auto* name = qobject_cast<QLineEdit*>(cell(0, 2));
        const QString full = QFileInfo(file).completeBaseName();
        const int room = name->width() - 4;
        if (name->fontMetrics().horizontalAdvance(name->text()) > room || (name->text() != full && !name->text().contains(QChar(0x2026))))
            faults << QString("name \"%1\" in %2 px").arg(name->text()).arg(room);
        window->grab().save(QString(TARNI_BUILD_DIR "/screenshots/model_list_%1.png").arg(QTest::currentDataTag()).replace(' ', '_').replace(',', ""));
        window->form().twtMain_edit->collapseAll();
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
    }

    // A list made under a font whose header would be wider than its cells keeps them, and a
    // sideways scroll, however it comes, is put back at once.
    void modelListCellsAnyFont()
    {
        const QFont before = QApplication::font();
        const auto restore = qScopeGuard([&] { QApplication::setFont(before); });
        QFont big = before;
        big.setPixelSize(40);
        QApplication::setFont(big);
        ModelListWidget list;
        QTableWidget* table = list.table();
        QCOMPARE(QList<int>({table->columnWidth(0), table->columnWidth(2), table->columnWidth(3), table->columnWidth(4)}),
                 QList<int>({25, 118, 25, 25}));
        QScrollBar* sideways = table->horizontalScrollBar();
        sideways->setRange(0, 40);
        sideways->setValue(30);
        QCOMPARE(sideways->value(), 0);
    }

    // The size field keeps its width: a size shows whole, or cut with "..." and whole in the tool tip.
    void sizeFieldFits_data()
    {
        QTest::addColumn<float>("side");
        QTest::addColumn<bool>("whole");
        QTest::newRow("20 mm") << 20.0f << true;
        QTest::newRow("120 mm") << 120.0f << true;
        QTest::newRow("1000 mm") << 1000.0f << true;
        QTest::newRow("10000 mm") << 10000.0f << false;
    }
    void sizeFieldFits()
    {
        QFETCH(float, side);
        QFETCH(bool, whole);
        resetPlate(false);
        answerAsTests();
        answers[42] = 2; // kept as large as it is
        loadAndWait(writeCube(dir.path(), "sized.stl", side), 1);
        AppData::instance()->selectModel(0, 1);
        window->updateStatus();
        const QString full = QString("%1 x %1 x %1mm").arg(double(side), 0, 'f', 2);
        QLineEdit* field = window->form().letMain_size;
        QCOMPARE(field->width(), 180);
        const int shown = field->fontMetrics().horizontalAdvance(field->text());
        QVERIFY2(shown <= field->width() - 4, qPrintable(QString("%1 px of text: %2").arg(shown).arg(field->text())));
        if (whole) {
            QCOMPARE(field->text(), full);
        } else {
            QVERIFY2(field->text().endsWith("...") && full.startsWith(field->text().chopped(3)), qPrintable(field->text()));
            QCOMPARE(field->toolTip(), full);
        }
        answers.clear();
    }

    // The window draws with the program's own font whatever the machine's sans-serif is (a
    // test run with another font set names it in TARNI_MACHINE_SANS): every family the forms
    // name comes out as the program's own, in the window's texts and style sheets alike.
    void ownTextFont()
    {
        const QString own = QStringLiteral("WenQuanYi Micro Hei");
        QCOMPARE(QApplication::font().family(), own);
        QFont sans(QStringLiteral("sans-serif"));
        sans.setStyleHint(QFont::SansSerif);
        const QString machine = QFontInfo(sans).family();
        if (!qEnvironmentVariableIsEmpty("TARNI_MACHINE_SANS"))
            QCOMPARE(machine, qEnvironmentVariable("TARNI_MACHINE_SANS"));
        QVERIFY2(machine != own, qPrintable("the machine's sans-serif is " + machine));
        QStringList faults;
        for (const QString& name : TextFont::formFamilies())
            if (QFontInfo(QFont(name, 9)).family() != own)
                faults << name + " is " + QFontInfo(QFont(name, 9)).family();
        openPanel(4);
        const QWidget* texts[] = {window, window->form().letMain_size, window->form().labMain_light,
                                  window->form().twtMain_edit, window->findChild<CutModelWidget*>()->findChild<QDoubleSpinBox*>()};
        for (const QWidget* w : texts)
            if (QFontInfo(w->font()).family() != own)
                faults << w->objectName() + " draws with " + QFontInfo(w->font()).family();
        window->form().twtMain_edit->collapseAll();
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
    }

    // The task text shows whole at the smallest window, in either language, as soon as it changes.
    void taskTextWhole_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<int>("task");
        for (const bool chinese : {false, true})
            for (const int task : {1, 3, 4})
                QTest::addRow("%s, task %d", chinese ? "zh" : "en", task) << chinese << task;
    }
    void taskTextWhole()
    {
        QFETCH(bool, chinese);
        QFETCH(int, task);
        resetPlate(false);
        window->layoutOverlays(800, 720);
        QTRY_COMPARE(window->size(), QSize(800, 720));
        if (chinese)
            QTest::mouseClick(window->form().cbbMain_language, Qt::LeftButton);
        ThreadPool* p = ThreadPool::instance();
        FileRWStatus load;
        load.filePath = "x.stl";
        load.progress = 100;
        if (task == 1)
            emit p->fileWorker()->StatusChanged(load);
        else
            setTask(task);
        QTRY_COMPARE(p->taskState(), task);
        window->updateStatus();
        window->repaint();
        QLabel* status = window->form().labMain_Status;
        const QString text = status->text();
        const int needed = status->fontMetrics().horizontalAdvance(text);
        const QRect onBar = status->geometry();
        const int room = std::min(status->contentsRect().width(), status->parentWidget()->width() - onBar.left());
        if (task == 1) {
            load.finished = true;
            emit p->fileWorker()->StatusChanged(load);
        }
        setTask(0);
        if (chinese)
            QTest::mouseClick(window->form().cbbMain_language, Qt::LeftButton);
        QVERIFY2(needed <= room, qPrintable(QString("\"%1\" needs %2 px, has %3").arg(text).arg(needed).arg(room)));
    }

    // The recent submenu is as tall as its entries and as wide as their names (long ones cut,
    // whole in the tool tip); a disabled entry of the settings menu is drawn grey.
    void settingsMenuTexts()
    {
        placeWindow();
        const QString longName = QString(51, 'w') + ".BVT";
        AppData::instance()->setRecentFiles({"a.BVT", longName});
        QMenu* menu = window->form().btnMain_setting->menu();
        QMenu* recent = menu->actions().first()->menu();
        QStringList faults;
        window->on_action2();
        recent->popup(QPoint(300, 300));
        QVERIFY(QTest::qWaitForWindowExposed(recent));
        QTest::qWait(50);
        const QImage list = recent->grab().toImage();
        list.save(TARNI_BUILD_DIR "/screenshots/recent_files.png");
        const QList<QAction*> entries = recent->actions();
        QCOMPARE(entries.size(), 2);
        if (recent->height() > 28 * 2 + 12)
            faults << QString("recent files %1 px tall").arg(recent->height());
        for (QAction* a : entries) {
            const QRect r = recent->actionGeometry(a);
            if (!recent->rect().contains(r))
                faults << a->text() + " outside the menu";
            // The text's ink ends clear of the menu's right edge.
            int inkRight = 0;
            for (int y = r.top() + 4; y < r.bottom() - 4; ++y)
                for (int x = 0; x < list.width(); ++x)
                    if (qGray(list.pixel(x, y)) > 200)
                        inkRight = std::max(inkRight, x);
            if (inkRight > list.width() - 6)
                faults << a->text() + " cut off";
            if (a->text() != a->objectName() && (!a->text().endsWith("...") || a->toolTip() != a->objectName()))
                faults << a->text() + " without its whole name";
        }
        recent->hide();
        ThreadPool::instance()->slotLink(true);
        QTRY_VERIFY(!window->form().actionChoiceType->isEnabled());
        menu->popup(QPoint(300, 300));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        QTest::qWait(50);
        const QImage img = menu->grab().toImage();
        img.save(TARNI_BUILD_DIR "/screenshots/settings_menu_linked.png");
        // The brightest pixel of an entry's text.
        auto brightest = [&](QAction* a) {
            int top = 0;
            const QRect r = menu->actionGeometry(a).adjusted(32, 4, 0, -4) & img.rect();
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    top = std::max(top, qGray(img.pixel(x, y)));
            return top;
        };
        const int disabled = brightest(window->form().actionChoiceType), enabled = brightest(window->form().actionAbout);
        menu->hide();
        ThreadPool::instance()->slotLink(false);
        AppData::instance()->setRecentFiles({});
        if (enabled < 230 || disabled > 180)
            faults << QString("enabled text %1, disabled %2").arg(enabled).arg(disabled);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
    }

    // Moving the cut plane never holds the window, on any model within the preview limit and
    // by every route: the section is made off the GUI thread, and the one put in place is the
    // one for where the plane and the model ended up.
    void sectionPreviewKeepsWindowLive_data()
    {
        QTest::addColumn<QString>("model"); // fins: 500 fins on a base; sheets: 10,000 crowded open sheets
        QTest::addColumn<QString>("axis");  // the axis button chosen before
        QTest::addColumn<QString>("route");
        QTest::addColumn<double>("plane"); // where the route leaves the plane (mm); NaN: not fixed
        const double any = qQNaN();
        QTest::newRow("fins, axis button") << "fins" << "btn_z" << "btn_x" << 0.0;
        QTest::newRow("fins, distance arrow") << "fins" << "btn_x" << "arrow" << 1.0;
        QTest::newRow("fins, typed value") << "fins" << "btn_x" << "typed" << 12.5;
        QTest::newRow("fins, wheel") << "fins" << "btn_x" << "wheel" << 3.0;
        QTest::newRow("fins, plane drag") << "fins" << "btn_x" << "drag" << any;
        QTest::newRow("fins, model moved") << "fins" << "btn_x" << "move model" << 0.0;
        QTest::newRow("fins, selection change") << "fins" << "btn_x" << "select" << 0.0;
        QTest::newRow("sheets, axis button") << "sheets" << "btn_x" << "btn_z" << 5.0;
        QTest::newRow("sheets, typed value") << "sheets" << "btn_z" << "typed" << 7.5;
        QTest::newRow("sheets, plane drag") << "sheets" << "btn_z" << "drag" << any;
    }
    void sectionPreviewKeepsWindowLive()
    {
        QFETCH(QString, model);
        QFETCH(QString, axis);
        QFETCH(QString, route);
        QFETCH(double, plane);
        resetPlate(false);
        cutWorkData() = CutWorkData();
        const bool fins = model == "fins";
        MeshModel* other = nullptr;
        if (route == "select")
            other = addScanModel(testmesh::cuboid(-5, 55, 0, 5, 65, 10), "box");
        MeshModel* m = addScanModel(fins ? testmesh::finsOnBase(500) : testmesh::crowdedSheets(10000), "scan");
        if (other)
            AppData::instance()->selectModel(0, 1);
        CutModelForm& cut = readyToCut(axis);
        RenderEngine* r = window->view()->getRenderer();
        QDoubleSpinBox* distance = cut.dsbCutting;
        const float start = r->cutPosition();
        const std::array<double, 3> startPosition = m->position;
        StallMeter meter;
        if (route.startsWith("btn_")) {
            window->findChild<QPushButton*>(route)->click();
        } else if (route == "arrow") {
            QStyleOptionSpinBox opt;
            opt.initFrom(distance);
            opt.subControls = QStyle::SC_SpinBoxUp;
            const QRect up = distance->style()->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxUp, distance);
            QTest::mouseClick(distance, Qt::LeftButton, Qt::NoModifier, up.center());
        } else if (route == "typed") {
            distance->setFocus();
            distance->selectAll();
            QTest::keyClicks(distance, QString::number(plane));
        } else if (route == "wheel") {
            for (int k = 0; k < 3; ++k) {
                const QPoint c = distance->rect().center();
                QWheelEvent e(c, distance->mapToGlobal(c), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
                QCoreApplication::sendEvent(distance, &e);
                QTest::qWait(16);
            }
        } else if (route == "drag") {
            // From a point of the plane, along its axis, for a second.
            QVector3D on(0.0f, 0.0f, 6.0f), along(0.0f, 0.0f, 0.0f);
            on[r->cutAxis()] = r->cutPosition();
            along[r->cutAxis()] = 3.0f;
            viewDrag(Qt::LeftButton, viewPixel(on), viewPixel(on + along), 60);
        } else if (route == "move model") {
            viewDrag(Qt::RightButton, viewPixel(QVector3D(20, 0, 12)), viewPixel(QVector3D(20, 0, 12)) + QPoint(40, 0), 30);
        } else if (route == "select") {
            viewMouse(QEvent::MouseButtonPress, Qt::RightButton, viewPixel(QVector3D(20, 0, 12)));
            viewMouse(QEvent::MouseButtonRelease, Qt::RightButton, viewPixel(QVector3D(20, 0, 12)));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!sectionPreview()->isBusy(), TestTime::waitMs(60000));
        const qint64 stall = meter.longestMs();
        const double work = meter.longestWorkMs();
        QCOMPARE(AppData::instance()->getSelectedModel(), m);
        if (!qIsNaN(plane))
            QCOMPARE(r->cutPosition(), float(plane));
        // The drags took hold.
        if (route == "drag")
            QVERIFY(r->cutPosition() > start + 0.5f);
        if (route == "move model")
            QVERIFY(m->position != startPosition);
        const int planeUm = int(std::trunc(double(r->cutPosition()) * 1000.0));
        const CutWorkData& wd = cutWorkData();
        QCOMPARE(wd.model, static_cast<const void*>(m));
        QCOMPARE(wd.axis, r->cutAxis());
        QCOMPARE(wd.planeUm, planeUm);
        const Eigen::Matrix4d mm = m->getModelMatrix();
        QVERIFY(std::equal(mm.data(), mm.data() + 16, wd.matrix.begin()));
        // Made at that plane: the lower half below it, the upper above, both meeting on it.
        const double at = planeUm * 0.001;
        auto coordinate = [&](const CutVertex& c) { return double(wd.points[size_t(c.point)][size_t(wd.axis)]) * 0.001; };
        bool onPlane = false;
        for (const CutVertex& c : wd.down) {
            QVERIFY(coordinate(c) <= at + 1e-9);
            onPlane = onPlane || std::fabs(coordinate(c) - at) < 1e-9;
        }
        for (const CutVertex& c : wd.up)
            QVERIFY(coordinate(c) >= at - 1e-9);
        QVERIFY(onPlane && !wd.regions.empty());
        qInfo("longest stall %lld ms, GUI thread working %.1f ms of it", (long long)stall, work);
        QVERIFY2(work < TestTime::waitMs(150), qPrintable(QString("the GUI thread held for %1 ms").arg(work)));
        // Nor did it wait for the section, which takes seconds here; a busy machine makes the
        // gaps long without the thread working.
        QVERIFY2(stall < TestTime::waitMs(2500), qPrintable(QString("the window stood still %1 ms").arg(stall)));
        leaveCut();
    }

    // A section that is no longer wanted never takes the place of the latest one, nor of what a
    // cut works on, and leaves nothing behind that points at a model gone.
    void sectionPreviewDropped_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<int>("ready"); // sections put in place afterwards
        QTest::newRow("superseded") << "superseded" << 1;
        QTest::newRow("cut panel left") << "leave" << 0;
        QTest::newRow("model deleted") << "delete" << 0;
        QTest::newRow("cut started") << "cut" << 0;
    }
    void sectionPreviewDropped()
    {
        QFETCH(QString, route);
        QFETCH(int, ready);
        resetPlate(false);
        cutWorkData() = CutWorkData();
        // Deleting the fins leaves a model the plane misses, so the panel stays ready.
        if (route == "delete")
            addScanModel(testmesh::cuboid(55, -5, 0, 65, 5, 10), "box");
        MeshModel* m = addScanModel(testmesh::finsOnBase(500), "fins");
        // The section across X is in flight: its result has not come back yet.
        CutModelForm& cut = readyToCut("btn_x");
        QVERIFY(sectionPreview()->isBusy());
        QSignalSpy shown(sectionPreview(), &SectionPreview::sectionReady);
        if (route == "superseded") {
            // A section done while its result waits in the event queue: only its age tells it
            // apart then.
            QTRY_VERIFY_WITH_TIMEOUT(!sectionPreview()->isBusy(), TestTime::waitMs(60000));
            shown.clear();
            cut.dsbCutting->setValue(4.0);
            QVERIFY(sectionPreview()->isBusy());
            QThread::msleep(500);
            cut.dsbCutting->setValue(5.0);
        } else if (route == "leave") {
            cut.btnReadyCutting->click();
        } else if (route == "delete") {
            QTest::keyClick(window, Qt::Key_Delete);
            QCOMPARE(AppData::instance()->modelCount(), 1);
            QVERIFY(cut.btnReadyCutting->isChecked());
        } else if (route == "cut") {
            asked.clear();
            cut.btnStartCutting->click();
            QTRY_VERIFY_WITH_TIMEOUT(AppData::instance()->modelCount() == 2 || asked.contains(31), TestTime::waitMs(60000));
            QVERIFY(asked.isEmpty());
            QCOMPARE(AppData::instance()->getModel(0)->getName(), std::string("fins_up"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!sectionPreview()->isBusy(), TestTime::waitMs(60000));
        QCoreApplication::processEvents();
        QCOMPARE(shown.count(), ready);
        if (ready) {
            QCOMPARE(shown.at(0).at(0).toInt(), 5000);
            QCOMPARE(cutWorkData().model, static_cast<const void*>(m));
            QCOMPARE(cutWorkData().planeUm, 5000);
        } else {
            QVERIFY(cutWorkData().model != static_cast<const void*>(m));
        }
        leaveCut();
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
