// Reads arbitrary text as a reservation file, writes what it read and reads that again: the
// second reading must give the same reservations (a saved file holds no states), and nothing
// may read past a field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "reservation/schedule_file.h"

namespace {

bool SameNumbers(const tavrel::Reservation& a, const tavrel::Reservation& b) {
    return (a.Flag & tavrel::RSV_KEEP_MASK) == b.Flag && a.StartDateMJD == b.StartDateMJD &&
           a.StartTimeSec == b.StartTimeSec && a.RecordSec == b.RecordSec &&
           a.NetworkID == b.NetworkID && a.StreamID == b.StreamID && a.ServiceID == b.ServiceID &&
           a.EventID == b.EventID && a.OffsetStart == b.OffsetStart && a.OffsetEnd == b.OffsetEnd &&
           a.ChVal == b.ChVal;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<tavrel::Reservation> first = tavrel::ParseSchedule(text);
    std::vector<tavrel::Reservation> kept;
    for (const tavrel::Reservation& r : first) {
        if ((r.Flag & tavrel::RSV_KEEP_MASK) != 0) {  // a state alone is not saved
            kept.push_back(r);
        }
    }
    const std::vector<tavrel::Reservation> second =
        tavrel::ParseSchedule(tavrel::FormatSchedule(kept));
    if (second.size() != kept.size()) {
        std::abort();
    }
    for (size_t i = 0; i < kept.size(); ++i) {
        if (!SameNumbers(kept[i], second[i])) {
            std::abort();
        }
    }
    return 0;
}
