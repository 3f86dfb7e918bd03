#include "UI/BVLineEdit.h"

BVLineEdit::BVLineEdit(QWidget* parent)
    : QLineEdit(parent)
{
    setAlignment(Qt::AlignCenter);
    setStyleSheet(QStringLiteral("QLineEdit\n{\n border: 0px solid gray;\n   border-radius: 0px;\n"
                                 "selection-background-color: rgba(170, 255, 0, 0);\n}\n\n"
                                 "QLineEdit:disabled\n{ \n\tcolor: rgb(159, 159, 159);\n}\n"
                                 "QLineEdit:enabled\n{ \n\tcolor: rgb(255, 255, 255);\n}\n"));
}

void BVLineEdit::mousePressEvent(QMouseEvent* event)
{
    setReadOnly(true);
    emit clicked();
    QLineEdit::mousePressEvent(event);
}

void BVLineEdit::mouseDoubleClickEvent(QMouseEvent* event)
{
    setReadOnly(false);
    QLineEdit::mouseDoubleClickEvent(event);
}
