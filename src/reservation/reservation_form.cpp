#include "reservation/reservation_form.h"

#include <cstdio>

#include "app/settings.h"
#include "device/dtv_base.h"
#include "platform/file.h"

namespace tavrel {
namespace {

constexpr uint32_t kPickerMax = kSecondsPerDay - 1;

uint32_t Capabilities(CDTV_Base* device) {
    return device != nullptr ? device->GetCapabilities() : 0;
}

uint32_t SecondsOf(const ClockTime& t) {
    return t.hours * 3600 + t.minutes * 60 + t.seconds;
}

std::string Hex4(uint16_t v) {
    char buffer[8];
    std::snprintf(buffer, sizeof(buffer), "0x%04X", v);
    return buffer;
}

void FillPickers(ReservationForm& form, const Reservation& w) {
    form.dated = w.StartDateMJD != 0;
    if (form.dated) {
        form.date = DateFromMjd(w.StartDateMJD);
        form.time = SplitSeconds(w.StartTimeSec % kSecondsPerDay);
        form.length = LengthForPicker(w.RecordSec);
    }
}

void EnableChannels(ReservationForm& form, uint32_t capabilities) {
    form.channels_enabled = (capabilities & kCapabilityChannel) != 0 && form.channels.size() > 1;
    form.channel_text_enabled = (capabilities & kCapabilityText) != 0;
}

// Sets the channel flag and value from the selected channel.
void ReadChannel(const ReservationForm& form, uint32_t capabilities, Reservation& r) {
    if ((capabilities & kCapabilityChannel) == 0 || form.channel_selection < 0 ||
        form.channel_selection >= static_cast<int>(form.channels.size())) {
        return;
    }
    const int value = form.channels[static_cast<size_t>(form.channel_selection)].value;
    if (value != -1) {
        r.Flag |= RSV_CHANNEL_VALUE;
        r.ChVal = static_cast<uint8_t>(value);
    }
}

}  // namespace

ClockTime LengthForPicker(uint32_t record_sec) {
    return SplitSeconds(record_sec > kPickerMax ? kPickerMax : record_sec);
}

std::optional<uint16_t> ParseEventId(std::string_view text) {
    if (text.size() < 3 || text.size() > 6 || text[0] != '0' ||
        (text[1] != 'x' && text[1] != 'X')) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text.substr(2)) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return static_cast<uint16_t>(value);
}

ReservationForm FillForm(const Reservation& w, CDTV_Base* device) {
    ReservationForm form;
    const uint32_t capabilities = Capabilities(device);
    FillPickers(form, w);

    if ((capabilities & kCapabilityChannel) != 0 && device->GetChannelCount() > 0) {
        form.channels.push_back({"なし", -1});
        for (int i = 0; i < device->GetChannelCount(); ++i) {
            char name[80] = {};
            const int value = device->GetChannelName(i, name, sizeof(name));
            form.channels.push_back({name, value});
        }
        for (size_t i = 1; i < form.channels.size(); ++i) {
            if ((form.channels[i].value & 0xFF) == w.ChVal) {
                form.channel_selection = static_cast<int>(i);
                break;
            }
        }
    } else {
        form.channels.push_back({"無効", -1});
    }
    form.channel_text =
        (capabilities & kCapabilityText) != 0 ? std::string(TextOf(w.ChStr)) : "無効";
    EnableChannels(form, capabilities);

    if (w.ByDate()) {
        form.kind = kFormKindDate;
        form.ids = "0x0000/0x0000/0x0000";
        form.event_id = "0x0000";
    } else if (w.ByEvent()) {
        form.kind = kFormKindEvent;
        form.pickers_enabled = false;
        form.ids = Hex4(w.NetworkID) + "/" + Hex4(w.StreamID) + "/" + Hex4(w.ServiceID);
        form.event_id = Hex4(w.EventID);
        form.event_id_enabled = true;
        form.offset_start = std::to_string(w.OffsetStart);
        form.offset_end = std::to_string(w.OffsetEnd);
        form.offsets_enabled = true;
        form.service_limit_enabled = false;
        form.convert_enabled = w.StartDateMJD != 0;
    }
    form.service_limit = (w.Flag & RSV_SERVICE_LIMIT) != 0;
    form.service_id = std::string(TextOf(w.EnableServiceID));
    form.after_end = (w.Flag & RSV_DAILY) != 0    ? kAfterEndDaily
                     : (w.Flag & RSV_WEEKLY) != 0 ? kAfterEndWeekly
                                                  : kAfterEndDelete;
    form.file_given = (w.Flag & RSV_FILE_GIVEN) != 0;
    form.dir = std::string(TextOf(w.Dir));
    form.file = std::string(TextOf(w.File));
    form.ext = std::string(TextOf(w.Ext));
    return form;
}

void ConvertToDateType(ReservationForm& form, const Reservation& w, CDTV_Base* device) {
    if (w.StartDateMJD == 0) {
        return;
    }
    form.kind = kFormKindDate;
    form.event_id_enabled = false;
    form.convert_enabled = false;
    form.pickers_enabled = true;
    form.service_limit_enabled = true;
    EnableChannels(form, Capabilities(device));
}

FormResult ReadDialogRecord(const ReservationForm& form, const Reservation& w, CDTV_Base* device) {
    const uint32_t capabilities = Capabilities(device);
    Reservation r;
    if (form.kind == kFormKindEvent) {
        const std::optional<uint16_t> event_id = ParseEventId(form.event_id);
        if (!event_id) {
            return {std::nullopt, "イベントIDは 0x に続く16進数4桁以内で入力してください。"};
        }
        r = w;
        r.Flag = RSV_BY_EVENT;
        r.EventID = *event_id;
        r.eventTableKind = 0;
        r.eventVersion = 0;
        r.StartDateMJD = 0;
        r.StartTimeSec = 0;
        r.RecordSec = 0;
        r.OffsetStart = Atoi(form.offset_start);
        r.OffsetEnd = Atoi(form.offset_end);
        ReadChannel(form, capabilities, r);
    } else if (form.kind == kFormKindDate) {
        r.Flag = RSV_BY_DATE;
        r.StartDateMJD = MjdFromDate(form.date.month, form.date.year, form.date.day);
        r.StartTimeSec = SecondsOf(form.time) % kSecondsPerDay;
        r.RecordSec = SecondsOf(form.length);
        ReadChannel(form, capabilities, r);
        if ((capabilities & kCapabilityText) != 0) {
            r.Flag |= RSV_CHANNEL_TEXT;
            CopyText(r.ChStr, form.channel_text);
        }
        if (form.after_end == kAfterEndDaily) {
            r.Flag |= RSV_DAILY;
        } else if (form.after_end == kAfterEndWeekly) {
            r.Flag |= RSV_WEEKLY;
        }
    } else {
        return {};
    }
    if (form.service_limit) {
        r.Flag |= RSV_SERVICE_LIMIT;
    }
    CopyText(r.EnableServiceID, form.service_id);

    CopyText(r.Dir, form.dir);
    CopyText(r.File, form.file);
    CopyText(r.Ext, form.ext);
    if (TextOf(r.Dir).size() + TextOf(r.File).size() + TextOf(r.Ext).size() > 258) {
        return {std::nullopt, "パス名が長すぎます"};
    }
    if (!IsDirectory(std::string(TextOf(r.Dir)))) {
        return {std::nullopt, "無効なパスです。"};
    }
    if (form.file_given) {
        r.Flag |= RSV_FILE_GIVEN;
    }
    return {r, std::string()};
}

}  // namespace tavrel
