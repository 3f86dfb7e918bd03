#include "support/Pillar.h"

#include "scene/Constants.h"
#include "support/Ellipsolid.h"
#include "support/TruCone.h"

Pillar::Pillar()
{
    sections = 16;
}

Pillar::Pillar(const Eigen::Vector3d& c, double r, double l)
    : topRadius(r)
    , bottomRadius(r)
    , topPoint(c + (l / 2) * axis)
    , bottomPoint(c - (l / 2) * axis)
    , topDirection(axis)
    , bottomDirection(-axis)
{
    sections = 16;
    centre = c;
    radius = r;
    length = l;
}

void Pillar::generateSections(CircleSections& out) const
{
    out.clear();
    // The caps' tips sit on the end points; their equators start and end the body.
    const Eigen::Vector3d inBottom = -bottomDirection;
    const Eigen::Vector3d bottomEquator = bottomPoint + bottomRadius * inBottom;
    const Eigen::Vector3d topEquator = topPoint - topRadius * topDirection;
    const Eigen::Vector3d body = topEquator - bottomEquator;
    const double bodyLength = body.norm();
    if (bodyLength < 1e-6)
        return;
    const Eigen::Vector3d along = body / bodyLength;

    CircleSections piece;
    auto append = [&](const CircleVolume& v) {
        v.generateSections(piece);
        out.insert(out.end(), piece.begin(), piece.end());
    };

    Ellipsolid bottomCap(bottomEquator, bottomRadius);
    bottomCap.setAxis(inBottom);
    bottomCap.sections = sections;
    bottomCap.startAngle = 0.0;
    bottomCap.endAngle = PI / 2;
    append(bottomCap);

    const Eigen::Vector3d m1 = bottomEquator + body / 3, m2 = bottomEquator + 2 * body / 3;
    TruCone lower((bottomEquator + m1) / 2, bottomRadius, radius, bodyLength / 3);
    lower.setAxis(along);
    lower.setTangents(inBottom, along);
    TruCone middle((m1 + m2) / 2, radius, radius, bodyLength / 3);
    middle.setAxis(along);
    middle.setTangents(along, along);
    TruCone upper((m2 + topEquator) / 2, radius, topRadius, bodyLength / 3);
    upper.setAxis(along);
    upper.setTangents(along, topDirection);
    for (TruCone* t : {&lower, &middle, &upper}) {
        t->sections = sections;
        append(*t);
    }

    Ellipsolid topCap(topEquator, topRadius);
    topCap.setAxis(topDirection);
    topCap.sections = sections;
    topCap.startAngle = PI / 2;
    topCap.endAngle = PI;
    append(topCap);
}
