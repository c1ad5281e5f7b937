// The DII and DDB writers against messages written by hand from the standard, and the module
// builders.
#include <gtest/gtest.h>

#include <string>

#include "databroadcast/carousel_literals.h"
#include "sim/ddb_writer.h"
#include "sim/dii_writer.h"
#include "sim/module_builder.h"

namespace tavrel::sim {
namespace {

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

}  // namespace
}  // namespace tavrel::sim
