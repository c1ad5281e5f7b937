#pragma once

#include <QDialog>

#include "ui/programme_guide.h"

class QListWidget;

namespace tavrel {

// The provisional programme guide's Qt half: one line per programme in the guide's colours,
// "イベントIDで録画予約" ends the dialog with the chosen line, "閉じる" without one.
class GuideDialog final : public QDialog {
public:
    GuideDialog(const ProgrammeGuide& guide, QWidget* parent);

    // Runs modally: the chosen line, or kGuideClosed.
    int Run();

private:
    const ProgrammeGuide& guide_;
    QListWidget* list_ = nullptr;
    int chosen_ = kGuideClosed;
};

}  // namespace tavrel
