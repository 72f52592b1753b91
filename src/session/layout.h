#pragma once

// Where the window's controls sit, for every window front end: each control's name, the control
// it sits in, its rectangle and its place in the tab order. Measures are in twips (1440 to the
// inch), as the layout was drawn; a front end turns them into pixels for its screen.

#include <span>
#include <string_view>

namespace korvalo::layout {

// The form itself: the parent of the frames.
inline constexpr std::string_view kForm = "Form1";

struct TwipsRect
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct ControlPlace
{
    std::string_view name;   // "Frame1", "Command1", …: the window's object names
    std::string_view parent; // kForm or a frame's name
    TwipsRect rect;          // relative to the parent's client area
    int tabIndex = 0;        // unique; the order Tab walks the controls that take focus
};

// The form's client area.
struct TwipsSize
{
    int width = 0;
    int height = 0;
};
TwipsSize formClientSize();

// Every control, in tab index order.
std::span<const ControlPlace> controls();
// The control of that name, or nullptr.
const ControlPlace *controlPlace(std::string_view name);

// 1440 twips make an inch: 15 twips to the pixel at 96 dots per inch. Rounded to the nearest
// pixel, halves away from zero.
int twipsToPixels(int twips, int dpi = 96);

} // namespace korvalo::layout
