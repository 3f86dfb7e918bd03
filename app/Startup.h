#pragma once

#include <QString>
#include <QStringList>

class AppData;

// Start-up set-up: working folder, data folder, settings and recent files.
// The program folder is always the executable's own folder; the working directory moves
// there only when a file argument is given (the caller makes that argument absolute first).
void initEnvironment(int argc, char** argv);
void loadRecentFiles(AppData& data);
void removeStalePrintFiles(AppData& data, const QStringList& recent);
// The command line's file argument as an absolute path (empty when there is none).
QString absoluteFileArgument(int argc, char** argv);
