#pragma once

#include <QPushButton>
#include <QString>

// A play/stop button drawn from a four-frame sprite; the frame follows the state text
// and the enabled flag.
class BVStateButton : public QPushButton
{
    Q_OBJECT
public:
    explicit BVStateButton(QWidget* parent = nullptr);

    static QString stopGlyph() { return QString(QChar(0xF04D)); }

    void setState(QString state);
    QString state() const { return m_state; }
    void setDisabled(bool disabled);

private:
    QString m_state;
};
