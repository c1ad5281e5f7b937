#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrel {

// Requests of the generic FX2 kernel driver.
namespace ioctl {
inline constexpr uint32_t kDriverVersion = 0x220000;     // out u32
inline constexpr uint32_t kUsbdiVersion = 0x220004;      // out u32
inline constexpr uint32_t kAlternateSetting = 0x220008;  // out u8
inline constexpr uint32_t kDeviceAddress = 0x220010;     // out u8
inline constexpr uint32_t kControlTransfer = 0x220020;   // header + data, both ways
inline constexpr uint32_t kBufferedTransfer = 0x220024;  // header + data, both ways
inline constexpr uint32_t kSetTransferSize = 0x220038;   // in: endpoint u8, size u32
inline constexpr uint32_t kDeviceName = 0x22003C;        // out 256 bytes
inline constexpr uint32_t kFriendlyName = 0x220040;      // out 256 bytes
inline constexpr uint32_t kAbortPipe = 0x220044;         // in: endpoint u8
inline constexpr uint32_t kDirectTransfer = 0x22004B;    // in header, out caller's buffer
inline constexpr uint32_t kSpeed = 0x22004C;             // out u32, 2 = high speed
}  // namespace ioctl

// Driver versions from this one on take direct transfers; older ones only buffered ones.
inline constexpr uint32_t kDirectTransferDriverVersion = 0x01050500;

// The 38-byte little-endian header in front of every transfer request.
struct SingleTransfer {
    static constexpr size_t kSize = 38;

    uint8_t request_type = 0;  // recipient bits 0-4, type bits 5-6, direction bit 7
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    uint32_t timeout_s = 0;
    uint8_t reserved = 0;
    uint8_t endpoint = 0;
    uint32_t driver_status = 0;
    uint32_t usb_status = 0;
    uint32_t iso_table_offset = 0;
    uint32_t iso_table_length = 0;
    uint32_t data_offset = 0;
    uint32_t data_length = 0;

    friend bool operator==(const SingleTransfer&, const SingleTransfer&) = default;
};

// Appends the header's 38 bytes.
void AppendSingleTransfer(std::vector<uint8_t>& out, const SingleTransfer& header);
// Overwrites the first 38 bytes of `block` (which must hold them).
void WriteSingleTransfer(std::span<uint8_t> block, const SingleTransfer& header);
// None when fewer than 38 bytes are given.
std::optional<SingleTransfer> ReadSingleTransfer(std::span<const uint8_t> bytes);

// A driver's answers to value requests: a little-endian value of `size` bytes, or a
// NUL-terminated text cut to fit; both return the bytes written into `out`.
uint32_t PutReplyValue(std::span<uint8_t> out, uint32_t value, size_t size);
uint32_t PutReplyText(std::span<uint8_t> out, const std::string& text);

}  // namespace tavrel
