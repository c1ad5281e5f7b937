#pragma once

// Pieces shared by the DII and DDB parsers of the carousel store.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ts/byte_reader.h"

namespace tavrel {

inline constexpr uint8_t kDsmccProtocolDiscriminator = 0x11;
inline constexpr uint8_t kDsmccTypeDownload = 0x03;
inline constexpr uint16_t kMessageIdDii = 0x1002;
inline constexpr uint16_t kMessageIdDdb = 0x1003;

// The DSM-CC message header (ISO/IEC 13818-6) that both download messages start with.
struct DsmccMessageHeader {
    uint8_t protocol_discriminator = 0;
    uint8_t dsmcc_type = 0;
    uint16_t message_id = 0;
    uint32_t transaction_or_download_id = 0;  // transactionId (DII) or downloadId (DDB)
    uint8_t adaptation_length = 0;
    uint16_t message_length = 0;

    bool Is(uint16_t expected_message_id) const {
        return protocol_discriminator == kDsmccProtocolDiscriminator &&
               dsmcc_type == kDsmccTypeDownload && message_id == expected_message_id;
    }
};

// Reads the 12 header bytes and skips the adaptation header behind them; the reader fails
// when the message is shorter.
inline DsmccMessageHeader ReadDsmccMessageHeader(ByteReader& reader) {
    DsmccMessageHeader h;
    h.protocol_discriminator = reader.U8();
    h.dsmcc_type = reader.U8();
    h.message_id = reader.U16();
    h.transaction_or_download_id = reader.U32();
    reader.Skip(1);  // reserved
    h.adaptation_length = reader.U8();
    h.message_length = reader.U16();
    reader.Skip(h.adaptation_length);
    return h;
}

// A block of n bytes, left uninitialised, or null when memory is short. Broadcast sizes reach
// tens of megabytes, so failure is an expected outcome the callers handle, not an exception.
std::unique_ptr<uint8_t[]> TryAllocate(size_t n);

}  // namespace tavrel
