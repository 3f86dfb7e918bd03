#pragma once

#include <QString>
#include <QStringList>

// The program's own text font, built into its resources. It stands in for the family names
// the forms ask for (Windows fonts no other machine has) and is the application font, so a
// window is laid out and drawn the same whatever fonts the machine has.
namespace TextFont {

// Registers the font and makes it the application font; once per process, later calls only
// return its family. Empty when the font could not be loaded (the machine's fonts then serve).
QString install();

// The family names the forms use for their texts.
QStringList formFamilies();

} // namespace TextFont
