#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "device/driver_requests.h"
#include "device/usb_device.h"
#include "support/hex.h"

namespace tavrel {
namespace {

using testing::Hex;

// Remembers what the endpoint sent and leaves every request pending.
class RecordingHandle : public UsbDriverHandle {
public:
    bool Request(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t>,
                 uint32_t& returned) override {
        codes.push_back(code);
        sent.assign(in.begin(), in.end());
        returned = 0;
        return true;
    }
    uint32_t Begin(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t> out,
                   Overlapped&) override {
        codes.push_back(code);
        sent.assign(in.begin(), in.end());
        out_size = out.size();
        return kErrorIoPending;
    }
    bool Close() override { return true; }

    std::vector<uint32_t> codes;
    std::vector<uint8_t> sent;
    size_t out_size = 0;
};

std::vector<uint8_t> Descriptor(uint8_t address, uint8_t attributes, uint16_t w_max_packet,
                                uint8_t interval = 0) {
    const auto low = static_cast<uint8_t>(w_max_packet),
               high = static_cast<uint8_t>(w_max_packet >> 8);
    return {7, 5, address, attributes, low, high, interval};
}

std::vector<uint8_t> Header(std::vector<uint8_t> first14, uint32_t iso_offset, uint32_t iso_len,
                            uint32_t data_offset, uint32_t data_len) {
    std::vector<uint8_t> h = std::move(first14);
    h.resize(22, 0);  // statuses
    for (uint32_t v : {iso_offset, iso_len, data_offset, data_len}) {
        for (int i = 0; i < 4; ++i) {
            h.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    return h;
}

TEST(UsbEndpoint, RequestHeadersAreByteExact) {
    struct Case {
        const char* name;
        std::vector<uint8_t> descriptor;  // empty: the control endpoint
        uint32_t driver_version;
        uint32_t length;
        uint32_t code;
        std::vector<uint8_t> header;
        size_t block_size;  // bytes sent with the header
        size_t out_size;
    };
    const std::vector<uint8_t> kControl;  // no descriptor
    // The header's first 14 bytes: the setup packet, the direction byte, the endpoint address.
    const std::vector<Case> cases = {
        {"control: vendor request 0xB5, value 0x1234, index 0x0002, in, 1.5 s", kControl,
         0x01050500, 16, 0x220020, Header(Hex("C0B53412 02001000 01000000 0000"), 0, 0, 38, 16),
         38 + 16, 38 + 16},
        {"direct bulk IN 0x81", Descriptor(0x81, 2, 512), 0x01050500, 0x8000, 0x22004B,
         Header(Hex("00000000 00000000 00000000 0081"), 0, 0, 0, 0), 38, 0x8000},
        {"buffered bulk IN 0x82 on an old driver", Descriptor(0x82, 2, 512), 0x01050400, 512,
         0x220024, Header(Hex("00000000 00000000 00000000 0082"), 0, 0, 38, 512), 38 + 512,
         38 + 512},
        {"direct isochronous IN 0x83, 3 x 1024 bytes per microframe",
         Descriptor(0x83, 1, 0x1400, 1), 0x01050500, 6144, 0x22004B,
         Header(Hex("00000000 00000000 00000000 0083"), 38, 16, 0, 0), 38 + 16, 6144},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingHandle handle;
        auto ep = c.descriptor.empty()
                      ? UsbEndpoint::Control(handle, 64)
                      : std::make_unique<UsbEndpoint>(handle, c.descriptor, c.driver_version);
        if (c.descriptor.empty()) {
            std::tie(ep->type, ep->direction, ep->request, ep->value, ep->index, ep->timeout_ms) =
                std::tuple(2, 1, 0xB5, 0x1234, 2, 1500);
        }
        std::vector<uint8_t> buffer(c.length);
        Overlapped overlapped;
        auto context = ep->BeginTransfer(buffer, overlapped);
        ASSERT_EQ(handle.codes, std::vector<uint32_t>{c.code});
        ASSERT_EQ(handle.sent.size(), c.block_size);
        EXPECT_EQ(std::vector<uint8_t>(handle.sent.begin(), handle.sent.begin() + 38), c.header);
        EXPECT_EQ(handle.out_size, c.out_size);
        EXPECT_EQ(context->begin_error, kErrorIoPending);
        const auto back = ReadSingleTransfer(handle.sent);
        ASSERT_TRUE(back);
        std::vector<uint8_t> again;
        AppendSingleTransfer(again, *back);
        EXPECT_EQ(again, c.header);
    }
}

TEST(UsbEndpoint, PacketSizeCountsExtraTransactionsAndRoundsTransferSize) {
    struct Case {
        uint16_t w_max_packet;
        uint16_t max_packet;
        uint16_t transactions;
        uint32_t sent_size;
    };
    for (const Case& c : {Case{512, 512, 1, 0x8000}, Case{1000, 1000, 1, 33000},
                          Case{0x1400, 3072, 3, 0x8000 + 1024}, Case{64, 64, 1, 0x8000}}) {
        SCOPED_TRACE(c.w_max_packet);
        RecordingHandle handle;
        UsbEndpoint ep(handle, Descriptor(0x81, 2, c.w_max_packet), 0x01050500);
        EXPECT_EQ(ep.max_packet_size, c.max_packet);
        EXPECT_EQ(ep.transactions, c.transactions);
        ASSERT_TRUE(ep.SetTransferSize(0x8000));
        const std::vector<uint8_t> expect{0x81, static_cast<uint8_t>(c.sent_size),
                                          static_cast<uint8_t>(c.sent_size >> 8),
                                          static_cast<uint8_t>(c.sent_size >> 16), 0};
        EXPECT_EQ(handle.codes, std::vector<uint32_t>{0x220038});
        EXPECT_EQ(handle.sent, expect);
    }
}

TEST(UsbEndpoint, EachTransferIsJudgedByItsOwnBegin) {
    // A later failed begin must not make an earlier pending transfer look failed.
    class Mixed : public RecordingHandle {
    public:
        uint32_t Begin(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t> out,
                       Overlapped& o) override {
            RecordingHandle::Begin(code, in, out, o);
            return ++calls == 1 ? kErrorIoPending : kErrorDeviceNotConnected;
        }
        int calls = 0;
    } handle;
    UsbEndpoint ep(handle, Descriptor(0x81, 2, 512), 0x01050500);
    std::vector<uint8_t> a(512), b(512);
    Overlapped oa, ob;
    auto first = ep.BeginTransfer(a, oa);
    auto second = ep.BeginTransfer(b, ob);
    EXPECT_EQ(ep.last_error, kErrorDeviceNotConnected);
    oa.Complete(100, true);
    EXPECT_TRUE(ep.WaitTransfer(*first, oa, 0));
    EXPECT_FALSE(ep.WaitTransfer(*second, ob, 0));
    uint32_t length = 0;
    EXPECT_TRUE(ep.FinishTransfer(a, length, oa, std::move(first)));
    EXPECT_EQ(length, 100u);
    EXPECT_FALSE(ep.FinishTransfer(b, length, ob, std::move(second)));
    EXPECT_EQ(length, 0u);
}

}  // namespace
}  // namespace tavrel
