#pragma once

#include <QDialog>
#include <optional>

#include "app/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace tavrel {

class OptionsDialogCore;
class UiServices;

// The options dialog's Qt half: draws OptionsDialogCore, writes the user's input back into it
// and lets its OK decide. Accepted only with settings the core took.
class OptionsDialog final : public QDialog {
public:
    OptionsDialog(OptionsDialogCore& core, UiServices& ui, QWidget* parent);

    // The settings of an accepted dialog.
    const std::optional<Settings>& Result() const { return result_; }

    void accept() override;

private:
    QComboBox* PriorityCombo(const char* name, int which);

    OptionsDialogCore& core_;
    UiServices& ui_;
    std::optional<Settings> result_;
};

}  // namespace tavrel
