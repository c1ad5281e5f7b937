#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "app/window_state.h"
#include "platform/timer_resolution.h"
#include "platform/ui_services.h"

namespace tavrel {

// A whole unsigned decimal number as a number edit gives it (blanks around it allowed);
// nothing for anything else, including a sign or a value beyond 32 bits.
std::optional<uint32_t> ParseUnsignedEdit(std::string_view text);

// The options dialog's logic: its controls filled from the settings, and the checks of OK.
class OptionsDialogCore {
public:
    OptionsDialogCore(const Settings& settings, const TimerFacts& facts);

    // OK: the settings with the dialog's values, or nothing after telling the user what is
    // wrong (the dialog then stays open).
    std::optional<Settings> Ok(UiServices& ui) const;

    Control timer_period;    // 1023, a number
    std::string increment;   // 1030
    std::string range;       // 1031
    ComboBox priority_rec;   // 1026
    ComboBox priority_res;   // 1027
    ComboBox priority_proc;  // 1028
    Control auto_file_name;  // 1025
    Control auto_path;       // 1029
    Control decode_psi;      // 1042
    Control proc_data;       // 1067
    Control proc_epg;        // 1041
    Control system_time;     // 1043

private:
    Settings settings_;
    TimerFacts facts_;
};

}  // namespace tavrel
