// The generator's writers against bytes written by hand from the standards: packets, sections,
// PES and elementary stream headers, service information, carousel messages and PNG images.
// What the processor reads back from them is checked through the parser tests and the
// simulated multiplex.
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <functional>
#include <stdexcept>
#include <string>

#include "databroadcast/carousel_literals.h"
#include "sim/ddb_writer.h"
#include "sim/dii_writer.h"
#include "sim/eit_writer.h"
#include "sim/elementary_headers.h"
#include "sim/module_builder.h"
#include "sim/nit_writer.h"
#include "sim/packetizer.h"
#include "sim/pes_writer.h"
#include "sim/png_writer.h"
#include "sim/sdt_writer.h"
#include "sim/section_writer.h"
#include "sim/tot_writer.h"
#include "support/crc_reference.h"
#include "ts/event_record.h"

namespace tavrel::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Range(const Bytes& b, size_t from, size_t to) {
    return {b.begin() + static_cast<std::ptrdiff_t>(from),
            b.begin() + static_cast<std::ptrdiff_t>(to)};
}

uint32_t Be32(const Bytes& b, size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

TEST(Packetizer, HeaderAdaptationFieldWithPcrAndLongerUnits) {
    // Only the low four bits of the counter go out.
    const uint8_t payload[3] = {1, 2, 3};
    auto p = MakePacket(
        {.pid = 0x1234, .continuity_counter = 0x1B, .payload_unit_start = true, .scrambling = 2},
        payload, 0xFF);
    ASSERT_EQ(p.size(), 188u);
    // Unit start + PID 0x1234; scrambling 10, payload only, counter 0xB; payload; stuffing.
    EXPECT_EQ(Range(p, 0, 8), (Bytes{0x47, 0x52, 0x34, 0x9B, 1, 2, 3, 0xFF}));

    const PacketSpec fields{
        .pid = 0x100, .adaptation_length = 7, .pcr = true, .pcr_base = 0x1'2345'6789};
    p = MakePacket(fields, {});
    // Adaptation field and payload, length 7, PCR flag; base 0x123456789 then its low bit and
    // the reserved bits.
    EXPECT_EQ(p[3] & 0x30, 0x30);
    EXPECT_EQ(Range(p, 4, 11), (Bytes{7, 0x10, 0x91, 0xA2, 0xB3, 0xC4, 0xFE}));
    EXPECT_THROW(MakePacket(fields, Bytes(180)), std::invalid_argument);

    const auto u192 = ToUnit(p, 192, 0x12345678);
    ASSERT_EQ(u192.size(), 192u);
    // The top two bits of the timestamp prefix are reserved.
    EXPECT_EQ(Range(u192, 0, 5), (Bytes{0x12, 0x34, 0x56, 0x78, 0x47}));
    const auto u204 = ToUnit(p, 204);
    ASSERT_EQ(u204.size(), 204u);
    EXPECT_EQ(Range(u204, 0, 188), p);
}

TEST(Packetizer, PacksSectionsWithAUnitStartWhereverOneBegins) {
    // Sections of 100, 100, 533 and 20 bytes: the first two begin in packet 0, the third in
    // packet 1 after the last 17 bytes of the second. The fourth would begin in the last byte
    // of packet 3, which carries stuffing there instead; it begins packet 4. The counters run
    // from 14 and wrap. (The assembly tests read the bytes back.)
    std::vector<std::vector<uint8_t>> sections;
    for (const size_t body : {88, 88, 521, 8}) {
        sections.push_back(MakeSection({.table_id = 0x80}, std::vector<uint8_t>(body, 0x5A)));
    }
    SectionPacketizer packetizer(0x0100, 14);
    const auto packets = packetizer.PutAll(sections);
    ASSERT_EQ(packets.size(), 5u);
    EXPECT_EQ(packetizer.NextCounter(), 3);
    const int kPointer[] = {0, 17, -1, -1, 0};  // -1: no unit start
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ((packets[i][1] & 0x40) != 0, kPointer[i] >= 0) << i;
        EXPECT_EQ((packets[i][1] & 0x1F) << 8 | packets[i][2], 0x0100);
        EXPECT_EQ(packets[i][3], static_cast<int>(0x10 | ((14 + i) & 0x0F))) << "counter " << i;
        if (kPointer[i] >= 0) {
            EXPECT_EQ(packets[i][4], kPointer[i]) << i;
        }
    }
    EXPECT_EQ(packets[3][187], 0xFF);
    EXPECT_EQ(packets[4][5], 0x80);
}

