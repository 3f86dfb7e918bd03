#include "UI/ModelListWidget.h"

#include <QEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdlib>

#include "UI/BVLineEdit.h"
#include "UI/BrevMessageBox.h"
#include "UI/EditGuard.h"
#include "UI/IconHelper.h"
#include "UI/PanelHost.h"
#include "app/QsLog.h"
#include "cutting/CutEngine.h"
#include "scene/AppData.h"
#include "scene/MeshModel.h"

namespace {

const int kColumnWidths[5] = {25, 25, 118, 25, 25};
const QChar kGlyphShown(0xF06E);
const QChar kGlyphHidden(0xF070);
const QChar kGlyphCopy(0xF0C5);
const QChar kGlyphDelete(0xF014);

const char* const kEyeStyle =
    "QPushButton:enabled{background:#415051;color:white}QPushButton:disabled{background:#415051;color:white}";
const char* const kCopyStyle = "QPushButton{background:transparent;color:white;border:none}"
                               "QPushButton:hover{background:#b9b9b9}QPushButton:pressed{background:#415051}";
const char* const kDeleteStyle = "QPushButton{background:transparent;color:white;border:none}"
                                 "QPushButton:hover{background:#ff6262}QPushButton:pressed{background:#415051}";

QString modelName(const MeshModel* m)
{
    return QString::fromLocal8Bit(m->getName().c_str());
}

} // namespace

void ModelListForm::setupUi(QWidget* w)
{
    w->setObjectName(QStringLiteral("ModelListWidget"));
    w->setMaximumWidth(214);
    auto* column = new QVBoxLayout(w);
    column->setContentsMargins(0, 0, 0, 0);
    tbwModel_list = new QTableWidget(w);
    tbwModel_list->setObjectName(QStringLiteral("tbwModel_list"));
    // The table's own size hint is 192 high: the list's row would push the lower headers out.
    tbwModel_list->setFixedHeight(122);
    tbwModel_list->setStyleSheet(QStringLiteral("QTableWidget{background:transparent;}"
                                                "QTableWidget::item:selected{background:rgb(72,133,174);}"));
    column->addWidget(tbwModel_list);
    retranslateUi(w);
}

void ModelListForm::retranslateUi(QWidget*)
{
}

ModelListWidget::ModelListWidget(QWidget* parent)
    : QWidget(parent)
{
    ui.setupUi(this);
    setEnabled(false);
    QTableWidget* t = ui.tbwModel_list;
    t->setColumnCount(columnCount);
    // The header's own minimum width follows the font and would widen the 25 px cells past
    // the list's edge.
    QHeaderView* header = t->horizontalHeader();
    header->setMinimumSectionSize(1);
    header->setSectionResizeMode(QHeaderView::Fixed);
    for (int c = 0; c < columnCount; ++c)
        t->setColumnWidth(c, kColumnWidths[c]);
    t->horizontalHeader()->hide();
    t->verticalHeader()->hide();
    t->verticalHeader()->setDefaultSectionSize(30);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Without a scroll bar a sideways scroll could never be undone, and the eye column with it.
    QScrollBar* sideways = t->horizontalScrollBar();
    connect(sideways, &QScrollBar::valueChanged, sideways, [sideways](int v) {
        if (v != 0)
            sideways->setValue(0);
    });
    t->setEditTriggers(QAbstractItemView::DoubleClicked);
    t->setShowGrid(true);
    t->setAcceptDrops(true);
    t->setColumnHidden(1, true);
    connect(t, &QTableWidget::itemSelectionChanged, this, &ModelListWidget::OnItemSelectionChanged);
    // The main window's paste key hands a copy of the selected model to the list.
    if (QWidget* top = window()) {
        if (top != this && top->metaObject()->indexOfSignal("signPaste()") >= 0)
            connect(top, SIGNAL(signPaste()), this, SLOT(pasteModel()));
    }
}

void ModelListWidget::updateStatus()
{
    if (PanelHost* host = PanelHost::of(this))
        host->updateStatus();
}

QString ModelListWidget::elidedName(const QString& name) const
{
    const int width = ui.tbwModel_list->columnWidth(2) - 4;
    return ui.tbwModel_list->fontMetrics().elidedText(name, Qt::ElideMiddle, width);
}

void ModelListWidget::addRow(int row)
{
    QTableWidget* t = ui.tbwModel_list;
    t->insertRow(row);
    t->setRowHeight(row, 30);
    IconHelper* icons = IconHelper::instance();
    for (int c = 0; c < columnCount; ++c) {
        QWidget* cell = nullptr;
        if (c == 2) {
            auto* e = new BVLineEdit();
            e->setMaxLength(51);
            e->setContextMenuPolicy(Qt::NoContextMenu);
            e->setStyleSheet(e->styleSheet() + QStringLiteral("QLineEdit{background:transparent;}"));
            connect(e, &BVLineEdit::clicked, this, &ModelListWidget::OnButtonClicked);
            connect(e, &QLineEdit::editingFinished, this, &ModelListWidget::OnItemChanged);
            cell = e;
        } else {
            auto* b = new QPushButton();
            const QChar glyph = c == 3 ? kGlyphCopy : c == 4 ? kGlyphDelete : kGlyphShown;
            icons->setIcon(b, glyph, 10);
            if (c <= 1) {
                b->setFlat(true);
                b->setStyleSheet(QString::fromLatin1(kEyeStyle));
            } else {
                b->setStyleSheet(QString::fromLatin1(c == 3 ? kCopyStyle : kDeleteStyle));
            }
            connect(b, &QPushButton::clicked, this, &ModelListWidget::OnButtonClicked);
            cell = b;
        }
        cell->setObjectName(QString::number(row * columnCount + c));
        t->setCellWidget(row, c, cell);
    }
}

