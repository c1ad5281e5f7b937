#include "ts/section_assembler.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/packetizer.h"
#include "sim/pat_writer.h"
#include "sim/pmt_writer.h"
#include "sim/section_writer.h"
#include "ts/version_table.h"

namespace tavrel {
namespace {

// Drives one PID's assembly with hand-made payloads and records what the handler receives.
struct Harness {
    SectionAssembly assembly;
    struct Delivered {
        std::vector<uint8_t> bytes;
        uint8_t counter;  // continuity counter of the packet that completed it
    };
    std::vector<Delivered> delivered;
    uint8_t counter = 0;

    void Feed(bool unit_start, std::vector<uint8_t> payload, int adaptation_length = -1) {
        std::array<uint8_t, kTsPayloadSize> bytes;
        bytes.fill(0xFF);
        PacketHeader header;
        header.pid = 0x100;
        header.payload_unit_start_indicator = unit_start;
        header.continuity_counter = counter++ & 0x0F;
        header.adaptation_field_control = 1;
        size_t at = 0;
        if (adaptation_length >= 0) {
            header.adaptation_field_control = 3;
            bytes[0] = static_cast<uint8_t>(adaptation_length);
            at = 1 + static_cast<size_t>(std::min(adaptation_length, 183));
        }
        for (size_t i = 0; i < payload.size() && at + i < bytes.size(); ++i) {
            bytes[at + i] = payload[i];
        }
        Assemble(assembly, header, std::span<const uint8_t, kTsPayloadSize>(bytes),
                 [this](const PacketHeader& h, const SectionHeader& s, SectionBuffer& b) {
                     std::vector<uint8_t> out(s.TotalLength());
                     if (b.Read(out.data(), s.TotalLength(), true) < s.TotalLength()) {
                         return 0;
                     }
                     delivered.push_back({out, h.continuity_counter});
                     return 1;
                 });
    }
    void FeedPackets(const std::vector<std::vector<uint8_t>>& packets) {
        for (const auto& p : packets) {
            Feed((p[1] & 0x40) != 0, std::vector<uint8_t>(p.begin() + 4, p.end()));
        }
    }
    std::vector<std::vector<uint8_t>> Sections() const {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& d : delivered) {
            out.push_back(d.bytes);
        }
        return out;
    }
};

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// A section of exactly n bytes (private table 0x80, long form, valid CRC).
std::vector<uint8_t> SectionOfSize(size_t n, uint8_t fill = 0x11) {
    sim::LongSection f;
    f.table_id = 0x80;
    f.table_id_extension = 0x1234;
    return sim::MakeSection(f, std::vector<uint8_t>(n - 12, fill));
}

TEST(SectionAssembly, SectionOverThreePacketsIsDeliveredOnceWithTheThirdHeader) {
    Harness h;
    const auto section = SectionOfSize(400);
    const auto first = Cat({{0x00}, std::vector<uint8_t>(section.begin(), section.begin() + 183)});
    h.Feed(true, first);
    h.Feed(false, std::vector<uint8_t>(section.begin() + 183, section.begin() + 367));
    EXPECT_TRUE(h.delivered.empty());
    h.Feed(false, std::vector<uint8_t>(section.begin() + 367, section.end()));
    ASSERT_EQ(h.delivered.size(), 1u);
    EXPECT_EQ(h.delivered[0].bytes, section);
    EXPECT_EQ(h.delivered[0].counter, 2);
}

TEST(SectionAssembly, PointerFieldZeroDiscardsAnUnfinishedSection) {
    Harness h;
    const auto big = SectionOfSize(300);
    const auto small = SectionOfSize(20, 0x22);
    h.Feed(true, Cat({{0x00}, std::vector<uint8_t>(big.begin(), big.begin() + 183)}));
    h.Feed(true, Cat({{0x00}, small}));  // the rest of `big` never comes
    ASSERT_EQ(h.delivered.size(), 1u);
    EXPECT_EQ(h.delivered[0].bytes, small);
}

TEST(SectionAssembly, PointerFieldFinishesTheSectionInProgress) {
    Harness h;
    const auto a = SectionOfSize(200, 0x33);
    const auto b = SectionOfSize(30, 0x44);
    h.Feed(true, Cat({{0x00}, std::vector<uint8_t>(a.begin(), a.begin() + 183)}));
    h.Feed(true, Cat({{17}, std::vector<uint8_t>(a.begin() + 183, a.end()), b}));
    ASSERT_EQ(h.delivered.size(), 2u);
    EXPECT_EQ(h.delivered[0].bytes, a);
    EXPECT_EQ(h.delivered[1].bytes, b);
}

// Multiplexers pack sections back to back, each packet in which one begins being a unit start,
// and repeat the same arrangement: every section arrives once per repetition, in order.
TEST(SectionAssembly, SectionsPackedBackToBackAreAllDelivered) {
    using Sections = std::vector<std::vector<uint8_t>>;
    const Sections small = {SectionOfSize(40, 1), SectionOfSize(50, 2), SectionOfSize(60, 3)};
    const struct {
        const char* name;
        std::vector<Sections> units;  // each packed from a unit start with pointer_field 0
    } kCases[] = {
        {"PAT and PMT in one payload",
         {{sim::PatSection(0x7FE3, 1, {{0, 0x10}, {0x400, 0x1F0}}),
           sim::PmtSection(0x400, 1, 0x111, {}, {{0x02, 0x111, {}}})}}},
        {"three in one packet, then a unit with pointer_field 0", {small, {SectionOfSize(30)}}},
        {"across packets, pointer_fields past the ends of sections",
         {{SectionOfSize(100, 1), SectionOfSize(150, 2), SectionOfSize(400, 3), SectionOfSize(16),
           SectionOfSize(90, 4)}}},
        {"one that would begin in a packet's last byte",
         {{SectionOfSize(183 + 183), SectionOfSize(20)}}},
        {"one that ends exactly with a packet", {{SectionOfSize(183 + 184), SectionOfSize(20)}}},
    };
    for (const auto& c : kCases) {
        Harness h;
        sim::SectionPacketizer packetizer(0x100);
        Sections all;
        std::vector<std::vector<uint8_t>> packets;
        for (const Sections& unit : c.units) {
            for (auto& p : packetizer.PutAll(unit)) {
                packets.push_back(std::move(p));
            }
            all.insert(all.end(), unit.begin(), unit.end());
        }
        h.FeedPackets(packets);
        h.FeedPackets(packets);
        Sections twice = all;
        twice.insert(twice.end(), all.begin(), all.end());
        EXPECT_EQ(h.Sections(), twice) << c.name;
        EXPECT_EQ(h.assembly.buffer.Held(), 0u) << c.name << ": the stuffing is not kept";
    }
}

TEST(SectionAssembly, StuffingEndsTheUnit) {
    // Bytes after stuffing are never taken as a section, even when they would pass.
    Harness h;
    const auto a = SectionOfSize(40, 1);
    const auto b = SectionOfSize(40, 2);
    h.Feed(true, Cat({{0x00}, a, {0xFF}, b}));
    h.Feed(false, b);
    EXPECT_EQ(h.Sections(), std::vector<std::vector<uint8_t>>{a});
    EXPECT_EQ(h.assembly.collecting, 0u);
}

TEST(SectionAssembly, CrcMismatchIsNeverDeliveredAndWaitsForAUnitStart) {
    Harness h;
    auto bad = SectionOfSize(40);
    bad[20] ^= 0x01;
    const auto good = SectionOfSize(40, 0x55);
    // The sections before it in the payload are delivered, none after it.
    h.Feed(true, Cat({{0x00}, good, bad, good}));
    EXPECT_EQ(h.Sections(), std::vector<std::vector<uint8_t>>{good});
    h.delivered.clear();
    EXPECT_EQ(h.assembly.collecting, 0u);
    h.Feed(false, good);  // not a unit start: ignored
    EXPECT_TRUE(h.delivered.empty());
    h.Feed(true, Cat({{0x00}, good}));
    ASSERT_EQ(h.delivered.size(), 1u);
}

TEST(SectionAssembly, ShortFormSectionsAreCrcCheckedToo) {
    // A TDT (0x70) has no CRC field: its last four bytes are taken as one and fail.
    // A TOT (0x73) carries one and passes.
    Harness h;
    const std::vector<uint8_t> tdt = {0x70, 0x70, 0x05, 0xDA, 0x4B, 0x12, 0x34, 0x56};
    h.Feed(true, Cat({{0x00}, tdt}));
    EXPECT_TRUE(h.delivered.empty());
    const auto tot = sim::MakeShortSection(
        0x73, std::vector<uint8_t>{0xDA, 0x4B, 0x12, 0x34, 0x56, 0xF0, 0x00}, true);
    h.Feed(true, Cat({{0x00}, tot}));
    ASSERT_EQ(h.delivered.size(), 1u);
    EXPECT_EQ(h.delivered[0].bytes, tot);
}

TEST(SectionAssembly, PacketsBeforeTheFirstUnitStartAreIgnoredAnAdaptationFieldIsSkipped) {
    Harness h;
    const auto s = SectionOfSize(40);
    h.Feed(false, s);
    EXPECT_TRUE(h.delivered.empty());
    EXPECT_EQ(h.assembly.buffer.Held(), 0u);
    h.Feed(true, Cat({{0x00}, s}), 10);
    ASSERT_EQ(h.delivered.size(), 1u);
    EXPECT_EQ(h.delivered[0].bytes, s);
}

TEST(SectionAssembly, CorruptPointerOrAdaptationLengthDropsThePacket) {
    // Each of these would reach past the 184-byte payload; run under ASan.
    for (const int adaptation : {184, 200, 255}) {
        Harness h;
        h.Feed(true, Cat({{0x00}, SectionOfSize(100)}));
        ASSERT_EQ(h.delivered.size(), 1u);
        h.Feed(false, {}, adaptation);
        EXPECT_EQ(h.assembly.collecting, 0u) << adaptation;
        EXPECT_EQ(h.delivered.size(), 1u);
    }
    for (const uint8_t pointer : {uint8_t{184}, uint8_t{200}, uint8_t{255}}) {
        Harness h;
        const auto a = SectionOfSize(300);
        h.Feed(true, Cat({{0x00}, std::vector<uint8_t>(a.begin(), a.begin() + 183)}));
        h.Feed(true, {pointer});
        EXPECT_EQ(h.assembly.collecting, 0u);
        EXPECT_EQ(h.assembly.buffer.Held(), 0u);
        EXPECT_TRUE(h.delivered.empty());
        // The next good unit start is taken as usual.
        h.Feed(true, Cat({{0x00}, SectionOfSize(20)}));
        EXPECT_EQ(h.delivered.size(), 1u);
    }
    // A pointer that exactly fills the payload is valid: it only ends the previous section.
    Harness h;
    const auto a = SectionOfSize(183 + 183);
    h.Feed(true, Cat({{0x00}, std::vector<uint8_t>(a.begin(), a.begin() + 183)}));
    h.Feed(true, Cat({{183}, std::vector<uint8_t>(a.begin() + 183, a.end())}));
    ASSERT_EQ(h.delivered.size(), 1u);
    EXPECT_EQ(h.delivered[0].bytes, a);
    // An adaptation field that fills the packet leaves no room for the pointer field.
    h.Feed(true, {}, 183);
    EXPECT_EQ(h.assembly.collecting, 0u);
}

TEST(SectionAssembly, SectionsLongerThanTheBufferNeverComplete) {
    Harness h;
    // section_length 4094: 4097 bytes in all, one more than the buffer holds.
    std::vector<uint8_t> huge(4097, 0x01);
    huge[0] = 0x80;
    huge[1] = 0xBF;
    huge[2] = 0xFE;
    h.Feed(true, Cat({{0x00}, std::vector<uint8_t>(huge.begin(), huge.begin() + 183)}));
    for (size_t at = 183; at < huge.size(); at += 184) {
        h.Feed(false, std::vector<uint8_t>(huge.begin() + at,
                                           huge.begin() + std::min(huge.size(), at + 184)));
    }
    EXPECT_TRUE(h.delivered.empty());
    EXPECT_EQ(h.assembly.buffer.Held(), SectionBuffer::kLimit);
}

TEST(VersionTable, RemembersEachSectionVersion) {
    VersionTable table;
    EXPECT_TRUE(table.IsNewVersion(0x7FE3, 0x00, 0, 3));
    EXPECT_FALSE(table.IsNewVersion(0x7FE3, 0x00, 0, 3));
    EXPECT_TRUE(table.IsNewVersion(0x7FE3, 0x00, 1, 3));  // another section of the table
    EXPECT_TRUE(table.IsNewVersion(0x7FE3, 0x00, 0, 4));  // only this one changed
    EXPECT_FALSE(table.IsNewVersion(0x7FE3, 0x00, 1, 3));
    EXPECT_TRUE(table.IsNewVersion(0x7FE3, 0x00, 0, 3));  // any change counts, even back
    table.Clear();
    EXPECT_TRUE(table.IsNewVersion(0x7FE3, 0x00, 1, 3));
}

TEST(SectionBuffer, BehavesAsABoundedFifo) {
    SectionBuffer buffer;
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(buffer.Write(data.data(), 3000), 3000u);
    EXPECT_EQ(buffer.Write(data.data() + 3000, 2000), 1096u);  // cut at the limit
    std::vector<uint8_t> out(4096);
    EXPECT_EQ(buffer.Read(out.data(), 100, true), 100u);
    EXPECT_EQ(buffer.Write(data.data(), 50), 50u);  // room again, at the end
    EXPECT_EQ(buffer.Read(out.data(), 4096, true), 4046u);
    EXPECT_EQ(out[0], 100);
    EXPECT_EQ(out[3995], static_cast<uint8_t>(4095));
    EXPECT_EQ(out[3996], 0);
    EXPECT_EQ(buffer.Held(), 0u);
    EXPECT_EQ(buffer.Crc(10), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace tavrel
