#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QUrl>

#include <functional>
#include <QWidget>

#include "Thread/SignalTypes.h"
#include "UI/MainWindowForm.h"
#include "UI/PanelHost.h"
#include "render/ViewHost.h"

class QMenu;
class QTimer;
class QTranslator;
class BVStateButton;
class BVViewPort;
class BVSettingWindow;
class BVWaitDialog;
class GLWidget;
class PictureSetting;
class PrintMessageForm;
class SectionPreview;
class PrintingForm;
class UpdateFirmware;

// The program's one top-level window: a frameless widget with the title strip, the 3D view,
// the layer column, the edit panel, the floating print buttons and the bottom status bar.
class MainWindow : public QWidget, public ViewHost, public PanelHost
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the window and continues the start; false when the 3D view cannot start.
    bool startUp();

    GLWidget* view() const;

    // Test seam: when set, file dialogs are answered by the hook instead of being shown.
    using FileDialogHook = std::function<QStringList(const QString& title, const QString& dir,
                                                     const QString& filter, bool save)>;
    static void setFileDialogHook(FileDialogHook hook);
    Ui_MainWindow& form() { return ui; }

    // ViewHost: what the view asks of the window.
    int taskState() const override;
    bool confirmEraseSliceData() override;
    bool confirmClearSlicePreview() override;
    bool confirmQuitSupportMode() override;
    bool confirmDeleteSupports() override;
    bool plateHeld() const override;
    void updateStatus() override;
    void updateSupportButtons() override;
    void previewCutSection(int positionUm, int axis) override;
    void startCut(double positionUm, int axis) override;
    void setJobState(int state) override;

    void updateGLView() override;
    void updateMachineLabel();
    void setLanguageButtonEnabled(bool on);
    void layoutOverlays(int width, int height);
    void resizeEditPanel();
    void retranslate();
    void centerOnScreen();
    int hitRegion(const QPoint& p) const;
    void startCutting();
    void onJobTimer();
    void setSupportSize(double size);
    void onMachineTypeReported(ChoiceType type);
    bool acceptableDrop(const QList<QUrl>& urls);
    void openRecentFile(const QString& name);
    void runAutoSupport(double size, double angle) override;
    void setCuttingValue(float value) override;
    float cuttingValue() const override;
    bool sendCuttingCommand(int command) override;
    void setCuttingMode(bool on) override;
    void exitCuttingMode();
    void setSupportCursor(bool deleting) override;

signals:
    void signPaste();
    void signWaitClose();
    void signSendGcode(QString path);
    void startSerialdetection();
    void signStopSendGcode();
    void CutSign(int size);

public slots:
    // Opens a file handed over by the command line, a drop or a second instance.
    void openFile(const QString& path);
    // A second start's file: raises the window and opens it once no question is open.
    void handOverFile(const QString& path);
    // Opens the next file handed over or dropped while a job ran, once the job has ended.
    void openKeptFiles();
    void slot_new_md_tip();
    void slot_update();
    void on_Fail_CutingFun();
    void slot_mouse_press(QMouseEvent* event);
    void slot_mouse_Release(QMouseEvent* event);
    void slot_mouse_Move(QMouseEvent* event);
    void on_btnMain_close_clicked();
    bool on_btnMain_max_clicked();
    void on_btnMain_min_clicked();
    void on_btnMain_Slice_clicked();
    void on_btnMain_Slice_clear();
    void on_btnMain_open_clicked();
    bool on_btnMain_save_clicked();
    void on_btnMain_export_clicked();
    void on_btnMain_print_clicked();
    void on_btnSD_print_clicked();
    void on_btnMain_setcura_clicked();
    void on_action2();
    void on_recentFile();
    void on_ExitBVT();
    void dropStaleSlice();
    void on_actionChoiceType();
    void on_actionAbout();
    void on_actionTarniMB();
    void on_actionTarni();
    void on_actionFirmware();
    void on_actionWizard();
    void on_actionHelp();
    void on_vsdMain_layer_valueChanged(int value);
    void on_cbbMain_language_clicked();
    void on_cbbMain_view_send(int index);
    void ChangeStyleSheet(bool style);
    void SliceViewChange();
    void on_initGcodeData(bool isover);

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void createOverlays();
    void placeOverlays();
    void updateButtons();
    void setRegionCursor(int region);
    void updateRegion(const QPoint& p);
    bool frameMouseEvent(QObject* watched, QEvent* e);
    void fitRecentMenu();
    void placeRecentMenu();
    void animateProgress(int to);
    void showSize(const QString& size);
    void showTask(const QString& task);
    void shutDown();
    QStringList askFiles(const QString& title, const QString& dir, const QString& filter, bool save, bool many);
    // A filter as the program words it ("Name(*.a;*.b)") in the form Qt's dialogs read:
    // patterns apart by spaces, each in lower and upper case.
    static QString dialogNameFilter(const QString& shown);
    void clearScene();
    bool askToDropSliceData(bool sliceDataAtStake);
    bool sceneMayBeDropped();
    bool prepareEngineIni();
    bool jobRunning() const;
    void openDropped(const QList<QUrl>& urls);

    Ui_MainWindow ui;
    QString currentFile;
    QRect normalGeometry;
    QPoint pressOffset;
    int region = 0;
    bool maximised = false;
    bool leftHeld = false;
    BVWaitDialog* waitDialog = nullptr;
    QTimer* cutTimer = nullptr;
    SectionPreview* sectionPreview = nullptr;
    BVStateButton* btnMain_print = nullptr;
    QPushButton* btnSD_print = nullptr;
    BVViewPort* cbbMain_view = nullptr;
    BVSettingWindow* settingWindow = nullptr;
    PictureSetting* pictureDialog = nullptr;
    PrintMessageForm* printMessage = nullptr;
    PrintingForm* printing = nullptr;
    QTranslator* translator = nullptr;
    QTranslator* qtTranslator = nullptr;
    UpdateFirmware* firmwareDialog = nullptr;
    QMenu* settingsMenu = nullptr;
    QMenu* recentMenu = nullptr;
    bool shutDownDone = false;
    bool printGlyphIsStop = false;
    // Files that came while a job ran: a path handed over, or a whole drop.
    struct KeptFile
    {
        QString path;
        QList<QUrl> drop;
    };
    QList<KeptFile> keptFiles;
};
