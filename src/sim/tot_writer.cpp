#include "sim/tot_writer.h"

#include <stdexcept>

#include "sim/section_writer.h"
#include "ts/event_record.h"

namespace tavrel::sim {

uint32_t ToBcd(uint32_t value) {
    if (value > 99999999) {
        throw std::invalid_argument("more than eight BCD digits");
    }
    uint32_t bcd = 0;
    for (int shift = 0; value != 0; shift += 4, value /= 10) {
        bcd |= (value % 10) << shift;
    }
    return bcd;
}

void PutMjdTime(std::vector<uint8_t>& out, MjdTime t) {
    if (t.mjd > 0xFFFF || t.seconds >= kSecondsPerDay) {
        throw std::invalid_argument("time outside the 16-bit MJD or the day");
    }
    const ClockTime c = SplitSeconds(t.seconds);
    PutU16(out, t.mjd);
    PutU24(out, ToBcd(c.hours) << 16 | ToBcd(c.minutes) << 8 | ToBcd(c.seconds));
}

void PutDuration(std::vector<uint8_t>& out, uint32_t seconds) {
    if (seconds == kUndefinedDuration) {
        PutU24(out, 0xFFFFFF);
        return;
    }
    const ClockTime c = SplitSeconds(seconds);
    if (c.hours > 99) {
        throw std::invalid_argument("duration beyond 99 hours");
    }
    PutU24(out, ToBcd(c.hours) << 16 | ToBcd(c.minutes) << 8 | ToBcd(c.seconds));
}

namespace {

void PutOffset(std::vector<uint8_t>& out, uint16_t minutes) {
    PutU16(out, ToBcd(minutes / 60) << 8 | ToBcd(minutes % 60));
}

}  // namespace

std::vector<uint8_t> LocalTimeOffsetDescriptor(const std::vector<LocalTimeOffset>& entries) {
    std::vector<uint8_t> body;
    for (const LocalTimeOffset& e : entries) {
        if (e.country.size() != 3) {
            throw std::invalid_argument("country code is three letters");
        }
        PutBytes(body, std::vector<uint8_t>(e.country.begin(), e.country.end()));
        PutU8(body, (e.region & 0x3F) << 2 | 0x02 | (e.negative ? 1 : 0));
        PutOffset(body, e.offset_minutes);
        PutMjdTime(body, e.time_of_change);
        PutOffset(body, e.next_offset_minutes);
    }
    return Descriptor(0x58, body);
}

std::vector<uint8_t> TotSection(MjdTime time, const std::vector<LocalTimeOffset>& offsets) {
    std::vector<uint8_t> descriptors;
    if (!offsets.empty()) {
        descriptors = LocalTimeOffsetDescriptor(offsets);
    }
    std::vector<uint8_t> body;
    PutMjdTime(body, time);
    PutU16(body, 0xF000 | descriptors.size());
    PutBytes(body, descriptors);
    return MakeShortSection(0x73, body, true);
}

std::vector<uint8_t> TdtSection(MjdTime time) {
    std::vector<uint8_t> body;
    PutMjdTime(body, time);
    return MakeShortSection(0x70, body, false);
}

}  // namespace tavrel::sim
