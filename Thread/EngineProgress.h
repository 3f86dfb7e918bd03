#pragma once

#include <QByteArray>

// Turns the engine's progress lines "P:<stage>:<value>:<count>" into a figure of 500..9900.
// The first line announces the count; each of the seven stages is one seventh of the work.
class EngineProgress
{
public:
    void reset();
    // Feeds raw engine output; a line cut between two reads waits for its end. Returns
    // true when the figure changed.
    bool feed(const QByteArray& output);
    int value() const { return progress; }
    int stepTotal() const { return total; }

    // Applies one complete line; true when the figure changed.
    bool applyLine(const QByteArray& line);

private:
    QByteArray pending;
    int total = 0;
    int progress = 0;
};
