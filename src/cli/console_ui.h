#pragma once

#include <ostream>

#include "platform/ui_services.h"

namespace tavrel::cli {

// The dialogs of a command without a window: messages go to standard error, and a Yes/No
// question gets the answer the command line chose.
class ConsoleUi final : public UiServices {
public:
    ConsoleUi(std::ostream& err, bool answer_yes) : err_(err), answer_yes_(answer_yes) {}

    void SetAnswer(bool yes) { answer_yes_ = yes; }

    MessageAnswer ShowMessage(std::string_view text, std::string_view caption,
                              MessageButtons buttons) override {
        err_ << "tavrel-cli: " << caption << ": " << text;
        if (buttons == MessageButtons::kYesNo) {
            err_ << (answer_yes_ ? " -> yes" : " -> no");
        }
        err_ << "\n";
        if (buttons == MessageButtons::kOk) {
            return MessageAnswer::kOk;
        }
        return answer_yes_ ? MessageAnswer::kYes : MessageAnswer::kNo;
    }
    std::optional<std::string> PickSaveFile(const SaveFileRequest&) override { return {}; }
    std::optional<std::string> BrowseForFolder() override { return {}; }

private:
    std::ostream& err_;
    bool answer_yes_;
};

}  // namespace tavrel::cli
