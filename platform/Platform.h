#pragma once

#include <QString>
#include <QStringList>

// Small stand-ins for what the program takes from Windows, with a POSIX branch.
namespace Platform {

// LOCALAPPDATA when set and not empty, else the user's generic data folder.
QString localAppDataBase();
// The data folder: the base above + "/Brevant", with "/" separators.
QString dataDirectory();
// The folder of the running executable.
QString executableDir();
// The system temporary folder, or empty when TMPDIR names no folder (files named after an
// empty folder would land at the file system's root).
QString tempDirectory();
// `name` in the system temporary folder; empty when there is none.
QString tempFilePath(const QString& name);
// A per-user id for names shared in the temporary folder: the session id on Windows,
// the user id elsewhere.
QString userSessionId();
// The debugger-output channel (stderr outside Windows).
void debugOutput(const QString& text);

// One scale factor for every time-out of the program; tests shrink it.
// Starts from the environment variable TARNI_TIMEOUT_SCALE when set, else 1.
double timeoutScale();
void setTimeoutScale(double scale);
// ms multiplied by the scale, never below 1.
int scaledMs(int ms);

// Extra serial-port paths named by TARNI_SERIAL_PORTS (":"-separated absolute paths),
// treated like the maker's USB ports while they exist.
QStringList extraSerialPorts();

} // namespace Platform
