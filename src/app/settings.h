#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "platform/profile_file.h"

namespace tavrel {

inline constexpr std::string_view kSettingsFileName = "tavrel.ini";
inline constexpr std::string_view kScheduleFileName = "schedule.ini";

inline constexpr std::string_view kMainSection = "Tavrel_M";
inline constexpr std::string_view kPsiSection = "Tavrel_M_PSI";
inline constexpr std::string_view kScheduleSection = "Tavrel_M_SCHEDULE";

// Positions below this were never set: the window keeps its default place.
inline constexpr int32_t kUnplacedPosition = -30000;

// Every setting of the program, with its default. Changed in memory while the program runs;
// read from and written to the settings file once each.
struct Settings {
    int32_t hv_kelvra_init = 0;
    int32_t rec_autofilename = 0;
    std::string rec_autopath;  // default: the working directory at start
    int32_t timer_period = 1;
    int32_t thread_priority_rec = 0;
    int32_t thread_priority_res = 0;
    int32_t thread_priority_proc = 0;
    int32_t last_ep_in = 0xFFFE;
    int32_t last_ep_out = 0xFFFE;
    int32_t rec_time = 0;
    std::string network_address = "localhost";
    int32_t network_port = 1234;
    int32_t network_send_size = 0x7FFF;
    int32_t pos_x = kUnplacedPosition;
    int32_t pos_y = kUnplacedPosition;
    int32_t chwnd_show = 0;
    int32_t chwnd_pos_x = kUnplacedPosition;
    int32_t chwnd_pos_y = kUnplacedPosition;
    int32_t last_channel = -1;
    int32_t filtwnd_show = 0;
    int32_t filtwnd_pos_x = kUnplacedPosition;
    int32_t filtwnd_pos_y = kUnplacedPosition;
    int32_t filtwnd_size_x = 0;
    int32_t filtwnd_size_y = 0;
    int32_t schedule_show = 0;
    int32_t schedule_pos_x = kUnplacedPosition;
    int32_t schedule_pos_y = kUnplacedPosition;
    int32_t schedule_size_x = 0;
    int32_t schedule_size_y = 0;
    int32_t no_reject_nullpacket = 0;
    // Vendor:product pairs (hex, separated by commas or blanks) of tuners whose vendor is not
    // one of the FX2 bridge vendors.
    std::string extra_usb_ids;
    int32_t decode_psi = 0;
    int32_t proc_epg = 0;
    int32_t proc_data = 0;
    int32_t schedule_use_system_time = 0;

    friend bool operator==(const Settings&, const Settings&) = default;
};

// One key of the settings file and the member it fills.
struct SettingKey {
    std::string_view key;
    std::string_view section;
    std::variant<int32_t Settings::*, std::string Settings::*> member;
};

// All keys, in the order they are read and written.
std::span<const SettingKey> SettingKeys();

// The number at the start of text as C's atoi reads it: leading blanks, a sign, digits; 0 when
// there is none; clamped to the 32-bit range.
int32_t Atoi(std::string_view text);

// Reads (write false) or writes (write true) one number. A missing or empty value reads as
// default_value; text that is not a number reads as 0. Written as decimal.
void IntSetting(ProfileFile& file, std::string_view section, bool write, std::string_view key,
                int32_t& value, int32_t default_value);

// The settings file and the reservation file of the directory the program started in.
class SettingsFile {
public:
    // start_directory: the working directory at start, with or without a trailing separator.
    explicit SettingsFile(std::string_view start_directory);
    // Uses the current working directory.
    static SettingsFile AtStart();

    const std::string& StartDirectory() const { return start_directory_; }
    const std::string& SettingsPath() const { return settings_path_; }
    const std::string& SchedulePath() const { return schedule_path_; }

    // The defaults of every key; the folder for automatic names is the start directory.
    Settings Defaults() const;

    // Reads every key into settings (write false) or writes every key from it (write true),
    // in table order. Other content of an existing file is kept. Write failures are not
    // reported: the program is exiting and has nowhere to show them.
    void LoadSave(Settings& settings, bool write) const;

private:
    std::string start_directory_;
    std::string settings_path_;
    std::string schedule_path_;
};

}  // namespace tavrel
