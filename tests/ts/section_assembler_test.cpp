// The section layer: the bounds-checked reader, the CRC, assembly from packets and the
// version table.
#include "ts/section_assembler.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "sim/packetizer.h"
#include "sim/pat_writer.h"
#include "sim/pmt_writer.h"
#include "sim/section_writer.h"
#include "support/crc_reference.h"
#include "ts/byte_reader.h"
#include "ts/crc32.h"
#include "ts/version_table.h"

namespace tavrel {
namespace {

using Bytes = std::vector<uint8_t>;
using Sections = std::vector<Bytes>;

// One packet's payload: a unit start or not, with an adaptation field of the given length
// in front when it is >= 0.
struct Step {
    bool unit_start;
    Bytes payload;
    int adaptation_length = -1;
};

// Drives one PID's assembly with hand-made payloads and records the sections delivered.
struct Harness {
    SectionAssembly assembly;
    Sections delivered;
    uint8_t counter = 0;

    void Feed(const Step& step) {
        std::array<uint8_t, kTsPayloadSize> bytes;
        bytes.fill(0xFF);
        PacketHeader header;
        header.pid = 0x100;
        header.payload_unit_start_indicator = step.unit_start;
        header.continuity_counter = counter++ & 0x0F;
        header.adaptation_field_control = step.adaptation_length >= 0 ? 3 : 1;
        size_t at = 0;
        if (step.adaptation_length >= 0) {
            bytes[0] = static_cast<uint8_t>(step.adaptation_length);
            at = 1 + static_cast<size_t>(std::min(step.adaptation_length, 183));
        }
        std::copy_n(step.payload.begin(), std::min(step.payload.size(), bytes.size() - at),
                    bytes.begin() + static_cast<ptrdiff_t>(at));
        Assemble(assembly, header, std::span<const uint8_t, kTsPayloadSize>(bytes),
                 [this](const PacketHeader&, const SectionHeader& s, SectionBuffer& b) {
                     Bytes out(s.TotalLength());
                     if (b.Read(out.data(), s.TotalLength(), true) < s.TotalLength()) {
                         return 0;
                     }
                     delivered.push_back(out);
                     return 1;
                 });
    }
    void Feed(const std::vector<Step>& steps) {
        for (const Step& s : steps) {
            Feed(s);
        }
    }
    void FeedPackets(const std::vector<Bytes>& packets) {
        for (const auto& p : packets) {
            Feed({(p[1] & 0x40) != 0, Bytes(p.begin() + 4, p.end())});
        }
    }
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Part(const Bytes& s, size_t from, size_t to = SIZE_MAX) {
    return Bytes(s.begin() + static_cast<ptrdiff_t>(from),
                 s.begin() + static_cast<ptrdiff_t>(std::min(to, s.size())));
}

// A section of exactly n bytes (private table 0x80, long form, valid CRC).
Bytes SectionOfSize(size_t n, uint8_t fill = 0x11) {
    sim::LongSection f;
    f.table_id = 0x80;
    f.table_id_extension = 0x1234;
    return sim::MakeSection(f, Bytes(n - 12, fill));
}

TEST(SectionAssembly, PointerFieldsStuffingCrcAndAdaptationFields) {
    const Bytes a = SectionOfSize(400), b = SectionOfSize(30, 0x44), s = SectionOfSize(40, 0x55);
    const Bytes c200 = SectionOfSize(200, 0x33), fit = SectionOfSize(183 + 183);
    Bytes bad = s;
    bad[20] ^= 0x01;
    // A TDT (0x70) has no CRC field: its last four bytes are taken as one and fail. A TOT
    // (0x73) carries one and passes.
    const Bytes tdt = {0x70, 0x70, 0x05, 0xDA, 0x4B, 0x12, 0x34, 0x56};
    const Bytes tot =
        sim::MakeShortSection(0x73, Bytes{0xDA, 0x4B, 0x12, 0x34, 0x56, 0xF0, 0}, true);
    const struct {
        const char* name;
        std::vector<Step> steps;
        Sections expected;
        uint32_t collecting_after;
    } kCases[] = {
        {"over three packets, delivered once",
         {{true, Cat({{0}, Part(a, 0, 183)})}, {false, Part(a, 183, 367)}, {false, Part(a, 367)}},
         {a},
         0},
        {"pointer_field 0 discards an unfinished section",
         {{true, Cat({{0}, Part(a, 0, 183)})}, {true, Cat({{0}, b})}},
         {b},
         0},
        {"pointer_field finishes the section in progress",
         {{true, Cat({{0}, Part(c200, 0, 183)})}, {true, Cat({{17}, Part(c200, 183), b})}},
         {c200, b},
         0},
        {"a pointer_field that exactly fills the payload only ends the previous section",
         {{true, Cat({{0}, Part(fit, 0, 183)})}, {true, Cat({{183}, Part(fit, 183)})}},
         {fit},
         1},  // the next section would begin in the next packet
        {"stuffing ends the unit, even before a section that would pass",
         {{true, Cat({{0}, s, {0xFF}, b})}, {false, b}},
         {s},
         0},
        {"a CRC failure delivers nothing after it until a unit start",
         {{true, Cat({{0}, s, bad, s})}, {false, s}, {true, Cat({{0}, s})}},
         {s, s},
         0},
        {"short form sections are CRC checked too",
         {{true, Cat({{0}, tdt})}, {true, Cat({{0}, tot})}},
         {tot},
         0},
        {"packets before the first unit start are ignored; an adaptation field is skipped",
         {{false, s}, {true, Cat({{0}, s}), 10}},
         {s},
         0},
        {"an adaptation field filling the packet leaves no room for the pointer_field",
         {{true, Cat({{0}, Part(a, 0, 183)})}, {true, {}, 183}},
         {},
         0},
    };
    for (const auto& c : kCases) {
        Harness h;
        h.Feed(c.steps);
        EXPECT_EQ(h.delivered, c.expected) << c.name;
        EXPECT_EQ(h.assembly.collecting, c.collecting_after) << c.name;
    }
}

TEST(SectionAssembly, CorruptPointerOrAdaptationLengthDropsThePacket) {
    // Each of these would reach past the 184-byte payload; run under ASan.
    for (const int length : {184, 200, 255}) {
        Harness h;
        const Bytes a = SectionOfSize(300), next = SectionOfSize(20);
        // Mid-section, so the packet with the bad adaptation length is read, not ignored.
        h.Feed({{true, Cat({{0}, Part(a, 0, 183)})}, {false, {}, length}});
        EXPECT_EQ(h.assembly.collecting, 0u) << length;
        h.Feed({{true, Cat({{0}, Part(a, 0, 183)})}, {true, {static_cast<uint8_t>(length)}}});
        EXPECT_EQ(h.assembly.collecting, 0u);
        EXPECT_EQ(h.assembly.buffer.Held(), 0u);
        h.Feed({true, Cat({{0}, next})});  // the next good unit start is taken as usual
        EXPECT_EQ(h.delivered, (Sections{next})) << length;
    }
}

// Multiplexers pack sections back to back, each packet in which one begins being a unit start,
// and repeat the same arrangement: every section arrives once per repetition, in order.
TEST(SectionAssembly, SectionsPackedBackToBackAreAllDelivered) {
    const std::vector<Sections> kCases[] = {
        {{sim::PatSection(0x7FE3, 1, {{0, 0x10}, {0x400, 0x1F0}}),
          sim::PmtSection(0x400, 1, 0x111, {}, {{0x02, 0x111, {}}})}},
        {{SectionOfSize(40, 1), SectionOfSize(50, 2), SectionOfSize(60, 3)}, {SectionOfSize(30)}},
        // across packets, pointer_fields past the ends of sections
        {{SectionOfSize(100, 1), SectionOfSize(150, 2), SectionOfSize(400, 3), SectionOfSize(16),
          SectionOfSize(90, 4)}},
        {{SectionOfSize(183 + 183), SectionOfSize(20)}},  // one would begin in the last byte
        {{SectionOfSize(183 + 184), SectionOfSize(20)}},  // one ends exactly with a packet
    };
    for (size_t i = 0; i < std::size(kCases); ++i) {
        Harness h;
        sim::SectionPacketizer packetizer(0x100);
        Sections all;
        std::vector<Bytes> packets;
        for (const Sections& unit : kCases[i]) {  // each packed from pointer_field 0
            for (auto& p : packetizer.PutAll(unit)) {
                packets.push_back(std::move(p));
            }
            all.insert(all.end(), unit.begin(), unit.end());
        }
        h.FeedPackets(packets);
        h.FeedPackets(packets);
        Sections twice = all;
        twice.insert(twice.end(), all.begin(), all.end());
        EXPECT_EQ(h.delivered, twice) << i;
        EXPECT_EQ(h.assembly.buffer.Held(), 0u) << i << ": the stuffing is not kept";
    }
}

TEST(SectionAssembly, SectionsLongerThanTheBufferNeverComplete) {
    Harness h;
    // section_length 4094: 4097 bytes in all, one more than the buffer holds.
    Bytes huge(4097, 0x01);
    huge[0] = 0x80;
    huge[1] = 0xBF;
    huge[2] = 0xFE;
    h.Feed({true, Cat({{0}, Part(huge, 0, 183)})});
    for (size_t at = 183; at < huge.size(); at += 184) {
        h.Feed({false, Part(huge, at, at + 184)});
    }
    EXPECT_TRUE(h.delivered.empty());
    EXPECT_EQ(h.assembly.buffer.Held(), SectionBuffer::kLimit);
}

TEST(VersionTable, RemembersEachSectionVersion) {
    VersionTable table;
    // (section number, version, new?): any change counts, even back.
    const std::tuple<uint8_t, uint8_t, bool> kSteps[] = {
        {0, 3, true}, {0, 3, false}, {1, 3, true}, {0, 4, true}, {1, 3, false}, {0, 3, true},
    };
    for (const auto& [section, version, fresh] : kSteps) {
        EXPECT_EQ(table.IsNewVersion(0x7FE3, 0x00, section, version), fresh);
    }
    table.Clear();
    EXPECT_TRUE(table.IsNewVersion(0x7FE3, 0x00, 1, 3));
}

// The check value; then the eight-byte steps and the byte tail must agree with the bit-by-bit
// definition for every length (empty too) and every way of splitting the input over updates.
TEST(Crc32, CheckValueAndTheBitwiseDefinitionForEveryLengthAndSplit) {
    const std::string_view check = "123456789";
    EXPECT_EQ(Crc32Mpeg2({reinterpret_cast<const uint8_t*>(check.data()), check.size()}),
              0x0376E6E7u);
    std::vector<uint8_t> data(67);
    uint32_t x = 0x12345678;
    for (auto& b : data) {
        x = x * 1664525 + 1013904223;
        b = static_cast<uint8_t>(x >> 24);
    }
    const std::span<const uint8_t> all(data);
    for (size_t length = 0; length <= data.size(); ++length) {
        const auto part = all.first(length);
        const uint32_t expected = testing::ReferenceCrc32(part);
        ASSERT_EQ(Crc32Mpeg2(part), expected) << "length " << length;
        for (size_t split = 1; split < length; split += 3) {
            const uint32_t crc = Crc32Update(Crc32Mpeg2(part.first(split)), part.subspan(split));
            ASSERT_EQ(crc, expected) << "length " << length << " split at " << split;
        }
    }
}

TEST(ByteReader, ReadsBigEndianFailsStickyAtTheEndAndSubReadersAreCut) {
    const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A};
    // Every prefix reads what it holds and fails cleanly after it.
    for (size_t n = bytes.size() + 1; n-- > 0;) {
        ByteReader r(std::span<const uint8_t>(bytes.data(), n));
        const uint32_t v = r.U32();
        EXPECT_EQ(r.Ok(), n >= 4) << n;
        EXPECT_EQ(v, n >= 4 ? 0x12345678u : 0u) << n;
    }
    ByteReader r(bytes);
    ByteReader sub = r.Sub(2);
    EXPECT_EQ(sub.U16(), 0x1234u);
    EXPECT_FALSE(sub.More());
    EXPECT_EQ(sub.U8(), 0u);
    EXPECT_FALSE(sub.Ok());
    EXPECT_EQ(r.U24(), 0x56789Au);  // the outer reader is unaffected
    EXPECT_TRUE(r.Ok() && r.AtEnd());
    // A declared length beyond the data gives what is left and fails the outer reader.
    ByteReader r2(bytes);
    r2.Skip(1);
    EXPECT_EQ(r2.Sub(100).Remaining(), 4u);
    EXPECT_FALSE(r2.Ok());
}

}  // namespace
}  // namespace tavrel
