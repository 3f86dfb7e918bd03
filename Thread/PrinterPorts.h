#pragma once

#include <QString>
#include <QStringList>

// Where the printer's serial port is: the maker's USB ports first, then the extra paths the
// platform names, each only while it exists. The printer link and the firmware flasher look
// for the printer the same way.
namespace PrinterPorts {

// The USB manufacturer string of the maker's printers (compared case-sensitively).
QString manufacturer();

// The maker's USB ports present now (a full port scan).
QStringList makerPorts();
// The first extra path that exists now; empty when none does.
QString firstExtraPort();

// Port names to try, best first; empty when no printer port is present.
QStringList find();

} // namespace PrinterPorts
