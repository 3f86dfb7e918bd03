#pragma once

#include <QByteArray>
#include <QString>

#include <quazip.h>
#include <quazipfile.h>

// A 3MF archive holding the model part as it is (stored, so that writing it is quick).
inline QString write3mf(const QString& path, const QByteArray& xml)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        return QString();
    QuaZipFile f(&zip);
    if (!f.open(QIODevice::WriteOnly, QuaZipNewInfo(QStringLiteral("3D/3dmodel.model")), nullptr, 0, 0))
        return QString();
    f.write(xml);
    f.close();
    zip.close();
    return path;
}
