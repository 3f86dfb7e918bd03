#pragma once

#include <QString>

// Names from files, the network or the user (a model's name, a download's name) become file and
// folder names. Such a name never leaves its folder: separators, control characters and
// characters no file system holds become '_'; a name that would still mean something else
// ("", ".", "..", a device such as "CON") gives the fallback. The name shown to the user stays
// as it is; only the path is made from this.
QString safeFileName(const QString& name, const QString& fallback);

// True when name can stand as it is, so that a name from elsewhere can be refused outright.
bool isSafeFileName(const QString& name);