void ModelListWidget::refreshRow(int row)
{
    QTableWidget* t = ui.tbwModel_list;
    const MeshModel* m = AppData::instance()->getModel(row);
    for (int c = 0; c < columnCount; ++c) {
        if (QWidget* cell = t->cellWidget(row, c))
            cell->setObjectName(QString::number(row * columnCount + c));
    }
    if (!m)
        return;
    if (auto* eye = qobject_cast<QPushButton*>(t->cellWidget(row, 0))) {
        eye->setText(m->visible ? kGlyphShown : kGlyphHidden);
        eye->setToolTip(m->visible ? tr("Hide Model") : tr("Show Model"));
    }
    if (auto* field = qobject_cast<QLineEdit*>(t->cellWidget(row, 2))) {
        const QString name = modelName(m);
        field->setText(elidedName(name));
        field->setToolTip(name);
        field->setCursorPosition(0);
    }
}

void ModelListWidget::updateValues()
{
    QTableWidget* t = ui.tbwModel_list;
    const bool blocked = t->blockSignals(true);
    AppData* data = AppData::instance();
    const int n = data->modelCount();
    if (n != lastModelCount) {
        // A section computed for another scene must not be reused by the next cut.
        resetCutSection();
        lastModelCount = n;
    }
    t->setColumnWidth(2, n >= 7 ? 110 : 125);
    for (int r = t->rowCount(); r < n; ++r)
        addRow(r);
    for (int r = t->rowCount() - 1; r >= n; --r) {
        QLOG_DEBUG() << "UI\\ModelListWidget@" << __LINE__ << "START" << r;
        t->removeRow(r);
        QLOG_DEBUG() << "UI\\ModelListWidget@" << __LINE__ << "END" << r;
    }
    for (int r = 0; r < n; ++r)
        refreshRow(r);
    const int selected = data->getSelectedIndex();
    if (selected >= 0 && selected < n)
        t->selectRow(selected);
    else
        t->clearSelection();
    t->blockSignals(blocked);
}

void ModelListWidget::appendCopy(const MeshModel* m, bool keepSupportFlag)
{
    MeshModel* c = m->copy();
    c->hasSupport = keepSupportFlag ? m->hasSupport : 0;
    const double dx = (std::rand() % 1000) / 100.0;
    const double dy = (std::rand() % 1000) / 100.0;
    c->setPosition(0, c->position[0] + dx);
    c->setPosition(1, c->position[1] + dy);
    AppData::instance()->addModel(c);
}

void ModelListWidget::OnButtonClicked()
{
    const QObject* s = sender();
    if (!s)
        return;
    bool ok = false;
    const int n = s->objectName().toInt(&ok);
    if (!ok || n < 0)
        return;
    const int row = n / columnCount;
    const int column = n % columnCount;
    AppData* data = AppData::instance();
    MeshModel* m = data->getModel(row);
    if (!m)
        return;
    switch (column) {
    case 0:
        // A hidden model is left out of the slice: a slice made with it goes first.
        if (!EditGuard::allowsErase(this))
            return;
        m->visible = !m->visible;
        break;
    case 2:
        data->selectModel(row, 0);
        break;
    case 3:
        copyModel(m, false);
        return;
    case 4:
        // Refused without a question first: the slice is not dropped for nothing.
        if (data->isSupportEditing() || data->isSupportDeleting()) {
            BrevMessageBox box(58, window());
            box.exec();
            return;
        }
        if (!EditGuard::allowsErase(this))
            return;
        data->removeModel(row);
        break;
    default:
        break;
    }
    updateStatus();
}

void ModelListWidget::OnItemSelectionChanged()
{
}

void ModelListWidget::OnItemChanged()
{
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field)
        return;
    bool ok = false;
    const int n = field->objectName().toInt(&ok);
    if (!ok || n % columnCount != 2)
        return;
    MeshModel* m = AppData::instance()->getModel(n / columnCount);
    if (!m)
        return;
    const QString text = field->text();
    // The field shows the name elided; leaving it unchanged (or empty) keeps the full name.
    if (text.isEmpty() || text == elidedName(modelName(m))) {
        refreshRow(n / columnCount);
        return;
    }
    AppData::instance()->renameModel(m, text.toLocal8Bit().toStdString());
    updateStatus();
}

void ModelListWidget::pasteModel()
{
    if (const MeshModel* m = AppData::instance()->getSelectedModel())
        copyModel(m, true);
    else
        updateStatus();
}

// The copy button and the paste key: the limit first (nothing to ask about past it), then the
// questions; the copy is made by the next try once the supports are settled.
void ModelListWidget::copyModel(const MeshModel* m, bool keepSupportFlag)
{
    if (AppData::instance()->modelCount() >= modelLimit) {
        BrevMessageBox box(12, window());
        box.exec();
        return;
    }
    if (!EditGuard::allows(this, EditGuard::AnySupports))
        return;
    appendCopy(m, keepSupportFlag);
    updateStatus();
}
