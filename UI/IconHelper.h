#pragma once

#include <QChar>
#include <QFont>
#include <QObject>

class QAbstractButton;

// Holds the icon font; buttons show single glyphs of it.
class IconHelper : public QObject
{
    Q_OBJECT
public:
    static IconHelper* instance();

    // Sets the shared font's point size and returns a copy.
    QFont iconFont(int size);
    void setIcon(QAbstractButton* button, QChar glyph, int size);
    bool isLoaded() const { return loaded; }

private:
    explicit IconHelper(QObject* parent);

    QFont font;
    bool loaded = false;
};
