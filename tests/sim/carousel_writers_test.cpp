// The DII and DDB writers against messages written by hand from the standard, and the module
// builders.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "databroadcast/carousel_literals.h"
#include "sim/ddb_writer.h"
#include "sim/dii_writer.h"
#include "sim/module_builder.h"
#include "support/crc_reference.h"

namespace tavrel::sim {
namespace {

Dii LiteralDii() {
    Dii dii;
    dii.transaction_id = 0x80000002;
    dii.download_id = 1;
    dii.block_size = 8;
    dii.modules.push_back({3, 20, 1, TypeDescriptor("image/X-arib-png")});
    return dii;
}

TEST(DiiWriter, WritesTheLiteralDii) {
    EXPECT_EQ(DiiSection(LiteralDii()), testing::kLiteralDii);
    Dii with = LiteralDii();
    with.compatibility_descriptor = {0x00, 0x01, 0x01, 0x09, 0x01, 0x00, 0x00,
                                     0x0E, 0x00, 0x01, 0x00, 0x01, 0x00};
    EXPECT_EQ(DiiSection(with), testing::kLiteralDiiWithCompatibility);
    EXPECT_EQ(testing::ReferenceCrc32(testing::kLiteralDii), 0u);
}

TEST(DiiWriter, MessageLengthCountsAdaptationAndBody) {
    Dii dii = LiteralDii();
    dii.adaptation = {0x01, 0x02, 0x03, 0x04};
    dii.private_data = {0xEE};
    const auto message = DiiMessage(dii);
    EXPECT_EQ(message[9], 4);  // adaptationLength
    EXPECT_EQ((message[10] << 8) | message[11], static_cast<int>(message.size()) - 12);
    EXPECT_EQ(message.back(), 0xEE);
}

TEST(DdbWriter, CutsTheLiteralModuleIntoTheLiteralBlocks) {
    const auto sections = ModuleDdbSections(1, 3, 1, 8, testing::kLiteralModule);
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0], testing::kLiteralDdb0);
    EXPECT_EQ(sections[1], testing::kLiteralDdb1);
    EXPECT_EQ(sections[2], testing::kLiteralDdb2);
    for (const auto& s : sections) {
        EXPECT_EQ(testing::ReferenceCrc32(s), 0u);
    }
}

TEST(DdbWriter, FullSizedBlocksFitOneSection) {
    const std::vector<uint8_t> module(4066 * 2 + 1, 0x5A);
    const auto sections = ModuleDdbSections(9, 1, 0, 4066, module);
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0].size(), 4096u);  // the largest section there is
    EXPECT_EQ(sections[2][6], 2);          // section_number = block number
    EXPECT_EQ(sections[2][7], 2);          // last_section_number
}

TEST(ModuleBuilder, MultipartBodyLayout) {
    const auto body =
        MultipartBody("B", {{"image/jpeg", "a.jpg", {'J'}}, {"", "", {'x', 'y'}, false}});
    EXPECT_EQ(std::string(body.begin(), body.end()),
              "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
              "--B\r\nContent-Type: image/jpeg\r\nContent-Location: a.jpg\r\n"
              "Content-Length: 1\r\n\r\nJ\r\n"
              "--B\r\n\r\nxy\r\n"
              "--B--\r\n");
    const auto m = MultipartModule(4, 2, "B", {});
    EXPECT_EQ(m.entry.module_id, 4);
    EXPECT_EQ(m.entry.module_version, 2);
    EXPECT_EQ(m.entry.module_size, m.bytes.size());
    EXPECT_TRUE(m.entry.module_info.empty());
}

TEST(ModuleBuilder, CompressedModuleInflatesBackAndStatesItsSize) {
    const std::string text(3000, 'q');
    const std::vector<uint8_t> content(text.begin(), text.end());
    const auto m = CompressedModule(2, 1, content, "text/X-arib-bml");
    EXPECT_LT(m.bytes.size(), content.size());
    std::vector<uint8_t> back(content.size());
    uLongf size = static_cast<uLongf>(back.size());
    ASSERT_EQ(uncompress(back.data(), &size, m.bytes.data(), static_cast<uLong>(m.bytes.size())),
              Z_OK);
    EXPECT_EQ(back, content);
    // Type descriptor, then 0xC2: compression_type 0, original_size 3000.
    const auto& info = m.entry.module_info;
    ASSERT_EQ(info.size(), 2u + 15 + 7);
    EXPECT_EQ(info[0], 0x01);
    const std::vector<uint8_t> compression(info.end() - 7, info.end());
    EXPECT_EQ(compression, (std::vector<uint8_t>{0xC2, 0x05, 0x00, 0x00, 0x00, 0x0B, 0xB8}));
}

}  // namespace
}  // namespace tavrel::sim