// Each writer's bytes against the layout of its standard, whole or as far as the layout is
// fixed (the CRC of each long section is checked bit by bit after).
TEST(Writers, BytesMatchTheLayoutsOfTheStandards) {
    const Bytes two = {0xAA, 0xBB};
    Bytes times;
    PutMjdTime(times, {58944, 23 * 3600 + 30 * 60 + 7});
    PutDuration(times, 3600 + 59);
    PutDuration(times, kUndefinedDuration);
    std::array<uint8_t, 5> pts{};
    WritePts(pts, 0x1'2345'6789);
    SdtService s;
    s.service_id = 0x0400;
    s.eit_schedule = s.free_ca = true;
    s.service_descriptor = false;
    s.more_descriptors = {0xC1, 0x01, 0x84};  // digital copy control
    EitEvent e;
    e.event_id = 0x1234;
    e.start = {58944, 19 * 3600};
    e.duration = 1800;
    e.running_status = 4;
    e.short_event = false;
    e.video_component_type = 0xB3;
    const auto eit = EitSection({0x51, 0x0400, 9, 0x18, 0xF8, 0x7FE3, 0x0004, 0x19, 0x57}, {});
    const auto m2v = Mpeg2VideoFrameStart(1440, 1080);
    const auto pes = PesHeader(0xC0, 0x1234, 90000);
    const struct {
        const char* name;
        Bytes written;
        Bytes expected;
        size_t crc_checked_size = 0;  // a long section: its CRC too
    } kCases[] = {
        {"long section: syntax, private and reserved bits, version 5 current",
         MakeSection({.table_id = 0x42,
                      .table_id_extension = 0x7FE3,
                      .version = 5,
                      .private_indicator = true},
                     two),
         {0x42, 0xF0, 0x0B, 0x7F, 0xE3, 0xCB, 0x00, 0x00, 0xAA, 0xBB},
         14},
        {"short section with a CRC",
         MakeShortSection(0x73, two, true),
         {0x73, 0x70, 6, 0xAA, 0xBB},
         9},
        {"short section without", MakeShortSection(0x70, two, false), {0x70, 0x70, 2, 0xAA, 0xBB}},
        {"MJD, BCD time, BCD durations, undefined",
         times,
         {0xE6, 0x40, 0x23, 0x30, 0x07, 0x01, 0x00, 0x59, 0xFF, 0xFF, 0xFF}},
        {"PTS: '0010', bits 32..30, marker; 29..15, marker; 14..0, marker",
         Bytes(pts.begin(), pts.end()),
         {0x29, 0x8D, 0x15, 0xCF, 0x13}},
        {"PES: start code, stream id, length, PTS only, header length 5",
         Range(pes, 0, 9),
         {0x00, 0x00, 0x01, 0xC0, 0x12, 0x34, 0x80, 0x80, 5}},
        {"ADTS: sync, MPEG-4 without CRC; LC, 48 kHz, 2 channels; length 100; VBR",
         Range(AdtsHeader(100), 0, 7),
         {0xFF, 0xF1, 0x4C, 0x80, 0x0C, 0x9F, 0xFC}},
        {"MPEG-2 video: 1440 x 1080, 16:9, 29.97/s; extension: main profile, high level",
         Bytes{m2v[0], m2v[1], m2v[2], m2v[3], m2v[4], m2v[5], m2v[6], m2v[7], m2v[12], m2v[15],
               m2v[16]},
         {0x00, 0x00, 0x01, 0xB3, 0x5A, 0x04, 0x38, 0x34, 0x00, 0xB5, 0x14}},
        {"SDT other, version 3, then one entry",
         Range(SdtSection(false, 0x7FE4, 0x7FE3, 3, {s}), 0, 19),
         {0x46, 0xF0, 0x14, 0x7F, 0xE4, 0xC7, 0x00, 0x00, 0x7F, 0xE3, 0xFF, 0x04, 0x00, 0xE3, 0x90,
          0x03, 0xC1, 0x01, 0x84},
         0},
        {"satellite delivery descriptor",
         SatelliteDeliveryDescriptor({1172748, 1100, true, 1, 9, 288600, 4}),
         {0x43, 0x0B, 0x01, 0x17, 0x27, 0x48, 0x11, 0x00, 0xA9, 0x02, 0x88, 0x60, 0x04}},
        {"EIT event loop entry", EitEventBytes(e), {0x12, 0x34, 0xE6, 0x40, 0x19, 0x00, 0x00,
                                                    0x00, 0x30, 0x00, 0x80, 0x08, 0x50, 0x06,
                                                    0xF1, 0xB3, 0x00, 0x6A, 0x70, 0x6E}},
        {"EIT section header",
         Range(eit, 0, 14),
         {0x51, 0xF0, 0x0F, 0x04, 0x00, 0xD3, 0x18, 0xF8, 0x7F, 0xE3, 0x00, 0x04, 0x19, 0x57}},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(Range(c.written, 0, std::min(c.written.size(), c.expected.size())), c.expected)
            << c.name;
        EXPECT_GE(c.written.size(), c.expected.size()) << c.name;
        if (c.crc_checked_size != 0) {
            EXPECT_EQ(c.written.size(), c.crc_checked_size) << c.name;
            EXPECT_EQ(::tavrel::testing::ReferenceCrc32(c.written), 0u) << c.name;
        }
    }
    EXPECT_EQ(::tavrel::testing::ReferenceCrc32(SdtSection(false, 0x7FE4, 0x7FE3, 3, {s})), 0u);
    EXPECT_EQ(eit.size(), 18u);
    EXPECT_EQ(::tavrel::testing::ReferenceCrc32(eit), 0u);
    WritePts(pts, 90000);
    EXPECT_TRUE(std::equal(pts.begin(), pts.end(), pes.begin() + kPesPtsOffset));
    EXPECT_EQ(pes.size(), kPesHeaderSize);
    EXPECT_EQ(AdtsHeader(100).size(), 14u);

    std::array<uint8_t, 6> field{};
    for (const uint64_t pcr : {uint64_t{0}, uint64_t{299}, uint64_t{300}, uint64_t{27'000'000},
                               ((uint64_t{1} << 33) - 1) * 300 + 299}) {
        WritePcr(field, pcr);
        EXPECT_EQ(ReadPcr(field), pcr);
        EXPECT_EQ(field[4] & 0x7E, 0x7E) << "reserved bits set";
    }
    // NAL types in order: delimiter, SPS, PPS, IDR slice, filler; no start code emulation.
    const auto h264 = H264FrameStart(128, 96);
    std::vector<int> types;
    for (size_t i = 0; i + 3 < h264.size(); ++i) {
        if (h264[i] == 0 && h264[i + 1] == 0 && h264[i + 2] == 1) {
            types.push_back(h264[i + 3] & 0x1F);
        }
    }
    EXPECT_EQ(types, (std::vector<int>{9, 7, 8, 5, 12}));
}

