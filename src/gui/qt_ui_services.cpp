#include "gui/qt_ui_services.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>

#include "gui/qt_text.h"

namespace tavrel::gui {

QWidget* QtUiServices::Parent() const {
    QWidget* active = QApplication::activeWindow();
    return active != nullptr ? active : fallback_parent_;
}

MessageAnswer QtUiServices::ShowMessage(std::string_view text, std::string_view caption,
                                        MessageButtons buttons) {
    QMessageBox box(Parent());
    box.setWindowTitle(ToQt(caption));
    box.setText(ToQt(text));
    if (buttons == MessageButtons::kYesNo) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MessageAnswer::kYes : MessageAnswer::kNo;
    }
    box.setIcon(QMessageBox::Information);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageAnswer::kOk;
}

std::optional<std::string> QtUiServices::PickSaveFile(const SaveFileRequest& request) {
    QFileDialog dialog(Parent());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(ToQt(request.filter_name) + " (" + ToQt(request.filter_pattern) + ")");
    dialog.setDefaultSuffix(ToQt(request.default_extension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwrite_prompt);
    if (!request.initial_path.empty()) {
        dialog.selectFile(ToQt(request.initial_path));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return ToUtf8(dialog.selectedFiles().constFirst());
}

std::optional<std::string> QtUiServices::BrowseForFolder() {
    const QString folder = QFileDialog::getExistingDirectory(Parent());
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    return ToUtf8(folder);
}

}  // namespace tavrel::gui
