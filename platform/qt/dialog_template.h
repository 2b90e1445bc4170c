// A dialog template as data: the window's size and caption and its controls in tab order, all
// measured in dialog units, which CDialog turns into pixels from the dialog font's metrics.
#pragma once

#include <span>

// The id of a control that nothing refers to.
constexpr int IDC_STATIC = -1;
// The commands of a dialog's OK and Cancel buttons, and the results that end it.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

enum class ControlKind {
    kPushButton,
    kStaticText,
    kStaticIcon,
    kStaticPicture,
    kComboBox,
    kProgressBar,
    kEdit,
};

// Control styles; a control without kTabStop is never reached with the Tab key.
enum ControlStyle : unsigned {
    kTabStop = 1u << 0,
    kGroup = 1u << 1,
    kDefaultButton = 1u << 2,
    kReadOnly = 1u << 3,
    kNoBorder = 1u << 4,
    kBorder = 1u << 5,
    kAutoHScroll = 1u << 6,
    kVScroll = 1u << 7,
    kDropDownList = 1u << 8,  // a list without an edit field
    kLeftAligned = 1u << 9,
};

// x, y, width and height in dialog units. A combo box's height is that of its opened list.
struct DialogRect {
    int x;
    int y;
    int cx;
    int cy;
};

struct DialogControl {
    int id;
    ControlKind kind;
    const char* text;
    DialogRect rect;
    unsigned style;
    int iconId = 0;  // kStaticIcon: the icon resource shown
};

struct DialogTemplate {
    int id;
    int cx;
    int cy;
    const char* caption;
    int pointSize;
    // The window's frame: false for a fixed-size dialog frame.
    bool resizable;
    std::span<const DialogControl> controls;
};
