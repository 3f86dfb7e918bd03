#include <QtTest>

#include <QRegularExpression>
#include <QSemaphore>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

#include "Thread/FDMSliceProcess.h"
#include "Thread/FileRWThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BrevMessageBox.h"
#include "UI/ChoiceTypeDialog.h"
#include "UI/MainWindow.h"
#include "UI/BVPushBtn.h"
#include "FileRW/FileReaderWriter.h"
#include "FileRW/ProjectFile.h"
#include "app/Startup.h"
#include "render/GLWidget.h"
#include "render/GcodePreviewData.h"
#include "render/RenderEngine.h"
#include "scene/AppData.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"

#include <QAbstractSpinBox>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QStyleOptionSpinBox>
#include <QTableWidget>
#include "common/CubeStl.h"
#include "common/FullDisk.h"
#include "common/ThreeMfArchive.h"

namespace {

QList<QUrl> urls(const QStringList& names)
{
    QList<QUrl> out;
    for (const QString& n : names)
        out << QUrl::fromLocalFile("/tmp/" + n);
    return out;
}

} // namespace

class TestFileActions : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    MainWindow* window = nullptr;
    QList<int> asked;
    QList<int> printerErrors;
    QStringList told; // the text of each box, as asked
    QMap<int, int> answers;
    QStringList dialogAnswer;
    QString sliced; // the print-task file the export made
    int moveAtQuestion = -1; // a model moves behind the guards' back when this kind is asked
    QMap<int, bool> offeredChoice; // whether the last box of a kind had a second button
    uint64_t plateAtFirstQuestion = 0;
    QList<int> stacked;  // kinds asked while another box was on screen
    QSemaphore sliceHold; // the slicing worker waits on it, as on a large scene's input
    QString routeFault;  // what a route saw go wrong on its way

    // The files refusedModelSaysWhy hands over.
    QString refusedFile(const QString& file)
    {
        const QString path = (file == "BVT" ? AppData::instance()->getAppDir() + "/gco" : dir.path()) + "/refused."
                           + file.left(file.indexOf(' ') < 0 ? file.size() : file.indexOf(' '));
        const auto written = [&path](const QByteArray& bytes) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? path : QString();
        };
        if (file == "BVT")
            return written(QByteArray(4096, 'x'));
        if (file == "stl")
            return writeCube(path, 20.0f, -10.0f);
        if (file == "stl far")
            return written("solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1e300 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid\n");
        if (file.startsWith("obj"))
            return written(file == "obj far" ? "v 0 0 0\nv 0 0 -1e300\nv 0 1 0\nf 1 2 3\n" : "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
        if (file.startsWith("brev")) {
            ProjectData data;
            auto mesh = std::make_unique<MeshData>();
            mesh->vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
            mesh->faces = {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}};
            data.meshSlots.push_back(std::move(mesh));
            ProjectData::Model record;
            record.name = "m";
            record.meshSlot = 0;
            data.models.assign(file == "brev 51" ? 51 : file == "brev 2" ? 2 : 1, record);
            std::atomic<int> progress{0};
            if (!ProjectFile::write(path, data, progress))
                return QString();
            if (file == "brev cut")
                QFile(path).resize(QFileInfo(path).size() - 10);
            return path;
        }
        // One tetrahedron placed by items; or a mesh of 100,000 triangles placed by items of a
        // hundred components each.
        const bool bomb = file == "3mf bomb" || file == "3mf broken";
        QByteArray xml = "<model unit=\"millimeter\" xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\"><resources><object id=\"1\"><mesh><vertices><vertex x=\"0\" y=\"0\" "
                         "z=\"0\"/><vertex x=\"1\" y=\"0\" z=\"0\"/><vertex x=\"0\" y=\"1\" z=\"0\"";
        xml += file == "3mf broken" ? "" : "/>";
        xml += bomb ? "" : "<vertex x=\"0\" y=\"0\" z=\"1\"/>";
        xml += "</vertices><triangles>";
        for (int i = 0; i < (bomb ? 100000 : 1); ++i)
            xml += "<triangle v1=\"0\" v2=\"1\" v3=\"2\"/>";
        xml += "</triangles></mesh></object><object id=\"2\"><components>";
        for (int i = 0; i < (bomb ? 100 : 1); ++i)
            xml += "<component objectid=\"1\"/>";
        xml += "</components></object></resources><build>";
        const int items = file == "3mf bomb" ? 1000 : file == "3mf broken" ? 1 : file.mid(4).toInt();
        for (int i = 0; i < items; ++i)
            xml += "<item objectid=\"2\"/>";
        xml += "</build></model>";
        return write3mf(path, xml);
    }

    void waitIdle()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!ThreadPool::instance()->isBusy(), 30000);
        QCoreApplication::processEvents();
    }

    RenderEngine* renderer() const { return window->view()->getRenderer(); }

    void dropFiles(const QStringList& paths)
    {
        QMimeData mime;
        QList<QUrl> list;
        for (const QString& path : paths)
            list << QUrl::fromLocalFile(path);
        mime.setUrls(list);
        // A drop goes to the widget that accepted the drag.
        QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        QDropEvent drop(QPointF(300, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
    }

    // Hands the files to the window the way a user does, and waits until `loads` were read.
    bool deliver(const QString& route, const QStringList& paths, int loads)
    {
        // A missing file would only be waited for.
        for (const QString& path : paths)
            if (!QFileInfo::exists(path))
                return false;
        QSignalSpy done(ThreadPool::instance()->fileWorker(), &FileRWThread::signRequestDone);
        if (route == "open button") {
            dialogAnswer = paths;
            window->on_btnMain_open_clicked();
        } else if (route == "drop") {
            dropFiles(paths);
        } else if (route == "recent") {
            window->openRecentFile(QFileInfo(paths.first()).fileName());
        } else if (route == "second start") {
            for (const QString& path : paths)
                window->handOverFile(path);
        } else { // command line
            for (const QString& path : paths)
                window->openFile(path);
        }
        const bool read = QTest::qWaitFor([&] { return done.count() >= loads; }, 30000);
        QTest::qWait(50);
        return read && done.count() == loads
            && QTest::qWaitFor([] { return !ThreadPool::instance()->isBusy(); }, 30000);
    }

    // A right-button drag across the view; whether any model moved.
    bool rightDragMoves()
    {
        std::vector<std::array<float, 3>> before;
        for (MeshModel* m : AppData::instance()->getModels())
            before.push_back(m->getBottomCenter());
        QWidget* v = window->view();
        const QPoint at = v->rect().center();
        QTest::mousePress(v, Qt::RightButton, Qt::NoModifier, at);
        QMouseEvent move(QEvent::MouseMove, at + QPoint(80, 50), Qt::NoButton, Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(v, &move);
        QTest::mouseRelease(v, Qt::RightButton, Qt::NoModifier, at + QPoint(80, 50));
        for (size_t i = 0; i < before.size(); ++i)
            if (AppData::instance()->getModel(int(i))->getBottomCenter() != before[i])
                return true;
        return false;
    }

    // A print-task file of the cube: the export's, or one sliced now when run alone.
    QString slicedFile()
    {
        const QString plate = dir.path() + "/plate.BVT";
        if (sliced.isEmpty() && !QFileInfo::exists(plate) && !armPlateSlice("model view"))
            return QString();
        return sliced.isEmpty() ? plate : sliced;
    }

    // A model on the plate and the exported slice read back, its preview shown or switched off.
    bool haveModelAndSlice(bool shown)
    {
        const QString file = slicedFile();
        if (AppData::instance()->modelCount() == 0 && !deliver("handed over", {dir.path() + "/cube.stl"}, 1))
            return false;
        if (!deliver("handed over", {file}, 1)
            || !QTest::qWaitFor([this] { return window->view()->showMode() == 2; }))
            return false;
        if (!shown) {
            window->form().btnMain_Slice->setChecked(false);
            window->on_btnMain_Slice_clicked();
        }
        window->view()->repaint();
        return window->view()->showMode() == (shown ? 2 : 0) && AppData::instance()->modelCount() > 0;
    }


    // The plate sliced (export), tied to the plate, and shown as asked: "model view" (mode 0),
    // "preview" (mode 2), or held in task state 1, 2 or 3 ("loading", "reading", "slicing").
    bool armPlateSlice(const QString& situation)
    {
        ThreadPool* p = ThreadPool::instance();
        AppData* app = AppData::instance();
        app->setChoiceType(1);
        window->updateMachineLabel();
        if (app->modelCount() == 0 && !deliver("handed over", {dir.path() + "/cube.stl"}, 1))
            return false;
        const QString plate = dir.path() + "/plate.BVT";
        const int mode = window->view()->showMode();
        if (p->taskKind() != ThreadPool::TaskExport || p->printFilePath() != plate || p->sliceIsStale()
            || (mode != 0 && mode != 2)) {
            // Earlier routes may have left copies, or a model moved or grown off the plate.
            while (app->modelCount() > 2)
                app->removeModel(app->modelCount() - 1);
            for (MeshModel* m : app->getModels()) {
                m->visible = true;
                if (!m->isInsideVolume()) {
                    const double none[3] = {0.0, 0.0, 0.0};
                    m->setRotation(none, true);
                    m->setScale(1.0);
                    const auto c = m->getBottomCenter();
                    const double back[3] = {-double(c[0]), -double(c[1]), -double(c[2])};
                    m->translate(back);
                }
            }
            dialogAnswer = QStringList{plate};
            asked.clear();
            window->on_btnMain_export_clicked();
            if (!QTest::qWaitFor([this] { return asked.contains(28); }, 60000))
                return false;
            waitIdle();
        }
        if (!QTest::qWaitFor([this] { return window->view()->showMode() != 3; }))
            return false;
        const bool shown = situation == "preview";
        if (window->form().btnMain_Slice->isChecked() != shown) {
            window->form().btnMain_Slice->setChecked(shown);
            window->on_btnMain_Slice_clicked();
        }
        if (situation == "slicing") {
            p->slotSliceChanged(5000);
        } else if (situation == "loading" || situation == "reading") {
            FileRWStatus s;
            s.filePath = situation == "loading" ? "other.stl" : "other.BVT";
            s.load = true;
            p->on_fileRWThread_StatusChanged(s);
        }
        QCoreApplication::processEvents();
        const int want = shown ? 2 : 0;
        return window->view()->showMode() == want && p->taskKind() == ThreadPool::TaskExport
            && !p->sliceIsStale() && app->modelCount() > 0;
    }

    // A press on the first pixel where the view picks the gizmo of this edit mode, then a drag.
    bool gizmoDrag(int editMode, Qt::MouseButton button)
    {
        AppData::instance()->setEditMode(editMode);
        AppData::instance()->selectModel(0, 1);
        GLWidget* v = window->view();
        for (int y = 0; y < v->height(); y += 3) {
            for (int x = 0; x < v->width(); x += 3) {
                const PickRay ray = v->pickRay(float(x), float(y));
                float axis = -1, plane = -1;
                if (editMode == 2)
                    axis = v->pickRotateRing(ray).w();
                else
                    v->pickMoveAxis(ray, axis, plane);
                if (axis == -1)
                    continue;
                const QPoint at(x, y), to(x + 12, y + 8);
                QTest::mousePress(v, button, Qt::NoModifier, at);
                QMouseEvent move(QEvent::MouseMove, to, Qt::NoButton, button, Qt::NoModifier);
                QApplication::sendEvent(v, &move);
                QTest::mouseRelease(v, button, Qt::NoModifier, to);
                return true;
            }
        }
        return false;
    }

    void wheel(QWidget* w)
    {
        const QPointF at(w->width() / 2, w->height() / 2);
        QWheelEvent e(at, w->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &e);
    }

    // Clicks into a box's text (or reaches it by Tab) and types, as a user does.
    void typeInto(QWidget* box, const QString& text, bool click = true)
    {
        QLineEdit* edit = qobject_cast<QLineEdit*>(box);
        if (!edit)
            edit = box->findChild<QLineEdit*>();
        if (click)
            QTest::mouseClick(edit, Qt::LeftButton, Qt::NoModifier, edit->rect().center());
        else
            box->setFocus(Qt::TabFocusReason);
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }

    QWidget* control(const QString& name) const { return window->findChild<QWidget*>(name); }
    QWidget* listCell(int row, int column) const
    {
        return window->findChild<QTableWidget*>("tbwModel_list")->cellWidget(row, column);
    }

    // Opens the widget's context menu as a right click does and picks an entry by its text.
    // A disabled widget opens none: nothing to take, as for the user.
    bool pickFromContextMenu(QWidget* w, const QString& entry)
    {
        bool picked = false;
        QTimer::singleShot(50, w, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (QAction* a : menu->actions()) {
                if (a->isEnabled() && a->text().remove('&').startsWith(entry)) {
                    menu->setActiveAction(a);
                    QTest::keyClick(menu, Qt::Key_Return);
                    picked = true;
                    return;
                }
            }
            menu->close();
        });
        const QPoint at = w->rect().center();
        QContextMenuEvent e(QContextMenuEvent::Mouse, at, w->mapToGlobal(at));
        QApplication::sendEvent(w, &e);
        return QTest::qWaitFor([&] { return picked; }, 1000) || !w->isEnabled();
    }

    // A press held while the question that it raised is answered: once answered, the control
    // must not go on stepping by itself.
    void holdPress(QWidget* w, const QPoint& at, const std::function<double()>& value)
    {
        QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, at);
        const double first = value();
        QTest::qWait(900);
        const double later = value();
        QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, at);
        if (later != first)
            routeFault = QString("the held press went on from %1 to %2").arg(first).arg(later);
    }

    // The ways into a field's text other than typing: a drop, the context menu, a middle click.
    bool textRoute(const QString& way)
    {
        auto* edit = qobject_cast<QLineEdit*>(control("letRotate_x"));
        QApplication::clipboard()->setText("45");
        QApplication::clipboard()->setText("45", QClipboard::Selection);
        const QPoint at(edit->width() - 4, edit->height() / 2);
        if (way == "drop") {
            QMimeData mime;
            mime.setText("45");
            QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(edit, &enter);
            QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(edit, &move);
            QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(edit, &drop);
            return true;
        }
        if (way == "middle-click paste") {
            QTest::mouseClick(edit, Qt::MiddleButton, Qt::NoModifier, at);
            return true;
        }
        edit->selectAll();
        return pickFromContextMenu(edit, way == "paste menu" ? "Paste" : way == "cut menu" ? "Cut" : "Delete");
    }

    // The panels show the selected model as it is, whatever was refused or made.
    QString panelsDifferFromModel()
    {
        const MeshModel* m = AppData::instance()->getSelectedModel();
        if (!m)
            return QString();
        QStringList wrong;
        const auto c = m->getBottomCenter();
        const char* moves[3] = {"SpinBox_moveX", "SpinBox_moveY", "SpinBox_moveZ"};
        const char* sizes[3] = {"dsbScale_x", "dsbScale_y", "dsbScale_z"};
        const char* axes = "xyz";
        for (int i = 0; i < 3; ++i) {
            const double shown = window->findChild<QDoubleSpinBox*>(moves[i])->value();
            if (std::fabs(shown - double(c[size_t(i)])) > 0.006)
                wrong << QString("%1 shows %2, the model is at %3").arg(moves[i]).arg(shown).arg(c[size_t(i)]);
            const double size = window->findChild<QDoubleSpinBox*>(sizes[i])->value();
            if (std::fabs(size - m->size[size_t(i)]) > 0.011)
                wrong << QString("%1 shows %2, the model is %3").arg(sizes[i]).arg(size).arg(m->size[size_t(i)]);
            const int angle = int(m->rotationAngles[size_t(i)] + 1e-6);
            const auto* slider = window->findChild<QSlider*>(QString("hsdRotate_") + axes[i]);
            const auto* text = window->findChild<QLineEdit*>(QString("letRotate_") + axes[i]);
            if (slider->value() != angle || text->text() != QString::number(angle))
                wrong << QString("rotate %1 shows %2 and \"%3\", the model is at %4")
                             .arg(axes[i]).arg(slider->value()).arg(text->text()).arg(angle);
        }
        return wrong.join("; ");
    }

    // One route a user can take to change the plate; false when it could not be taken.
    bool takeRoute(const QString& route)
    {
        const int last = AppData::instance()->modelCount() - 1;
        const QString cube = dir.path() + "/cube.stl";
        auto inDialog = [this](const std::function<void(ChoiceTypeDialog*)>& act) {
            QTimer::singleShot(0, window, [this, act] {
                for (auto* d : window->findChildren<ChoiceTypeDialog*>())
                    if (d->isVisible()) {
                        act(d);
                        if (d->isVisible())
                            d->close();
                    }
            });
            if (window->form().btnMain_setting->isEnabled())
                window->on_actionChoiceType();
        };
        if (route.startsWith("gizmo"))
            return gizmoDrag(route.contains("ring") ? 2 : route.contains("scale") ? 3 : 1,
                             route.endsWith("right") ? Qt::RightButton : Qt::LeftButton);
        // The move, rotate and scale panels: a key, the wheel, or a click into the text and typing.
        static const QHash<QString, QStringList> panels{{"move", {"SpinBox_moveX", "SpinBox_moveX", "7"}},
                                                        {"rotate", {"hsdRotate_x", "letRotate_x", "45"}},
                                                        {"scale", {"dsbScale_x", "dsbScale_x", "31"}}};
        const QString panel = route.section(' ', 0, 0), way = route.section(' ', 1);
        // A click on one control: a list button (row, column) or a panel button by name.
        static const QHash<QString, QPoint> cells{{"list copy", {0, 3}}, {"list hide", {0, 0}}, {"list delete", {-1, 4}}};
        static const QHash<QString, QString> buttons{{"support delete all", "btnSupport_deleteall"},
                                                     {"support auto", "btnSupport_auto"}};
        // Buttons pressed from the keyboard: no mouse press goes before their action.
        static const QHash<QString, QString> keyed{{"move set plate", "btn_movetoZ0"}, {"move center", "btn_movecenter"},
                                                   {"move reset", "btn_reset"}, {"rotate preset", "btnRotate_back"},
                                                   {"scale undo", "btnScale_undo"}};
        if (route.startsWith("rotate ") && QStringList{"drop", "paste menu", "cut menu", "delete menu",
                                                       "middle-click paste"}.contains(way))
            return textRoute(way);
        if (route == "scale step up menu")
            return pickFromContextMenu(control("dsbScale_x"), "Step up");
        if (route == "scale step down menu")
            return pickFromContextMenu(control("dsbScale_x"), "Step down");
        if (route == "rotate slider held") {
            auto* slider = qobject_cast<QSlider*>(control("hsdRotate_x"));
            holdPress(slider, QPoint(slider->width() * 9 / 10, slider->height() / 2),
                      [] { return AppData::instance()->getSelectedModel()->rotationAngles[0]; });
            return true;
        }
        if (route == "move arrow held") {
            auto* box = qobject_cast<QAbstractSpinBox*>(control("SpinBox_moveX"));
            QStyleOptionSpinBox option;
            option.initFrom(box);
            option.subControls = QStyle::SC_SpinBoxUp;
            const QRect up = box->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, box);
            holdPress(box, up.center(), [] { return double(AppData::instance()->getSelectedModel()->getBottomCenter()[0]); });
            return true;
        }
        if (route == "close") {
            // The question is on screen while the slice ends; a box left over is cancelled (the
            // row fails on what was asked over it), so the window stays for the rows after.
            QTimer::singleShot(15000, window, [] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* box = qobject_cast<BrevMessageBox*>(w); box && box->isVisible())
                        box->done(2);
            });
            if (window->close())
                routeFault = "the window closed";
            return true;
        }
        if (keyed.contains(route)) {
            QTest::keyClick(control(keyed[route]), Qt::Key_Space);
        } else if (panels.contains(panel)) {
            const QStringList& c = panels[panel];
            if (way == "key")
                QTest::keyClick(control(c[0]), Qt::Key_Up);
            else if (way == "wheel")
                wheel(control(c[0]));
            else
                typeInto(control(c[1]), c[2], way != "tab text");
        } else if (cells.contains(route)) {
            const QPoint c = cells[route];
            QTest::mouseClick(listCell(c.x() < 0 ? last : c.x(), c.y()), Qt::LeftButton);
        } else if (route.startsWith("list copy "))
            QTest::keyClick(listCell(0, 3), route.endsWith("space") ? Qt::Key_Space : Qt::Key_Return);
        else if (buttons.contains(route))
            QTest::mouseClick(control(buttons[route]), Qt::LeftButton);
        else if (route == "list rename") {
            auto* name = qobject_cast<QLineEdit*>(listCell(0, 2));
            name->setText("renamed");
            emit name->editingFinished();
        } else if (route == "list up and down") {
            QTest::keyClick(window->findChild<QTableWidget*>("tbwModel_list"), Qt::Key_Down);
            QTest::keyClick(window->findChild<QTableWidget*>("tbwModel_list"), Qt::Key_Up);
        } else if (route == "paste key")
            QTest::keyClick(window, Qt::Key_V, Qt::ControlModifier);
        else if (route == "delete key")
            QTest::keyClick(window, Qt::Key_Delete);
        else if (route == "drop" && ThreadPool::instance()->isBusy())
            dropFiles({cube}); // kept for the job's end: nothing is read meanwhile
        else if (route == "drop" || route == "recent") {
            const QString file = route == "drop" ? cube : AppData::instance()->getAppDir() + "/gco/recent.BVT";
            if (route == "recent" && !QFileInfo::exists(file) && !QFile::copy(slicedFile(), file))
                return false;
            deliver(route, {file}, 0);
        } else if (route == "open button") {
            dialogAnswer = QStringList{cube};
            window->form().btnMain_open->click();
        } else if (route == "second instance")
            window->handOverFile(cube);
        else if (route == "printer dialog ok")
            inDialog([](ChoiceTypeDialog* d) {
                d->findChild<QPushButton*>("btn_px6_a")->click();
                d->findChild<QPushButton*>("btn_ok")->click();
            });
        else if (route == "printer dialog double-click")
            inDialog([](ChoiceTypeDialog* d) { emit d->findChild<BVPushBtn*>("btn_px6_a")->DblClick(); });
        else if (route == "printer reports")
            window->onMachineTypeReported(ChoicePX6A);
        else if (route == "printer reports, declined") {
            answers[3] = 0;
            window->onMachineTypeReported(ChoicePX6A);
            answers.remove(3);
            // Dropped at once, not left armed for the print-time net.
            if (ThreadPool::instance()->hasPrintFile() != 0 || !ThreadPool::instance()->printFilePath().isEmpty())
                routeFault = "the other printer model's slice is still armed";
        }
        else if (route == "printer reports, dialog open") // the dialog takes the report first
            inDialog([this](ChoiceTypeDialog* d) {
                d->slot_update(ChoicePX6A);
                window->onMachineTypeReported(ChoicePX6A);
            });
        else if (route == "cut") {
            QTest::mouseClick(control("btnReadyCutting"), Qt::LeftButton);
            QTest::mouseClick(control("btnStartCutting"), Qt::LeftButton);
        } else
            return false;
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY(!writeCube(dir.path() + "/cube.stl", 20.0f, -10.0f).isEmpty());
        qputenv("LOCALAPPDATA", (dir.path() + "/local").toLocal8Bit());
        char arg0[] = "tarni";
        char* argv[] = {arg0, nullptr};
        initEnvironment(1, argv);
        // A program folder of our own, with the engine where the window looks for it.
        const QString engine = QStringLiteral(TARNI_BUILD_DIR "/BrevEngine/BrevEngine");
        QVERIFY2(QFileInfo(engine).isExecutable(), "the engine must be built");
        const QString appDir = dir.path() + "/app";
        QVERIFY(QDir().mkpath(appDir + "/BrevEngine"));
        QVERIFY(QDir().mkpath(appDir + "/gco"));
        QVERIFY(QFile::copy(engine, appDir + "/BrevEngine/" + FDMSliceProcess::engineFileName()));
        AppData::instance()->setAppDir(appDir);
        AppData::instance()->setChoiceType(1);
        BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
            // The printer's reports come whenever the link has them: a send with no printer
            // ends in "connection lost" seconds later, inside whatever test runs then.
            if (box.kind() == -1) {
                printerErrors << box.printerError();
                return 1;
            }
            if (asked.isEmpty())
                plateAtFirstQuestion = AppData::instance()->plateRevision();
            asked << box.kind();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w != &box && w->isVisible() && qobject_cast<BrevMessageBox*>(w))
                    stacked << box.kind();
            offeredChoice[box.kind()] = box.isButtonShown(BVMessageBox::SecondButton);
            told << box.text();
            if (box.kind() == moveAtQuestion) {
                const double delta[3] = {5.0, 0.0, 0.0};
                AppData::instance()->getModel(0)->translate(delta);
            }
            return answers.value(box.kind(), 1);
        });
        MainWindow::setFileDialogHook([this](const QString&, const QString&, const QString&, bool) {
            return dialogAnswer;
        });
        window = new MainWindow();
        QVERIFY(window->startUp());
    }

    void cleanupTestCase()
    {
        answers[17] = 0;
        if (window) // null when the start-up failed
            window->close();
        delete window;
        BrevMessageBox::setAnswerHook(nullptr);
        MainWindow::setFileDialogHook(nullptr);
    }

    void drops_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("nothing") << QStringList{} << false;
        QTest::newRow("models") << QStringList{"a.stl", "b.OBJ", "c.3mf"} << true;
        QTest::newRow("one project") << QStringList{"a.brev"} << true;
        QTest::newRow("project and model") << QStringList{"a.brev", "b.stl"} << false;
        QTest::newRow("unknown suffix") << QStringList{"a.stl", "b.txt"} << false;
        QTest::newRow("print-task file") << QStringList{"a.BVT"} << true;
    }
    void drops()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, accepted);
        QCOMPARE(window->acceptableDrop(urls(names)), accepted);
    }

    void openRefusesLongNamesAndTooManyModels()
    {
        asked.clear();
        dialogAnswer = QStringList{dir.path() + "/" + QString(54, 'n') + ".stl"};
        window->on_btnMain_open_clicked();
        QCOMPARE(asked, QList<int>{32});
        QCOMPARE(AppData::instance()->modelCount(), 0);
    }

    void exportSlicesAndShowsThePreview()
    {
        const QString model = writeCube(dir.path() + "/cube.stl", 20.0f, -10.0f);
        window->openFile(model);
        QTRY_COMPARE_WITH_TIMEOUT(AppData::instance()->modelCount(), 1, 10000);
        waitIdle();
        asked.clear();
        told.clear();
        const QString target = dir.path() + "/job.bvt";
        dialogAnswer = QStringList{target};
        window->on_btnMain_export_clicked();
        // The whole road: ini, engine, print-task file, read back for the preview. Any box
        // ends the wait: a refused file must fail here, not after a minute.
        QTRY_VERIFY_WITH_TIMEOUT(!asked.isEmpty(), 60000);
        QVERIFY2(asked == QList<int>{28}, qPrintable(told.join(" | ")));
        waitIdle();
        QVERIFY(QFileInfo::exists(target + ".BVT"));
        QCOMPARE(QSettings(AppData::instance()->settingsFilePath(), QSettings::IniFormat)
                     .value("Paths/GCodeSave").toString(),
                 target + ".BVT");
        QTRY_COMPARE_WITH_TIMEOUT(window->view()->showMode(), 2, 10000);
        // Only a slice that was shown is used by the tests after this one.
        sliced = target + ".BVT";
        QVERIFY(window->form().btnMain_Slice->isChecked());
        QVERIFY(window->form().btnMain_Slice->isEnabled());
        QVERIFY(g_gcodeLayerCount.load() > 50);
        QCOMPARE(ThreadPool::instance()->hasPrintFile(), 1);
        QTest::qWait(200);
        QVERIFY(window->grab().toImage().save(QStringLiteral(TARNI_BUILD_DIR "/mainwindow_preview.png")));

        // Switching the preview off keeps the data (mode 0); clearing drops it.
        window->form().btnMain_Slice->setChecked(false);
        window->on_btnMain_Slice_clicked();
        QCOMPARE(window->view()->showMode(), 0);
        QCOMPARE(ThreadPool::instance()->hasPrintFile(), 0);
        // An edit in model view with slice data asks first; Cancel keeps it.
        answers[19] = 0;
        QVERIFY(!window->confirmEraseSliceData());
        answers[19] = 1;
        QVERIFY(window->confirmEraseSliceData());
        QVERIFY(window->view()->showMode() == 1 || window->view()->showMode() == 3);
        QVERIFY(!window->form().btnMain_Slice->isEnabled());
    }

    void projectSaveWaitsForItsResult()
    {
        if (AppData::instance()->modelCount() == 0)
            QVERIFY(deliver("handed over", {dir.path() + "/cube.stl"}, 1));
        dialogAnswer = QStringList{dir.path() + "/scene"};
        asked.clear();
        QVERIFY(window->on_btnMain_save_clicked());
        QVERIFY(QFileInfo::exists(dir.path() + "/scene.brev"));
        QTRY_VERIFY(asked.contains(36));
        // A save that cannot be written reports failure.
        dialogAnswer = QStringList{dir.path() + "/missing/folder/scene.brev"};
        QVERIFY(!window->on_btnMain_save_clicked());
        dialogAnswer = QStringList{};
        QVERIFY(!window->on_btnMain_save_clicked());
    }

    // A refused file says why, by whatever route it comes; what it would add must fit the plate.
    void refusedModelSaysWhy_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("onPlate"); // models put on the plate first; -1: as it is
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("said");
        const QString failed = "Fail to open the file!\n", limit = "The number of models has reached the upper limit!\n";
        const QString holds51 = limit + "The file holds 51 models; at most 50 fit on the plate.";
        // A thousand items of a hundred components each place 10^10 triangles.
        QTest::newRow("too large") << "handed over" << "3mf bomb" << -1 << 1 << failed + "The model is too large for this computer.";
        QTest::newRow("broken") << "handed over" << "3mf broken" << -1 << 1 << failed + "The 3D model is not well-formed XML.";
        QTest::newRow("51 items, command line") << "handed over" << "3mf 51" << 0 << 12 << holds51;
        QTest::newRow("51 items, second start") << "second start" << "3mf 51" << 0 << 12 << holds51;
        QTest::newRow("51 items, dropped") << "drop" << "3mf 51" << 0 << 12 << holds51;
        QTest::newRow("51 items, open button") << "open button" << "3mf 51" << 0 << 12 << holds51;
        QTest::newRow("2 items onto 49") << "handed over" << "3mf 2" << 49 << 12
                                         << limit + "The plate holds 49 models and the file 2 more; at most 50 fit on the plate.";
        QTest::newRow("STL onto 50, second start") << "second start" << "stl" << 50 << 12
                                                   << limit + "The plate holds 50 models and the file 1 more; at most 50 fit on the plate.";
        QTest::newRow("project of 51 records") << "handed over" << "brev 51" << 0 << 12 << holds51;
        // A project replaces the plate: only its own records count (kind 0: it loads).
        QTest::newRow("project of 2 records onto 49") << "handed over" << "brev 2" << 49 << 0 << QString();
        // A file that replaces the plate and fails to load leaves the plate as it was.
        const QString damaged = failed + "The project file is damaged or cut short.";
        QTest::newRow("cut-short project, second start") << "handed over" << "brev cut" << 1 << 1 << damaged;
        QTest::newRow("cut-short project, open button") << "open button" << "brev cut" << 1 << 1 << damaged;
        QTest::newRow("refused print-task file, recent") << "recent" << "BVT" << 1 << 1 << failed.chopped(1);
        QTest::newRow("STL at 1e300") << "handed over" << "stl far" << -1 << 1
                                      << failed + "The model reaches 1e+300 mm from the origin; a printer can use at most 1000000 mm.";
        QTest::newRow("OBJ at -1e300") << "drop" << "obj far" << -1 << 1
                                       << failed + "The model reaches 1e+300 mm from the origin; a printer can use at most 1000000 mm.";
        QTest::newRow("OBJ without faces") << "open button" << "obj empty" << -1 << 1
                                           << failed + "The file holds no triangles that can be used.";
    }
    void refusedModelSaysWhy()
    {
        QFETCH(QString, route);
        QFETCH(QString, file);
        QFETCH(int, onPlate);
        QFETCH(int, kind);
        QFETCH(QString, said);
        const QString path = refusedFile(file);
        const auto clearPlate = [this] {
            AppData::instance()->clearModels(false);
            MeshList::clear(false);
            window->view()->releaseModelBuffers();
            window->updateStatus();
        };
        if (onPlate >= 0) {
            clearPlate();
            const QString cube = writeCube(dir.path() + "/cube.stl", 20.0f, -10.0f);
            for (int i = 0; i < onPlate; ++i) {
                FileReaderWriter rw;
                LoadedModel lm;
                QVERIFY(rw.loadModel(cube, lm));
                QVERIFY(lm.commit());
            }
            window->updateStatus();
        }
        AppData* app = AppData::instance();
        const int models = app->modelCount();
        const int slotCount = MeshList::instance()->size();
        const uint64_t plate = app->plateRevision();
        asked.clear();
        told.clear();
        QVERIFY(deliver(route, {path}, 1));
        QList<int> expected;
        if ((file.startsWith("brev") || file == "BVT") && models > 0)
            expected << (file == "BVT" ? 16 : 15); // "Close project and load ...?" first
        if (kind > 0)
            expected << kind;
        QCOMPARE(asked, expected);
        if (kind == 0) {
            QCOMPARE(app->modelCount(), 2);
        } else {
            QCOMPARE(told.value(asked.size() - 1), said);
            QCOMPARE(app->modelCount(), models);
            QCOMPARE(MeshList::instance()->size(), slotCount);
            QCOMPARE(app->plateRevision(), plate);
            for (MeshModel* m : app->getModels())
                QVERIFY(m->getMesh());
        }
        if (onPlate > 0)
            clearPlate();
    }

    void missingRecentFile()
    {
        asked.clear();
        window->openRecentFile("gone.BVT");
        QCOMPARE(asked, QList<int>{37});
    }

    // Whatever way a print-task file comes, it is the one drawn and the one the printer gets.
    void printTaskFileIsWhatIsPrinted_data()
    {
        QTest::addColumn<QString>("route");
        QTest::newRow("open button") << "open button";
        QTest::newRow("drop one") << "drop";
        QTest::newRow("drop with a model") << "drop with a model";
        QTest::newRow("command line, second instance") << "handed over";
        QTest::newRow("recent file") << "recent";
        QTest::newRow("refused file") << "refused";
    }
    void printTaskFileIsWhatIsPrinted()
    {
        QFETCH(QString, route);
        QVERIFY(haveModelAndSlice(false));
        const int chunks = renderer()->gcodeChunkCount();
        QVERIFY(chunks > 0);
        const QString other = (route == "recent" ? AppData::instance()->getAppDir() + "/gco" : dir.path()) + "/other.BVT";
        QFile::remove(other);
        if (route == "refused") {
            // Neither its name nor the earlier slice is left to print.
            QFile bad(other);
            QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(QByteArray(4096, 'x')) == 4096);
            bad.close();
            QVERIFY(deliver("handed over", {other}, 1));
            QVERIFY(ThreadPool::instance()->printFilePath().isEmpty());
            QVERIFY(window->view()->showMode() == 1 || window->view()->showMode() == 3);
            return;
        }
        QVERIFY(QFile::copy(slicedFile(), other));
        QStringList paths{other};
        if (route == "drop with a model") {
            paths.prepend(dir.path() + "/cube.stl");
            route = "drop";
        }
        asked.clear();
        QVERIFY(deliver(route, paths, paths.size()));
        QTRY_COMPARE(window->view()->showMode(), 2);
        QCOMPARE(ThreadPool::instance()->printFilePath(), other);
        QVERIFY(!asked.contains(28) && !asked.contains(29));
        // Only the new file's tool paths are drawn.
        window->view()->repaint();
        QCOMPARE(renderer()->gcodeChunkCount(), chunks);
    }

    // A model added while slice data exists asks first: Cancel changes nothing, Ok drops the
    // whole slice (preview data, tool paths on the card, print flag and file).
    void modelAfterSliceDropsIt_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<bool>("previewShown");
        QTest::addColumn<int>("files");
        QTest::newRow("drop, preview shown") << "drop" << true << 1;
        QTest::newRow("drop, preview off") << "drop" << false << 1;
        QTest::newRow("drop two, preview off") << "drop" << false << 2;
        QTest::newRow("second instance, preview shown") << "handed over" << true << 1;
        QTest::newRow("open button, preview off") << "open button" << false << 1;
    }
    void modelAfterSliceDropsIt()
    {
        QFETCH(QString, route);
        QFETCH(bool, previewShown);
        QFETCH(int, files);
        QVERIFY(haveModelAndSlice(previewShown));
        ThreadPool* p = ThreadPool::instance();
        const int models = AppData::instance()->modelCount();
        const int mode = window->view()->showMode();
        const QString printFile = p->printFilePath();
        const int ready = p->hasPrintFile();
        QVERIFY(!printFile.isEmpty());
        // A right-button drag does not move the model behind a shown preview either.
        AppData::instance()->selectModel(0, 1);
        QVERIFY(!previewShown || !rightDragMoves());
        const QStringList paths = QVector<QString>(files, dir.path() + "/cube.stl").toList();

        answers[19] = 0;
        asked.clear();
        QVERIFY(deliver(route, paths, 0));
        QCOMPARE(asked, QList<int>{19});
        QCOMPARE(AppData::instance()->modelCount(), models);
        QCOMPARE(window->view()->showMode(), mode);
        QCOMPARE(p->printFilePath(), printFile);
        QCOMPARE(p->hasPrintFile(), ready);

        answers[19] = 1;
        asked.clear();
        QVERIFY(deliver(route, paths, files));
        answers.remove(19);
        QCOMPARE(AppData::instance()->modelCount(), models + files);
        QCOMPARE(p->hasPrintFile(), 0);
        QVERIFY(p->printFilePath().isEmpty());
        QVERIFY(AppData::instance()->getGcodePreview()->layerHeightList().empty());
        window->view()->repaint();
        QVERIFY(window->view()->showMode() == 1 || window->view()->showMode() == 3);
        QCOMPARE(renderer()->gcodeChunkCount(), 0);
    }

    // Another printer model ends the preview and the scene: not without the closing question.
    void printerModelChangeKeepsUnsavedScene_data()
    {
        QTest::addColumn<bool>("reported"); // by the printer, or picked in the dialog
        QTest::addColumn<int>("answer");    // to "Saved as Brev file?"
        QTest::addColumn<QString>("saveAs");
        QTest::addColumn<bool>("sceneKept");
        QTest::newRow("picked, cancel") << false << 2 << "" << true;
        QTest::newRow("picked, save fails") << false << 1 << "" << true;
        QTest::newRow("picked, saved") << false << 1 << "before-change" << false;
        QTest::newRow("picked, not saved") << false << 0 << "" << false;
        QTest::newRow("reported, not saved") << true << 0 << "" << false;
        QTest::newRow("reported, cancel") << true << 2 << "" << true;
    }
    void printerModelChangeKeepsUnsavedScene()
    {
        QFETCH(bool, reported);
        QFETCH(int, answer);
        QFETCH(QString, saveAs);
        QFETCH(bool, sceneKept);
        QVERIFY(haveModelAndSlice(true));
        const int models = AppData::instance()->modelCount();
        answers[17] = answer;
        dialogAnswer = saveAs.isEmpty() ? QStringList{} : QStringList{dir.path() + "/" + saveAs};
        asked.clear();
        if (reported) {
            window->onMachineTypeReported(ChoicePX6A);
        } else {
            QTimer::singleShot(0, window, [this] {
                for (auto* d : window->findChildren<ChoiceTypeDialog*>()) {
                    if (!d->isVisible())
                        continue;
                    d->findChild<QPushButton*>("btn_px6_a")->click();
                    d->findChild<QPushButton*>("btn_ok")->click();
                    if (d->isVisible())
                        d->close();
                }
            });
            window->on_actionChoiceType();
        }
        answers.remove(17);
        QVERIFY(asked.contains(17));
        const bool changed = reported || !sceneKept;
        QCOMPARE(AppData::instance()->getChoiceType(), changed ? 2 : 1);
        QCOMPARE(AppData::instance()->modelCount(), sceneKept ? models : 0);
        if (!saveAs.isEmpty())
            QVERIFY(QFileInfo::exists(dir.path() + "/" + saveAs + ".brev"));
        // A slice made for the other model is never left armed.
        QCOMPARE(ThreadPool::instance()->hasPrintFile(), changed ? 0 : 1);
        QCOMPARE(ThreadPool::instance()->printFilePath().isEmpty(), changed);
        AppData::instance()->setChoiceType(1);
        window->updateMachineLabel();
    }

    // Every route that can change the plate, with a plate slice armed: it asks first and the
    // slice goes, or the plate stays as sliced. The slice's revision is the witness.
    void plateChangesAskFirst_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("acts"); // the slice goes after a question; else the plate stays
        QTest::addColumn<QList<int>>("kinds"); // the questions, in order, where a row says
        const QStringList edits{"gizmo arrow left", "gizmo ring left", "gizmo scale left", "gizmo arrow right",
                                "move key", "move wheel", "move text", "rotate key", "rotate wheel",
                                "rotate text", "scale key", "scale wheel", "scale text", "list copy",
                                "list hide", "list delete", "paste key", "delete key", "cut", "support delete all",
                                "support auto", "list copy space", "move set plate",
                                "move center", "move reset", "rotate preset", "scale undo", "move tab text",
                                "rotate drop", "rotate paste menu", "rotate cut menu", "rotate delete menu",
                                "rotate middle-click paste", "scale step up menu", "scale step down menu",
                                "rotate slider held",
                                "move arrow held"};
        const QStringList files{"drop", "open button", "recent", "second instance", "printer dialog ok",
                                "printer dialog double-click", "printer reports", "printer reports, dialog open",
                                "printer reports, declined"};
        // Return presses no button outside a dialog.
        const QStringList still{"list rename", "list up and down", "list copy return"};
        for (const QString situation : {"model view", "preview", "slicing"}) {
            for (const QString& r : edits + still + (situation == "slicing" ? QStringList() : files))
                QTest::newRow(qPrintable(r + ", " + situation))
                    << r << situation << (!still.contains(r) && (situation == "model view" || files.contains(r)))
                    << (r == "printer reports, declined" ? QList<int>{3} : QList<int>());
        }
        // The selected model stands on supports of its own: every way in asks about them after
        // the slice, and the change waits for the next try.
        for (const char* r : {"rotate drop", "rotate paste menu", "rotate cut menu", "rotate delete menu",
                              "rotate middle-click paste", "scale step up menu", "scale step down menu", "move set plate",
                              "paste key"})
            QTest::newRow(qPrintable(QString(r) + " with supports, model view")) << QString(r) + " with supports"
                                                                                 << "model view" << true << QList<int>{19, 20};
        QTest::newRow("paste key, support mode") << "paste key" << "support mode" << true << QList<int>{19, 18};
        QTest::newRow("second instance, question open") << "second instance" << "question open" << true << QList<int>();
        // A file handed over or dropped while the workers run is kept, and opened (with its
        // questions) once they are done; the gizmo waits.
        for (const char* situation : {"loading", "reading", "slicing"}) {
            for (const char* r : {"second instance", "drop"})
                QTest::newRow(qPrintable(QString(r) + ", " + situation)) << r << situation << true << QList<int>{19};
            QTest::newRow(qPrintable(QString("gizmo arrow left, ") + situation))
                << "gizmo arrow left" << situation << false << QList<int>();
        }
        // The slice runs from the print click on, while its worker still writes the engine's input.
        for (const char* r : {"delete key", "paste key", "list delete"})
            QTest::newRow(qPrintable(QString(r) + ", 0.1 s after the print click")) << r << "print clicked" << false
                                                                                     << QList<int>{29};
        // One question at a time: the close question goes with the slice it asks about.
        QTest::newRow("close, slicing") << "close" << "print clicked" << false << QList<int>{21, 29};
    }

    // The selected model made ready for the route: turned, off its saved place, scaled, raised,
    // on columns of its own, so the route has something to change. True when the plate changed.
    bool prepareModel(const QString& route)
    {
        AppData* app = AppData::instance();
        MeshModel* m = app->getSelectedModel();
        if (!m)
            return false;
        const uint64_t before = app->plateRevision();
        const auto c = m->getBottomCenter();
        if (route.startsWith("rotate ") && std::fabs(m->rotationAngles[0] - 30.0) > 0.01) {
            m->setAxisRotation(0, 30.0);
            const double onPlate[3] = {0.0, 0.0, -m->getBoundValue(2)};
            m->translate(onPlate);
        }
        if (route == "move reset" && std::fabs(c[0] - m->getSavedBottomCenter()[0]) < 0.01) {
            const double side[3] = {4.0, 0.0, 0.0};
            m->translate(side);
        }
        if (route == "scale undo" && std::fabs(m->factor[0] * m->scale[0] - 1.0) < 0.01)
            m->setScale(1.1 / m->factor[0]);
        if (route.startsWith("move set plate") && m->getBoundValue(2) < 1.0) {
            const double up[3] = {0.0, 0.0, 5.0};
            m->translate(up);
        }
        if (route.endsWith("with supports") && !m->hasSupport) {
            auto* column = new MeshModel();
            column->isSupport = true;
            column->ownerName = m->getName();
            const auto at = m->getBottomCenter();
            const double foot[3] = {double(at[0]), double(at[1]), 0.0};
            column->buildSupportBox(foot, std::max(1.0, double(at[2])), true);
            app->commitSupport(column);
        }
        if (!m->isInsideVolume()) {
            // Earlier routes moved it off the plate: the arming would undo what was made ready.
            const auto at = m->getBottomCenter();
            const double back[3] = {-double(at[0]), -double(at[1]), -m->getBoundValue(2)};
            m->translate(back);
        }
        window->updateStatus();
        return app->plateRevision() != before;
    }

    void plateChangesAskFirst()
    {
        QFETCH(QString, route);
        QFETCH(QString, situation);
        QFETCH(bool, acts);
        QFETCH(QList<int>, kinds);
        AppData* app = AppData::instance();
        if (route.startsWith("support") && !app->hasSupports()) {
            // A column of its own beside the model, for the support panel to take away.
            auto* column = new MeshModel();
            column->isSupport = true;
            const double foot[3] = {40.0, 40.0, 0.0};
            column->buildSupportBox(foot, 5.0, false);
            app->commitSupport(column);
            window->updateSupportButtons();
        }
        const bool print = situation == "print clicked";
        const QString armedAs = print || situation == "support mode" ? "model view" : situation;
        // Made ready before the slice where a model is there to make ready: one export, not two.
        const bool prepared = app->modelCount() > 0;
        if (prepared)
            prepareModel(route);
        QVERIFY(armPlateSlice(armedAs));
        if (!prepared && prepareModel(route))
            QVERIFY(armPlateSlice(armedAs));
        ThreadPool* p = ThreadPool::instance();
        const int models = app->modelCount();
        if (print) {
            // A slice for printing, whose worker is held back as by a large scene's input.
            window->on_btnMain_Slice_clear();
            answers[29] = 0;
            if (route == "close")
                answers[21] = -1; // shown, so that the slice can end under it
            sliceHold.tryAcquire(sliceHold.available());
            QMetaObject::invokeMethod(p->sliceWorker(), [this] { sliceHold.tryAcquire(1, 30000); }, Qt::QueuedConnection);
            window->on_btnMain_print_clicked();
            QTest::qWait(100);
        } else if (situation == "support mode") {
            // Adding supports, entered as the panel does it.
            auto* add = qobject_cast<QPushButton*>(control("btnSupport_add"));
            add->setChecked(true);
            app->setSupportEditing(true);
        }
        const uint64_t before = app->plateRevision();
        const Eigen::Matrix4d placed = app->getSelectedModel()->getModelMatrix();
        answers[17] = 0;
        asked.clear();
        stacked.clear();
        routeFault.clear();
        QSignalSpy loads(p->fileWorker(), &FileRWThread::signRequestDone);
        bool held = print;
        const auto letGo = [&] {
            if (std::exchange(held, false))
                sliceHold.release();
        };
        const auto release = qScopeGuard(letGo);
        QObject rowScope; // ends the timer with the row
        if (route == "close")
            QTimer::singleShot(300, &rowScope, letGo); // the slice ends under the question
        if (situation == "question open") {
            // The file arrives while a question is on screen, and waits until it is answered.
            QDialog question(window);
            bool waited = false;
            QTimer::singleShot(0, &question, [&] {
                QVERIFY(takeRoute(route));
                QTest::qWait(400);
                waited = loads.count() == 0 && asked.isEmpty() && app->plateRevision() == before;
                question.reject();
            });
            question.exec();
            QVERIFY(waited);
        } else {
            QVERIFY(takeRoute(QString(route).remove(" with supports")));
        }
        QTest::qWait(100);
        if (print) {
            // Taken while slicing: refused without a word, and the plate is still the one sliced.
            QVERIFY2(route == "close" || asked.isEmpty(),
                     qPrintable(QString("asked %1").arg(QString::number(asked.value(0)))));
            QCOMPARE(app->plateRevision(), before);
            letGo();
            QVERIFY(QTest::qWaitFor([this] { return asked.contains(29); }, 60000));
            waitIdle();
            answers.remove(29);
            answers.remove(21);
            answers.remove(17);
            QCOMPARE(asked, kinds);
            QVERIFY2(stacked.isEmpty(), qPrintable(QString("asked on top of another: %1").arg(stacked.value(0))));
            QVERIFY2(routeFault.isEmpty(), qPrintable(routeFault));
            QCOMPARE(app->modelCount(), models);
            QVERIFY(window->isVisible());
            QVERIFY(!p->sliceIsStale());
            return;
        }
        if (situation == "loading" || situation == "reading" || situation == "slicing") {
            QCOMPARE(loads.count(), 0);
            p->slotSliceChanged(-1);
        }
        // A file is read after its questions; any other route has acted once the slice is gone.
        const bool reads = QStringList{"drop", "open button", "recent", "second instance"}.contains(route);
        const auto armed = [&] {
            return p->taskKind() == ThreadPool::TaskExport && p->printFilePath() == dir.path() + "/plate.BVT";
        };
        (void)QTest::qWaitFor([&] { return !acts || loads.count() > 0 || app->plateRevision() != before
                                           || (!reads && !armed()); }, 10000);
        waitIdle();
        answers.remove(17);
        if (app->isSupportEditing())
            qobject_cast<QPushButton*>(control("btnSupport_add"))->click();
        const bool changed = app->plateRevision() != before;
        QVERIFY2(routeFault.isEmpty(), qPrintable(routeFault));
        QCOMPARE(armed(), !acts);
        if (!kinds.isEmpty())
            QCOMPARE(asked, kinds);
        QVERIFY(stacked.isEmpty());
        // Nothing changes the plate without a question first.
        if (changed || acts) {
            QVERIFY(asked.contains(19) || asked.contains(41) || asked.contains(3));
            // The printer's own report is a fact, told after it is taken; the user's edits wait.
            if (asked.first() != 3)
                QCOMPARE(plateAtFirstQuestion, before);
        }
        if (route.endsWith("with supports")) {
            // Only the supports went; the model is where it was, and the panels say so.
            QCOMPARE(app->getSelectedModel()->hasSupport, 0);
            QVERIFY(app->getSelectedModel()->getModelMatrix().isApprox(placed));
            QCOMPARE(app->modelCount(), models);
        }
        const QString shown = panelsDifferFromModel();
        QVERIFY2(shown.isEmpty(), qPrintable(shown));
        // A slice left armed is one of this plate: printing it can never send another plate.
        QVERIFY(!p->sliceIsStale());
    }

    // The net under the guards: a plate changed behind their back drops the slice at print
    // time, tells the user, and sends nothing.
    void staleSliceIsNeverSent_data()
    {
        QTest::addColumn<QString>("road");
        QTest::newRow("print button") << "print button";
        QTest::newRow("Ok to send after slicing") << "Ok to send";
        QTest::newRow("card print") << "card print";
        QTest::newRow("file opened from disk") << "file from disk";
    }
    void staleSliceIsNeverSent()
    {
        QFETCH(QString, road);
        QVERIFY(armPlateSlice("model view"));
        ThreadPool* p = ThreadPool::instance();
        const bool fromDisk = road == "file from disk";
        if (fromDisk) {
            QVERIFY(deliver("handed over", {slicedFile()}, 1));
            QTRY_COMPARE(window->view()->showMode(), 2);
        }
        QSignalSpy viaWindow(window, &MainWindow::signSendGcode);
        QSignalSpy viaPool(p, &ThreadPool::signBeginSendBVT);
        QSignalSpy printed(p, &ThreadPool::signBeginPrint);
        // Behind the guards' back.
        const double delta[3] = {5.0, 0.0, 0.0};
        AppData::instance()->getModel(0)->translate(delta);
        asked.clear();
        // Every offer to send or print is taken (the hook's answer is Ok).
        if (road == "print button" || fromDisk) {
            window->on_btnMain_print_clicked();
        } else if (road == "Ok to send") {
            // A slice for printing; the plate changes while "send?" is on screen.
            window->on_btnMain_Slice_clear();
            moveAtQuestion = 29;
            window->on_btnMain_print_clicked();
            QTRY_VERIFY_WITH_TIMEOUT(asked.contains(29), 60000);
            waitIdle();
            moveAtQuestion = -1;
        } else {
            window->on_btnSD_print_clicked();
        }
        if (!fromDisk) {
            // Told, not asked: the slice is gone whatever the answer.
            QVERIFY(asked.contains(19) && !offeredChoice.value(19, true));
            QVERIFY(p->printFilePath().isEmpty());
            QCOMPARE(p->hasPrintFile(), 0);
        }
        // Only a file opened from disk, which belongs to no plate, goes.
        QCOMPARE(viaWindow.count() + viaPool.count() + printed.count(), fromDisk ? 1 : 0);
    }

    // Closing with unsaved work keeps the window and the scene unless the project was saved.
    void closingAsksToSave_data()
    {
        QTest::addColumn<int>("answer");     // to "Saved as Brev file?"
        QTest::addColumn<QString>("saveAs"); // the save dialog's answer, in the test folder
        QTest::newRow("cancel") << 2 << "";
        QTest::newRow("save dialog cancelled") << 1 << "";
        // Failures that hold for root as well.
        QTest::newRow("folder is a file") << 1 << "plain/scene.brev";
        QTest::newRow("a folder where the file goes") << 1 << "taken.brev";
        // Said so, with the reason, and nothing of the file is left.
        QTest::newRow("full disk") << 1 << "full/scene.brev";
    }
    void closingAsksToSave()
    {
        QFETCH(int, answer);
        QFETCH(QString, saveAs);
        if (AppData::instance()->modelCount() == 0)
            QVERIFY(deliver("handed over", {writeCube(dir.path() + "/cube.stl", 20.0f, -10.0f)}, 1));
        const int models = AppData::instance()->modelCount();
        QFile plain(dir.path() + "/plain");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(QDir().mkpath(dir.path() + "/taken.brev"));
        // A send that an earlier test started ends first: closing during one asks another question.
        QTRY_COMPARE_WITH_TIMEOUT(ThreadPool::instance()->taskState(), 0, 30000);
        std::unique_ptr<FullDisk> disk;
        if (saveAs.startsWith("full/")) {
            disk = std::make_unique<FullDisk>(dir.path() + "/full", 0);
            QString why;
            QVERIFY2(disk->setUp(&why) && disk->fillUp(&why), qPrintable(why));
        }
        dialogAnswer = saveAs.isEmpty() ? QStringList{} : QStringList{dir.path() + "/" + saveAs};
        asked.clear();
        told.clear();
        answers[17] = answer;
        {
            std::unique_ptr<FullDisk::Limit> limit(disk ? new FullDisk::Limit(*disk) : nullptr);
            QVERIFY(!window->close());
        }
        answers.remove(17);
        QCOMPARE(asked.value(0), 17);
        QVERIFY(window->isVisible());
        QCOMPARE(AppData::instance()->modelCount(), models);
        QVERIFY(ThreadPool::instance());
        if (disk) {
            QCOMPARE(asked, (QList<int>{17, 1}));
            const QString said = told.value(1);
            QVERIFY2(said.startsWith("Fail to save the file!\nCannot write " + QDir::toNativeSeparators(dir.path() + "/" + saveAs))
                         && said.contains(QRegularExpression("No space left on device|File too large")),
                     qPrintable(said));
            QCOMPARE(disk->entries(), QStringList());
        }
    }

    // Slicing for export that cannot write a file says which and why.
    void exportFailureSaysWhy_data()
    {
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<QString>("said"); // a pattern of the box's text
        QTest::newRow("engine input") << "stl" << "^Fail to slice\nCannot write .*3DPRINT\\.stl: ";
        QTest::newRow("engine ini") << "ini" << "^Fail to slice\nCannot write .*Brev\\.ini: ";
        QTest::newRow("full disk") << "full" << "^Fail to slice\n.*(No space left on device|File too large)";
    }
    void exportFailureSaysWhy()
    {
        QFETCH(QString, blocked);
        QFETCH(QString, said);
        AppData* app = AppData::instance();
        if (app->modelCount() == 0)
            QVERIFY(deliver("handed over", {dir.path() + "/cube.stl"}, 1));
        for (MeshModel* m : app->getModels())
            m->visible = m == app->getModel(0);
        // A folder where the file goes fails for root as well.
        const QString block = blocked == "stl" ? app->getSettingsDir() + "/stl/3DPRINT.stl"
                            : blocked == "ini" ? app->getAppDir() + "/BrevEngine/Brev.ini" : QString();
        QTRY_COMPARE_WITH_TIMEOUT(ThreadPool::instance()->taskState(), 0, 30000);
        if (!block.isEmpty()) {
            QFile::remove(block);
            QVERIFY(QDir().mkpath(block + "/inside"));
        }
        std::unique_ptr<FullDisk> disk;
        QString target = dir.path() + "/failed-export";
        if (blocked == "full") {
            disk = std::make_unique<FullDisk>(dir.path() + "/fullexport", 0);
            QString why;
            QVERIFY2(disk->setUp(&why) && disk->fillUp(&why), qPrintable(why));
            target = disk->path() + "/job";
        }
        dialogAnswer = QStringList{target};
        asked.clear();
        told.clear();
        {
            std::unique_ptr<FullDisk::Limit> limit(disk ? new FullDisk::Limit(*disk) : nullptr);
            window->on_btnMain_export_clicked();
            QTRY_VERIFY_WITH_TIMEOUT(asked.contains(2), 60000);
            waitIdle();
        }
        if (!block.isEmpty())
            QVERIFY(QDir(block).removeRecursively());
        for (MeshModel* m : app->getModels())
            m->visible = true;
        asked.removeAll(19);
        QCOMPARE(asked, QList<int>{2});
        QVERIFY2(told.last().contains(QRegularExpression(said)), qPrintable(told.last()));
        QVERIFY(!QFileInfo::exists(target + ".BVT"));
        if (disk)
            QCOMPARE(disk->entries(), QStringList());
    }
};

QTEST_MAIN(TestFileActions)
#include "tst_fileactions.moc"
