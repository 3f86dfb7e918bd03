#pragma once

#include <QString>
#include <QVector>

#include <functional>

#include "Thread/SignalTypes.h"
#include "UI/BVMessageBox.h"

// A message box filled from the catalogue: by message kind (0 to 58) or by printer error
// code (1 to 29). Callers build it on the stack, run exec() and read the result.
class BrevMessageBox : public BVMessageBox
{
    Q_OBJECT
public:
    BrevMessageBox(int kind, QWidget* parent = nullptr, QString arg = QString());
    // The error code is typed so that it cannot be taken for a message kind.
    BrevMessageBox(Error errorCode, QWidget* parent);
    ~BrevMessageBox() override;

    void setErrorStyle();
    void setQuestionStyle();
    void setInformationStyle();
    void setWarningStyle();
    // Puts what went wrong, when the user can act on it, on a line below the text.
    void addReason(const QString& reason);

    // The message kind, or -1 for an error box.
    int kind() const { return messageKind; }
    // The printer error code, or -1 for a box of a message kind.
    int printerError() const { return errorCode == -1 ? -1 : errorCode - 1000; }

    // Runs the box modally, or hands it to the answer hook when one is set.
    int exec() override;

    // Test seam: when set, every box is given to the hook at exec() instead of being shown;
    // the hook returns the exec result the box would have given (a negative value shows
    // the box after all).
    using AnswerHook = std::function<int(BrevMessageBox&)>;
    static void setAnswerHook(AnswerHook hook);
    static bool hasAnswerHook();

    // Whether an error box for this printer error code exists right now.
    static bool isErrorBoxOpen(int code);

    // How many boxes have been run so far: a caller tells from it whether a question came
    // between two points.
    static int runCount();

    // The box hid itself because what it asked about is over (its job ended, the link went).
    bool withdrawn() const { return wasWithdrawn; }

private:
    void applyKind(int kind, const QString& arg);
    void connectSelfHiding(unsigned rules);
    void centreOn(QWidget* parent);
    void withdraw();

    int errorCode = -1;
    int messageKind = -1;
    bool wasWithdrawn = false;
};

// errorCode (code + 1000) of every error box that exists; GUI thread only.
extern QVector<int> openErrorBoxes;