TEST(Writers, RefuseWhatTheirFieldsCannotHold) {
    const std::function<void()> kBad[] = {
        [] { ToBcd(100000000); },
        [] {
            Bytes out;
            PutMjdTime(out, {0x10000, 0});
        },
        [] { AdtsHeader(6); },
        [] { AdtsHeader(0x2000); },
        [] { H264FrameStart(100, 96); },
        [] { PngImage(2, 2, Bytes(11)); },
        [] { PngImage(0, 2, {}); },
    };
    for (const auto& bad : kBad) {
        EXPECT_THROW(bad(), std::invalid_argument);
    }
    EXPECT_EQ(ToBcd(1204000), 0x01204000u);
    EXPECT_EQ(ToBcd(99999999), 0x99999999u);
}

TEST(DiiWriter, WritesTheLiteralDiiAndCountsAdaptationAndBodyInTheLength) {
    Dii dii;
    dii.transaction_id = 0x80000002;
    dii.download_id = 1;
    dii.block_size = 8;
    dii.modules.push_back({3, 20, 1, TypeDescriptor("image/X-arib-png")});
    EXPECT_EQ(DiiSection(dii), testing::kLiteralDii);
    dii.compatibility_descriptor = {0x00, 0x01, 0x01, 0x09, 0x01, 0x00, 0x00,
                                    0x0E, 0x00, 0x01, 0x00, 0x01, 0x00};
    EXPECT_EQ(DiiSection(dii), testing::kLiteralDiiWithCompatibility);
    dii.adaptation = {0x01, 0x02, 0x03, 0x04};
    dii.private_data = {0xEE};
    const auto message = DiiMessage(dii);
    EXPECT_EQ(message[9], 4);  // adaptationLength
    EXPECT_EQ((message[10] << 8) | message[11], static_cast<int>(message.size()) - 12);
    EXPECT_EQ(message.back(), 0xEE);
}

