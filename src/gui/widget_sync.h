#pragma once

#include "app/window_state.h"

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace tavrel::gui {

// Drawing the core's control states into Qt widgets. Each call changes only what differs, so
// a window may redraw everything after every change at little cost, and a user's typing or
// open drop-down is not disturbed by a redraw of the same state.
void Draw(QLabel& label, const Control& control);
void Draw(QAbstractButton& button, const Control& control);  // text, checked, enabled, visible
void Draw(QLineEdit& edit, const Control& control);          // text, enabled, visible
void Draw(QComboBox& combo, const ComboBox& state);          // entries, selection, enabled
void DrawEnabledVisible(QWidget& widget, bool enabled, bool visible);
// A number edit: the user can type digits only (the core still checks the value).
void DigitsOnly(QLineEdit& edit);

// A top-level window's place at its creation: moved there when the core says it was placed,
// sized when the core has a size (width and height above 0), shown or hidden. Later redraws
// use DrawVisible only, so that a window the user moved stays where it is.
void ApplyPlace(QWidget& window, const WindowPlace& place);
void DrawVisible(QWidget& window, bool visible);
// Where the window stands now (frame position, inner size, visibility): what the core stores.
WindowPlace CurrentPlace(const QWidget& window);

}  // namespace tavrel::gui
