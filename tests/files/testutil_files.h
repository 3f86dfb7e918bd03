#pragma once

#include <QString>
#include <QTemporaryDir>

#include <vector>

#include "scene/MeshData.h"

namespace testutil {
// Writes text to dir/name and returns the path.
QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);
// Area of all faces.
double surfaceArea(const MeshData& m);
// Signed volume (positive for a closed, outward mesh).
double signedVolume(const MeshData& m);
// Every directed edge appears once and its reverse once: closed and consistently wound.
bool isClosedAndConsistent(const MeshData& m);
}
