#include "UI/BVStateButton.h"

BVStateButton::BVStateButton(QWidget* parent)
    : QPushButton(parent)
    , m_state(stopGlyph())
{
    setState(m_state);
}

void BVStateButton::setState(QString state)
{
    const bool stop = state == stopGlyph();
    const char* offsets;
    if (isEnabled())
        offsets = stop ? "0 52 0 104" : "0 156 0 0";
    else
        offsets = stop ? "0 0 0 156" : "0 104 0 52";
    setStyleSheet(QStringLiteral("border-image: url(:/add/Resources/new/add/play.png) %1;")
                      .arg(QLatin1String(offsets)));
    m_state = state;
}

void BVStateButton::setDisabled(bool disabled)
{
    QPushButton::setDisabled(disabled);
    setState(m_state);
}
