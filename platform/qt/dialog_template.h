// A dialog template as data: the window's size and caption and its controls in tab order, all
// measured in dialog units, which CDialog turns into pixels from the dialog font's metrics.
// Dialogs have a fixed-size frame.
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

// Control styles; a control without kTabStop is never reached with the Tab key. What the Qt
// widgets do by themselves (scrolling a long text, a scroll bar on a long list, left-aligned
// static text) has no flag.
enum ControlStyle : unsigned {
    kTabStop = 1u << 0,
    kDefaultButton = 1u << 1,
    kReadOnly = 1u << 2,
    kNoBorder = 1u << 3,
    kDropDownList = 1u << 4,  // a list without an edit field, not sorted
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
    std::span<const DialogControl> controls;
};
