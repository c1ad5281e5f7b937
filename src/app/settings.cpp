#include "app/settings.h"

#include <array>
#include <limits>

#include "platform/file.h"
#include "platform/paths.h"

namespace tavrel {
namespace {

using S = Settings;

constexpr std::array<SettingKey, 35> kKeys{{
    {"HV_KELVRA_INIT", kMainSection, &S::hv_kelvra_init},
    {"REC_AUTOFILENAME", kMainSection, &S::rec_autofilename},
    {"REC_AUTOPATH", kMainSection, &S::rec_autopath},
    {"TIMER_PERIOD", kMainSection, &S::timer_period},
    {"THREAD_PRIORITY_REC", kMainSection, &S::thread_priority_rec},
    {"THREAD_PRIORITY_RES", kMainSection, &S::thread_priority_res},
    {"THREAD_PRIORITY_PROC", kMainSection, &S::thread_priority_proc},
    {"LAST_EP_IN", kMainSection, &S::last_ep_in},
    {"LAST_EP_OUT", kMainSection, &S::last_ep_out},
    {"REC_TIME", kMainSection, &S::rec_time},
    {"NETWORK_ADDRESS", kMainSection, &S::network_address},
    {"NETWORK_PORT", kMainSection, &S::network_port},
    {"NETWORK_SEND_SIZE", kMainSection, &S::network_send_size},
    {"POS_X", kMainSection, &S::pos_x},
    {"POS_Y", kMainSection, &S::pos_y},
    {"CHWND_SHOW", kMainSection, &S::chwnd_show},
    {"CHWND_POS_X", kMainSection, &S::chwnd_pos_x},
    {"CHWND_POS_Y", kMainSection, &S::chwnd_pos_y},
    {"LAST_CHANNEL", kMainSection, &S::last_channel},
    {"FILTWND_SHOW", kMainSection, &S::filtwnd_show},
    {"FILTWND_POS_X", kMainSection, &S::filtwnd_pos_x},
    {"FILTWND_POS_Y", kMainSection, &S::filtwnd_pos_y},
    {"FILTWND_SIZE_X", kMainSection, &S::filtwnd_size_x},
    {"FILTWND_SIZE_Y", kMainSection, &S::filtwnd_size_y},
    {"SCHEDULE_SHOW", kMainSection, &S::schedule_show},
    {"SCHEDULE_POS_X", kMainSection, &S::schedule_pos_x},
    {"SCHEDULE_POS_Y", kMainSection, &S::schedule_pos_y},
    {"SCHEDULE_SIZE_X", kMainSection, &S::schedule_size_x},
    {"SCHEDULE_SIZE_Y", kMainSection, &S::schedule_size_y},
    {"NO_REJECT_NULLPACKET", kMainSection, &S::no_reject_nullpacket},
    {"EXTRA_USB_IDS", kMainSection, &S::extra_usb_ids},
    {"DECODE_PSI", kPsiSection, &S::decode_psi},
    {"PROC_EPG", kPsiSection, &S::proc_epg},
    {"PROC_DATA", kPsiSection, &S::proc_data},
    {"SCHEDULE_USE_SYSTEM_TIME", kScheduleSection, &S::schedule_use_system_time},
}};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string WithoutTrailingSeparators(std::string_view dir) {
    while (dir.size() > 1 && dir.back() == kPathSeparator) {
        dir.remove_suffix(1);
    }
    return std::string(dir);
}

}  // namespace

std::span<const SettingKey> SettingKeys() {
    return kKeys;
}

int32_t Atoi(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulated as a magnitude that stops growing once it is past the 32-bit range.
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (magnitude <= std::numeric_limits<int32_t>::max()) {
            magnitude = magnitude * 10 + (text[i] - '0');
        }
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

void IntSetting(ProfileFile& file, std::string_view section, bool write, std::string_view key,
                int32_t& value, int32_t default_value) {
    if (write) {
        file.SetString(section, key, std::to_string(value));
        return;
    }
    const std::string text = file.GetString(section, key, "");
    value = text.empty() ? default_value : Atoi(text);
}

SettingsFile::SettingsFile(std::string_view start_directory)
    : start_directory_(WithoutTrailingSeparators(start_directory)),
      settings_path_(JoinPath(start_directory_, kSettingsFileName)),
      schedule_path_(JoinPath(start_directory_, kScheduleFileName)) {}

SettingsFile SettingsFile::AtStart() {
    return SettingsFile(CurrentDirectory());
}

Settings SettingsFile::Defaults() const {
    Settings defaults;
    defaults.rec_autopath = start_directory_;
    return defaults;
}

void SettingsFile::LoadSave(Settings& settings, bool write) const {
    // The whole file is read once and, when writing, saved once with every key updated, so
    // sections and comments the program does not know survive.
    ProfileFile file = ProfileFile::Load(settings_path_);
    const Settings defaults = Defaults();
    for (const SettingKey& entry : kKeys) {
        if (const auto* int_member = std::get_if<int32_t Settings::*>(&entry.member)) {
            IntSetting(file, entry.section, write, entry.key, settings.**int_member,
                       defaults.**int_member);
        } else {
            const auto string_member = std::get<std::string Settings::*>(entry.member);
            if (write) {
                file.SetString(entry.section, entry.key, settings.*string_member);
            } else {
                settings.*string_member =
                    file.GetString(entry.section, entry.key, defaults.*string_member);
            }
        }
    }
    if (write) {
        file.Save(settings_path_);
    }
}

}  // namespace tavrel
