#pragma once

// The file side of the data broadcast: names of the written resources and of the folder the
// write command makes. The writer itself is CCarouselStore::WriteResources.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "ts/mjd_time.h"

namespace tavrel {

// The extension of the file of a resource without location, from its content type
// (case-sensitive): ".bml", ".bta", ".png", ".jpg", else ".bin". Never none, so that the file
// "CT/MMMM.ext" cannot take the name of the folder "CT/MMMM" that the same module's resources
// with a location need.
std::string_view ExtensionForContentType(std::string_view content_type);

// A resource path as stored (Shift_JIS, '/'-separated, its location as broadcast) turned into
// a UTF-8 path that stays below whatever folder it is appended to: '\' separates too, empty,
// "." and ".." names are dropped (so a leading '/' does not make it absolute), and control
// characters and ':' (a drive prefix) become '_'. Empty when no name is left.
std::string SafeRelativePath(std::string_view path);

// The folder the write command makes for one service: "SID-YYYYMMDD-hhmmss", the service id
// in decimal, e.g. "1024-20080315-193005".
std::string ResourceFolderName(uint16_t service_id, const CalendarDate& date,
                               const ClockTime& time);
// The same at a local time, or at the local time of clock.
std::string ResourceFolderName(uint16_t service_id, const MjdTime& local);
std::string ResourceFolderName(uint16_t service_id, const Clock& clock);
// That folder inside the one the user chose.
std::string ResourceFolderPath(std::string_view chosen_folder, uint16_t service_id,
                               const MjdTime& local);
std::string ResourceFolderPath(std::string_view chosen_folder, uint16_t service_id,
                               const Clock& clock);

}  // namespace tavrel
