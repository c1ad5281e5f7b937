#pragma once

#include <QDialog>

namespace tavrel {

// The program's name, version and a short notice; closed by its button.
class AboutDialog final : public QDialog {
public:
    explicit AboutDialog(QWidget* parent);
};

}  // namespace tavrel
