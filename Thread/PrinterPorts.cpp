#include "Thread/PrinterPorts.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include "platform/Platform.h"

namespace PrinterPorts {

QString manufacturer()
{
    return QStringLiteral("Brevant");
}

QStringList makerPorts()
{
    QStringList out;
    const QString maker = manufacturer();
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        if (info.manufacturer() == maker)
            out << info.portName();
    return out;
}

QString firstExtraPort()
{
    for (const QString& path : Platform::extraSerialPorts())
        if (QFileInfo::exists(path))
            return path;
    return QString();
}

QStringList find()
{
    QStringList out = makerPorts();
    for (const QString& path : Platform::extraSerialPorts())
        if (QFileInfo::exists(path))
            out << path;
    return out;
}

} // namespace PrinterPorts
