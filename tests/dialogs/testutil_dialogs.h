#pragma once

#include <QImage>
#include <QString>

class QWidget;

// Points the data directory and the settings folder at a fresh temporary folder, so stored
// choices land in a setting.ini of the test's own. Returns false when the folder cannot be made.
bool useTemporaryDataDir();

// Presses the left button at pos (widget coordinates), moves by delta and releases;
// returns how far the window moved.
QPoint dragBy(QWidget* window, QPoint pos, QPoint delta);

// Installs or removes the program's Chinese translation and lets every widget retranslate.
bool setChinese(bool on);

// Renders w with its children into a transparent ARGB image, as a translucent window is composed.
QImage renderTransparent(QWidget* w);
