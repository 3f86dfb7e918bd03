#include "Thread/FDMSliceProcess.h"

FDMSliceProcess::FDMSliceProcess(QObject* parent)
    : QObject(parent)
{
}

void FDMSliceProcess::Kill()
{
}

void FDMSliceProcess::slice()
{
}
