#pragma once

#include <QSpinBox>

class QKeyEvent;

// A spin box whose Enter does not reach the dialog and which refuses leading zeros.
class BVSpinBox : public QSpinBox
{
    Q_OBJECT
public:
    explicit BVSpinBox(QWidget* parent = nullptr);

    int digitLimit = 3;

    // The key rule both spin boxes share: true when the key was dealt with here.
    // A "0" is swallowed when text is long enough (at least limit characters, or more
    // than limit when strict) and reads as the integer 0.
    static bool applyKeyRule(QKeyEvent* event, const QString& text, int limit, bool strict);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
