#pragma once

#include "platform/ui_services.h"

class QWidget;

namespace tavrel::gui {

// Message boxes and pickers as Qt dialogs, owned by the active window (or the main window when
// none is active).
class QtUiServices final : public UiServices {
public:
    // fallback_parent may be null; it can be set once the main window exists.
    explicit QtUiServices(QWidget* fallback_parent = nullptr) : fallback_parent_(fallback_parent) {}
    void SetFallbackParent(QWidget* parent) { fallback_parent_ = parent; }

    MessageAnswer ShowMessage(std::string_view text, std::string_view caption,
                              MessageButtons buttons) override;
    std::optional<std::string> PickSaveFile(const SaveFileRequest& request) override;
    std::optional<std::string> BrowseForFolder() override;

private:
    QWidget* Parent() const;

    QWidget* fallback_parent_;
};

}  // namespace tavrel::gui
