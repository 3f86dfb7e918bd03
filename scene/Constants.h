#pragma once

#include <array>
#include <cmath>

const double PI = std::acos(-1.0);

// The program's palette, as fractions of 255.
namespace Palette {
constexpr std::array<double, 3> rgb(int r, int g, int b) { return {r / 255.0, g / 255.0, b / 255.0}; }
constexpr std::array<double, 3> SelectedOutside = rgb(203, 34, 32);
constexpr std::array<double, 3> UnselectedOutside = rgb(158, 73, 151);
constexpr std::array<double, 3> SelectedInside = rgb(72, 133, 174);
constexpr std::array<double, 3> UnselectedInside = rgb(160, 159, 159);
constexpr std::array<double, 3> Green = rgb(0, 255, 0);
constexpr std::array<double, 3> OutlinePlain = rgb(207, 207, 207);
constexpr std::array<double, 3> OutlineHighlight = rgb(85, 199, 235);
constexpr std::array<double, 3> Violet = rgb(60, 12, 176);
} // namespace Palette
