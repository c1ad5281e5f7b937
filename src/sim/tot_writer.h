#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ts/mjd_time.h"

namespace tavrel::sim {

// Packed BCD of a decimal number of up to eight digits (1204000 -> 0x01204000).
uint32_t ToBcd(uint32_t value);
// The 40-bit time field of the SI tables: 16-bit MJD and hh mm ss in BCD.
void PutMjdTime(std::vector<uint8_t>& out, MjdTime t);
// A 24-bit BCD duration hh mm ss; 0xFFFFFF for an undefined one (0xFFFFFFFF seconds).
void PutDuration(std::vector<uint8_t>& out, uint32_t seconds);

// One entry of the local time offset descriptor (0x58).
struct LocalTimeOffset {
    std::string country = "JPN";
    uint8_t region = 0;  // 6 bits
    bool negative = false;
    uint16_t offset_minutes = 0;
    MjdTime time_of_change;
    uint16_t next_offset_minutes = 0;
};
std::vector<uint8_t> LocalTimeOffsetDescriptor(const std::vector<LocalTimeOffset>& entries);

// A time offset section (0x73) with its CRC; Japanese broadcasts carry one local time offset
// descriptor for Japan with no offset.
std::vector<uint8_t> TotSection(MjdTime time,
                                const std::vector<LocalTimeOffset>& offsets = {LocalTimeOffset{}});
// A time and date section (0x70): no CRC field.
std::vector<uint8_t> TdtSection(MjdTime time);

}  // namespace tavrel::sim
