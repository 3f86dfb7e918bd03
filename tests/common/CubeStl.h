#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Writes a closed cube of the given side as binary STL, its corner at (at, at, 0).
inline QString writeCube(const QString& path, float side, float at)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    const int faces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                              {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    QByteArray data(80, '\0');
    const quint32 count = 12;
    data.append(reinterpret_cast<const char*>(&count), 4);
    for (auto& t : faces) {
        float rec[12] = {0, 0, 0};
        for (int c = 0; c < 3; ++c) {
            const int i = t[c];
            rec[3 + c * 3] = at + side * float(i & 1);
            rec[4 + c * 3] = at + side * float((i >> 1) & 1);
            rec[5 + c * 3] = side * float((i >> 2) & 1);
        }
        data.append(reinterpret_cast<const char*>(rec), 48);
        data.append(2, '\0');
    }
    f.write(data);
    return path;
}

// The same cube written into dir under name, with its corner at the origin.
inline QString writeCube(const QString& dir, const QString& name, float side)
{
    return writeCube(dir + "/" + name, side, 0.0f);
}
