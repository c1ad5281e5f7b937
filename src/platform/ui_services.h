#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrel {

enum class MessageButtons { kOk, kYesNo };
enum class MessageAnswer { kOk, kYes, kNo };

// What the save-file picker offers: one filter, a default extension and the file name it
// starts with.
struct SaveFileRequest {
    std::string filter_name;        // shown to the user, e.g. "TS Stream"
    std::string filter_pattern;     // e.g. "*.ts"
    std::string default_extension;  // added when the user types a name without one, e.g. "ts"
    std::string initial_path;       // empty: the picker starts with an empty name
    bool overwrite_prompt = true;   // ask before an existing file is chosen
    bool hide_read_only = true;
};

// The dialogs the core needs from the window system. The GUI implements it; core code gets it
// as a reference and never includes a toolkit header. Every call blocks until the user has
// answered and is made on the main thread. Dialogs are owned by the window that is active when
// the call is made.
class UiServices {
public:
    virtual ~UiServices() = default;

    // A message box with the text, the caption and the buttons; returns the button pressed
    // (kOk for an OK-only box, also when it is closed another way; kNo when a Yes/No box is
    // closed without an answer).
    virtual MessageAnswer ShowMessage(std::string_view text, std::string_view caption,
                                      MessageButtons buttons) = 0;
    // The path the user chose, or nothing on cancel.
    virtual std::optional<std::string> PickSaveFile(const SaveFileRequest& request) = 0;
    // The file-system folder the user chose, or nothing on cancel.
    virtual std::optional<std::string> BrowseForFolder() = 0;
};

}  // namespace tavrel
