#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

#include <cstdint>

class MeshModel;

// Printer and link failures reported by the printer link. 12..29 are the printer's own
// status codes 1..18 plus 11.
enum Error : int {
    ErrNone = 0,
    ErrPrinterBusy = 1,
    ErrConnectionLost = 2,
    ErrFileOpen = 3,
    ErrNoSpace = 4,
    ErrTransfer = 5,
    ErrLeveling = 6,
    ErrTray = 7,
    ErrAnnounceRefused = 8,
    ErrPrinting = 9,
    ErrDoorOpen = 10,
    ErrNoMaterial = 11,
    ErrPrinterStatusFirst = 12,
    ErrPrinterStatusLast = 29,
};

// The printer model.
enum ChoiceType : int {
    ChoiceNone = 0,
    ChoicePX5 = 1,
    ChoicePX6A = 2,
    ChoicePX6B = 3,
};

// State of filament loading.
enum TrayStaus : int {
    TrayReset = 0,
    TrayFeeding = 1,
    TrayReturning = 2,
    TrayStopped = 3,
    TrayDone = 4,
    TrayStoppingFeed = 5,
    TrayStoppingReturn = 6,
};

// Levelling of the first printer model.
enum PX5_1LevelingStatus : int {
    PX5_1Idle = 0,
    PX5_1Started = 1,
    PX5_1Accepted = 2,
    PX5_1Ended = 3,
};

// Levelling of the second printer model.
enum PX6LevelingStatus : int {
    PX6Refused = 0,
    PX6Leveling = 1,
    PX6EndedFirst = 2,
    PX6EndedSecond = 3,
};

// One request to the file worker and, on the way back, its result.
struct FileRWStatus
{
    QString filePath;
    quint64 mesh = 0; // MeshData* for a save; not owned
    bool load = true;
    bool finished = false;
    bool success = false;
    int progress = 0;
    QVector<MeshModel*> models; // created by a load; not owned by the record
    QString reason;             // why a load failed, for the user; empty: the usual message will do
    bool modelLimit = false;    // the load would pass the plate's model limit (message kind 12)
};

// Progress of sending a print-task file to the printer.
struct SendBVTStatus
{
    int progress = 0;
    int sentChunks = 0;
    bool failed = false;
    bool finished = false;
    QString path;
};

// The printer's periodic print status.
struct SendPrintStatus
{
    int progress = 0;   // hundredths of a percent
    int nozzleTemp = 0; // -1 when the printer reports more than 500
    int bedTemp = 0;    // -1 when the printer reports more than 100
    bool paused = false;
    bool ended = false;
};

Q_DECLARE_METATYPE(Error)
Q_DECLARE_METATYPE(ChoiceType)
Q_DECLARE_METATYPE(TrayStaus)
Q_DECLARE_METATYPE(FileRWStatus)
Q_DECLARE_METATYPE(SendBVTStatus)
Q_DECLARE_METATYPE(PX6LevelingStatus)
Q_DECLARE_METATYPE(PX5_1LevelingStatus)
Q_DECLARE_METATYPE(SendPrintStatus)

// Registers the value types by name, in the order the pool relies on.
inline void registerSignalTypes()
{
    qRegisterMetaType<Error>("Error");
    qRegisterMetaType<ChoiceType>("ChoiceType");
    qRegisterMetaType<TrayStaus>("TrayStaus");
    qRegisterMetaType<FileRWStatus>("FileRWStatus");
    qRegisterMetaType<SendBVTStatus>("SendBVTStatus");
    qRegisterMetaType<PX6LevelingStatus>("PX6LevelingStatus");
    qRegisterMetaType<PX5_1LevelingStatus>("PX5_1LevelingStatus");
    qRegisterMetaType<SendPrintStatus>("SendPrintStatus");
}
