#include "UI/PictureSetting.h"

#include "ui_PictureSetting.h"

#include "app/QsLog.h"
#include "scene/AppData.h"

#include <QImageReader>
#include <QMouseEvent>
#include <QSignalBlocker>

namespace {
constexpr double kStartSide = 75.0; // the longer side, mm
constexpr double kMaxSide = 145.0;  // largest side the plate takes, mm
} // namespace

PictureSetting::PictureSetting(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::PictureSetting)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
}

PictureSetting::~PictureSetting()
{
    delete ui;
}

bool PictureSetting::hasAspect() const
{
    return pictureSize.width() > 0 && pictureSize.height() > 0;
}

void PictureSetting::setImage(const QString& path)
{
    // Only the header is read: the boxes need the size, and a huge picture must not be decoded here.
    pictureSize = QImageReader(path).size();
    // Both boxes are set together here; their slots would only echo the same values back.
    const QSignalBlocker blockLength(ui->doubleSpinBox_2);
    const QSignalBlocker blockWidth(ui->doubleSpinBox_4);
    if (!hasAspect()) {
        // Unreadable: plain square defaults; the reader reports the failure afterwards.
        QLOG_WARN() << "UI\\PictureSetting @" << __LINE__ << "cannot read picture" << path;
        ui->doubleSpinBox_2->setMaximum(kMaxSide);
        ui->doubleSpinBox_4->setMaximum(kMaxSide);
        ui->doubleSpinBox_2->setValue(kStartSide);
        ui->doubleSpinBox_4->setValue(kStartSide);
        return;
    }
    const double w = pictureSize.width();
    const double h = pictureSize.height();
    if (w <= h) {
        ui->doubleSpinBox_4->setMaximum(kMaxSide);
        ui->doubleSpinBox_2->setMaximum(w / (h / kMaxSide));
        ui->doubleSpinBox_4->setValue(kStartSide);
        ui->doubleSpinBox_2->setValue(w / (h / kStartSide));
    } else {
        ui->doubleSpinBox_2->setMaximum(kMaxSide);
        ui->doubleSpinBox_4->setMaximum(h / (w / kMaxSide));
        ui->doubleSpinBox_2->setValue(kStartSide);
        ui->doubleSpinBox_4->setValue(h / (w / kStartSide));
    }
}

void PictureSetting::on_btnCancel_clicked()
{
    reject();
}

void PictureSetting::on_btnOK_clicked()
{
    const double sign = ui->comboBox->currentIndex() == 1 ? -1.0 : 1.0;
    AppData::instance()->setReliefParameters(sign, ui->doubleSpinBox->value(), ui->doubleSpinBox_2->value(),
                                             ui->doubleSpinBox_3->value());
    accept();
}

// The other side follows the picture's aspect ratio. The echo back into the edited box is
// blocked, so the value the user typed stays as typed rather than drifting by a rounding step.
void PictureSetting::on_doubleSpinBox_4_valueChanged(double arg1)
{
    if (!hasAspect())
        return;
    const QSignalBlocker block(ui->doubleSpinBox_2);
    ui->doubleSpinBox_2->setValue(pictureSize.width() / (double(pictureSize.height()) / arg1));
}

void PictureSetting::on_doubleSpinBox_2_valueChanged(double arg1)
{
    if (!hasAspect())
        return;
    const QSignalBlocker block(ui->doubleSpinBox_4);
    ui->doubleSpinBox_4->setValue(pictureSize.height() / (double(pictureSize.width()) / arg1));
}

void PictureSetting::on_btn_win_close_clicked()
{
    reject();
}

void PictureSetting::mousePressEvent(QMouseEvent* event)
{
    const QRect strip = ui->widget_top->geometry();
    const QPoint p = event->pos();
    if (p.x() > strip.left() && p.x() < strip.right() && p.y() > strip.top() && p.y() < strip.bottom()) {
        dragging = true;
        dragOffset = p;
    }
    QDialog::mousePressEvent(event);
}

void PictureSetting::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging)
        move(event->globalPos() - dragOffset);
    QDialog::mouseMoveEvent(event);
}

void PictureSetting::mouseReleaseEvent(QMouseEvent* event)
{
    dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void PictureSetting::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
