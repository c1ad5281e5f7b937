#include "gui/widget_sync.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

#include "gui/qt_text.h"

namespace tavrel::gui {

void DrawEnabledVisible(QWidget& widget, bool enabled, bool visible) {
    if (widget.isEnabled() != enabled) {
        widget.setEnabled(enabled);
    }
    // isHidden, not isVisible: a control of a hidden window is not visible, but not hidden.
    if (widget.isHidden() == visible) {
        widget.setVisible(visible);
    }
}

void DigitsOnly(QLineEdit& edit) {
    edit.setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,10}"), &edit));
}

void Draw(QLabel& label, const Control& control) {
    const QString text = ToQt(control.text);
    if (label.text() != text) {
        label.setText(text);
    }
    DrawEnabledVisible(label, control.enabled, control.visible);
}

void Draw(QAbstractButton& button, const Control& control) {
    const QString text = ToQt(control.text);
    if (button.text() != text) {
        button.setText(text);
    }
    if (button.isCheckable() && button.isChecked() != control.checked) {
        const QSignalBlocker quiet(button);
        button.setChecked(control.checked);
    }
    DrawEnabledVisible(button, control.enabled, control.visible);
}

void Draw(QLineEdit& edit, const Control& control) {
    const QString text = ToQt(control.text);
    if (edit.text() != text) {
        const QSignalBlocker quiet(edit);
        edit.setText(text);
    }
    DrawEnabledVisible(edit, control.enabled, control.visible);
}

void Draw(QComboBox& combo, const ComboBox& state) {
    const QSignalBlocker quiet(combo);
    bool same = combo.count() == static_cast<int>(state.entries.size());
    for (int i = 0; same && i < combo.count(); ++i) {
        const ComboEntry& e = state.entries[static_cast<size_t>(i)];
        same = combo.itemText(i) == ToQt(e.text) && combo.itemData(i).toUInt() == e.data;
    }
    if (!same) {
        combo.clear();
        for (const ComboEntry& e : state.entries) {
            combo.addItem(ToQt(e.text), QVariant::fromValue(e.data));
        }
    }
    if (combo.currentIndex() != state.selected) {
        combo.setCurrentIndex(state.selected);
    }
    DrawEnabledVisible(combo, state.enabled, state.visible);
}

void ApplyPlace(QWidget& window, const WindowPlace& place) {
    if (place.width > 0 && place.height > 0 && window.size() != QSize(place.width, place.height)) {
        window.resize(place.width, place.height);
    }
    if (place.placed && window.pos() != QPoint(place.x, place.y)) {
        window.move(place.x, place.y);
    }
    DrawVisible(window, place.visible);
}

void DrawVisible(QWidget& window, bool visible) {
    if (window.isHidden() == visible) {
        window.setVisible(visible);
    }
}

WindowPlace CurrentPlace(const QWidget& window) {
    WindowPlace place;
    place.x = window.pos().x();
    place.y = window.pos().y();
    place.width = window.width();
    place.height = window.height();
    place.visible = !window.isHidden();
    place.placed = true;
    return place;
}

}  // namespace tavrel::gui
