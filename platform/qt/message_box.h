// Message boxes: modal to their owner window, or to the whole program when there is none.
#pragma once

#include "platform/mmsystem.h"

class CWnd;

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONSTOP = 0x00000010;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;

// Shows `text` with `caption` until the user dismisses the box; returns IDOK.
// With RX300_TEST_DISMISS_BOXES set in the environment, the box is not shown: its caption and
// text go to standard error as "caption: text" and the call returns at once. Tests that run
// the program as a separate process use that; nothing else sets it.
int MessageBoxA(CWnd* owner, const char* text, const char* caption, UINT type);

// Dismisses every box that `owner` has up, as if the user had pressed OK: a window that is
// being closed takes its boxes with it.
void DismissMessageBoxes(CWnd& owner);
