#pragma once

// Download messages written by hand from ISO/IEC 13818-6 (DSM-CC download) and ARIB STD-B24
// (data carousel), in long-form sections; the CRC_32 of each was computed bit by bit
// independently of our code.
#include <cstdint>
#include <vector>

#include "support/hex.h"

namespace tavrel::testing {

// The module the messages below carry: 20 bytes, the start of a PNG file (signature, IHDR
// length and type, first width bytes).
inline const std::vector<uint8_t> kLiteralModule =
    Hex("89504E47 0D0A1A0A 0000000D 49484452 00000001");

// DII, table 0x3B, table_id_extension 0x0002, version 0. Message: protocolDiscriminator 0x11,
// dsmccType 0x03, messageId 0x1002, transactionId 0x80000002, reserved 0xFF,
// adaptationLength 0, messageLength 48. Body: downloadId 1, blockSize 8, windowSize 0,
// ackPeriod 0, tCDownloadWindow 0, tCDownloadScenario 0, compatibilityDescriptorLength 0,
// numberOfModules 1: moduleId 0x0003, moduleSize 20, moduleVersion 1, moduleInfoLength 18
// holding a Type descriptor (0x01, 16) "image/X-arib-png"; privateDataLength 0.
// CRC_32 0x4AB9FEC9.
inline const std::vector<uint8_t> kLiteralDii =
    Hex("3BB04500 02C10000 11031002 80000002 FF000030 00000001 00080000 00000000"
        "00000000 00000001 00030000 00140112 0110696D 6167652F 582D6172 69622D70"
        "6E670000 4AB9FEC9");

// The same DII with a 13-byte compatibilityDescriptor: descriptorCount 1; descriptorType 0x01
// (system hardware), descriptorLength 9, specifierType 0x01, specifierData 0x00000E, model 1,
// version 1, subDescriptorCount 0. messageLength 61. CRC_32 0x4EE34E8A.
inline const std::vector<uint8_t> kLiteralDiiWithCompatibility =
    Hex("3BB05200 02C10000 11031002 80000002 FF00003D 00000001 00080000 00000000"
        "00000000 000D0001 01090100 000E0001 00010000 01000300 00001401 12011069"
        "6D616765 2F582D61 7269622D 706E6700 004EE34E 8A");

// DDBs, table 0x3C, table_id_extension = moduleId 0x0003, version 1, section_number = block
// number, last_section_number 2. Message: messageId 0x1003, downloadId 1, reserved 0xFF,
// adaptationLength 0, messageLength 6 + block; moduleId 3, moduleVersion 1, reserved 0xFF,
// blockNumber, then the block.
// Block 0: bytes 0 to 7 of the module. CRC_32 0x017930DF.
inline const std::vector<uint8_t> kLiteralDdb0 =
    Hex("3CB02300 03C30002 11031003 00000001 FF00000E 000301FF 00008950 4E470D0A"
        "1A0A0179 30DF");
// Block 1: bytes 8 to 15. CRC_32 0x48B9CAAA.
inline const std::vector<uint8_t> kLiteralDdb1 =
    Hex("3CB02300 03C30102 11031003 00000001 FF00000E 000301FF 00010000 000D4948"
        "445248B9 CAAA");
// Block 2: bytes 16 to 19, the short last block. CRC_32 0x11B735C1.
inline const std::vector<uint8_t> kLiteralDdb2 =
    Hex("3CB01F00 03C30202 11031003 00000001 FF00000A 000301FF 00020000 000111B7"
        "35C1");

}  // namespace tavrel::testing