TEST(DdbWriter, CutsTheLiteralModuleIntoTheLiteralBlocksAndFullBlocksFitOneSection) {
    EXPECT_EQ(ModuleDdbSections(1, 3, 1, 8, testing::kLiteralModule),
              (std::vector<std::vector<uint8_t>>{testing::kLiteralDdb0, testing::kLiteralDdb1,
                                                 testing::kLiteralDdb2}));
    const auto sections = ModuleDdbSections(9, 1, 0, 4066, std::vector<uint8_t>(4066 * 2 + 1));
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0].size(), 4096u);  // the largest section there is
    EXPECT_EQ(sections[2][6], 2);          // section_number = block number
    EXPECT_EQ(sections[2][7], 2);          // last_section_number
}

TEST(ModuleBuilder, MultipartBodyLayoutAndCompressedModule) {
    const auto body =
        MultipartBody("B", {{"image/jpeg", "a.jpg", {'J'}}, {"", "", {'x', 'y'}, false}});
    EXPECT_EQ(std::string(body.begin(), body.end()),
              "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
              "--B\r\nContent-Type: image/jpeg\r\nContent-Location: a.jpg\r\n"
              "Content-Length: 1\r\n\r\nJ\r\n"
              "--B\r\n\r\nxy\r\n"
              "--B--\r\n");
    const auto m = MultipartModule(4, 2, "B", {});
    EXPECT_EQ(std::tuple(m.entry.module_id, m.entry.module_version, m.entry.module_size),
              std::tuple(4, 2, m.bytes.size()));
    EXPECT_TRUE(m.entry.module_info.empty());

    // Type descriptor, then 0xC2: compression_type 0, original_size 3000. (The carousel tests
    // inflate the bytes.)
    const auto z = CompressedModule(2, 1, std::vector<uint8_t>(3000, 'q'), "text/X-arib-bml");
    const auto& info = z.entry.module_info;
    ASSERT_EQ(info.size(), 2u + 15 + 7);
    EXPECT_EQ(info[0], 0x01);
    EXPECT_EQ(std::vector<uint8_t>(info.end() - 7, info.end()),
              (std::vector<uint8_t>{0xC2, 0x05, 0x00, 0x00, 0x00, 0x0B, 0xB8}));
}

TEST(PngWriter, SignatureThreeChunksWithTheirCrcsAndRowsThatInflateBack) {
    Bytes rgb;
    for (int i = 0; i < 5 * 2 * 3; ++i) {
        rgb.push_back(static_cast<uint8_t>(i * 7));
    }
    const auto png = PngImage(5, 2, rgb);
    EXPECT_EQ(Range(png, 0, 8), (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    std::vector<std::pair<std::string, Bytes>> chunks;
    size_t pos = 8;
    while (pos + 12 <= png.size()) {
        const uint32_t length = Be32(png, pos);
        // The CRC of type and data, bit by bit: reflected 0xEDB88320, inverted in and out.
        uint32_t crc = 0xFFFFFFFF;
        for (size_t i = pos + 4; i < pos + 8 + length; ++i) {
            crc ^= png[i];
            for (int k = 0; k < 8; ++k) {
                crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
            }
        }
        EXPECT_EQ(Be32(png, pos + 8 + length), ~crc);
        chunks.emplace_back(std::string(png.begin() + pos + 4, png.begin() + pos + 8),
                            Range(png, pos + 8, pos + 8 + length));
        pos += 12 + length;
    }
    EXPECT_EQ(pos, png.size());
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0],
              (std::pair<std::string, Bytes>{"IHDR", {0, 0, 0, 5, 0, 0, 0, 2, 8, 2, 0, 0, 0}}));
    EXPECT_EQ(chunks[1].first, "IDAT");
    EXPECT_EQ(chunks[2], (std::pair<std::string, Bytes>{"IEND", {}}));
    // Each row: filter type None, then its pixels.
    Bytes raw(2 * 16);
    uLongf size = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &size, chunks[1].second.data(), chunks[1].second.size()),
              Z_OK);
    ASSERT_EQ(size, raw.size());
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(raw[y * 16], 0);
        EXPECT_TRUE(
            std::equal(rgb.begin() + y * 15, rgb.begin() + (y + 1) * 15, raw.begin() + y * 16 + 1));
    }
}

}  // namespace
}  // namespace tavrel::sim
