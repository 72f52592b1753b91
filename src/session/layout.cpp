#include "session/layout.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace korvalo::layout {

namespace {

// Listed in tab index order: a window that creates its controls in this order gets a focus chain
// that already follows it.
constexpr std::array kControls{
    ControlPlace{"Frame1", kForm, {120, 120, 6855, 1335}, 0},
    ControlPlace{"Frame2", kForm, {120, 1680, 6855, 5055}, 1},
    ControlPlace{"Dir1", "Frame2", {240, 1080, 2655, 3870}, 2},
    ControlPlace{"Label1", "Frame2", {480, 360, 1215, 255}, 3},
    // The song count label has a second line for what a pass did, so the file list below it
    // starts a line lower; its bottom edge stays.
    ControlPlace{"File1", "Frame2", {3120, 900, 3495, 3870}, 4},
    ControlPlace{"Label2", "Frame2", {3240, 360, 1455, 255}, 5},
    ControlPlace{"Command1", "Frame1", {3000, 240, 1215, 855}, 6},
    ControlPlace{"Drive1", "Frame2", {240, 720, 2655, 300}, 7},
    ControlPlace{"Label3", "Frame2", {4200, 360, 2415, 510}, 8},
    ControlPlace{"Command2", "Frame1", {4920, 240, 1095, 855}, 9},
    ControlPlace{"Frame3", kForm, {120, 6840, 6855, 735}, 10},
    ControlPlace{"ProgressBar1", "Frame3", {1200, 240, 4935, 375}, 11},
    ControlPlace{"Label4", "Frame3", {120, 360, 1215, 255}, 12},
    ControlPlace{"Label5", "Frame3", {6360, 360, 375, 255}, 13},
    ControlPlace{"Option1", "Frame1", {360, 360, 1935, 180}, 14},
    ControlPlace{"Option2", "Frame1", {360, 840, 1815, 255}, 15},
};

} // namespace

TwipsSize formClientSize()
{
    return {7050, 7635};
}

std::span<const ControlPlace> controls()
{
    return kControls;
}

const ControlPlace *controlPlace(std::string_view name)
{
    const auto it = std::ranges::find(kControls, name, &ControlPlace::name);
    return it == kControls.end() ? nullptr : &*it;
}

int twipsToPixels(int twips, int dpi)
{
    // At 96 dpi twips * 96 / 1440.0 is the very double twips / 15.0 is: both are the nearest
    // double to the same fraction.
    return static_cast<int>(std::lround(twips * static_cast<double>(dpi) / 1440.0));
}

} // namespace korvalo::layout
