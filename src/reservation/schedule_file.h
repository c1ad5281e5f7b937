#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "reservation/reservation.h"

namespace tavrel {

// The text of schedule.ini for the pending list, CR LF line ends. States are not saved: the
// saved flag word keeps every bit but the state, printed signed.
std::string FormatSchedule(std::span<const Reservation> pending);

// The reservations of a schedule.ini text in file order; sections whose Flag is 0 or missing
// are skipped. Nothing else is checked: what a hand-edited file holds is taken as it stands.
std::vector<Reservation> ParseSchedule(std::string_view text);

}  // namespace tavrel
