#pragma once

#include <QObject>

// Runs the slicing engine on a thread of its own.
class FDMSliceProcess : public QObject
{
    Q_OBJECT
public:
    explicit FDMSliceProcess(QObject* parent = nullptr);

public slots:
    void Kill();
    void slice();

signals:
    void progressChanged(int progress);
    void FDMerror();
};
