#pragma once

#include <QList>
#include <QMap>
#include <QTemporaryDir>

#include <functional>

// Settings in a fresh folder and every message box answered without showing it: the kinds
// asked are recorded, each answered from the table (1, Ok, when not listed).
class PrintUiFixture
{
public:
    PrintUiFixture();
    ~PrintUiFixture();

    // Gives a fresh, empty setting.ini.
    void resetSettings();
    QString settingsFile() const;

    QTemporaryDir dir;
    QList<int> asked;
    QMap<int, int> answers;

private:
    int generation = 0;
};

// Runs f on the printer link's thread, as the link itself emits, and waits for it.
void onLinkThread(const std::function<void()>& f);
