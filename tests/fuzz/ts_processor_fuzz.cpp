// Arbitrary bytes into the stream processor with every decoding switch on. The first byte
// chooses the switches and the block sizes, so the fuzzer also explores how the stream is cut.
#include <cstddef>
#include <cstdint>

#include "ts/ts_processor.h"

namespace {

void Sink(uint32_t type, uint32_t, const void* data, uint32_t length, void*) {
    // Touch what the processor hands out so ASan sees any stale or short buffer.
    if (type == tavrel::kEventPacket && data != nullptr && length > 0) {
        volatile uint8_t last = static_cast<const uint8_t*>(data)[length - 1];
        (void)last;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t control = data[0];
    ++data;
    --size;

    tavrel::CTsProcessor processor;
    processor.decode_tables = 1;
    processor.data_broadcast = (control & 1) ? 0 : 1;
    processor.program_guide = (control & 2) ? 0 : 1;
    processor.keep_null_packets = (control >> 2) & 1;
    processor.SetOutputCallback(&Sink, nullptr);
    processor.AddOutput(1);
    if (control & 8) {
        const uint16_t programs[] = {0x0400, 0x0401};
        const uint16_t pids[] = {0x0111, 0x01F1};
        processor.SetOutputFilter(0, (control >> 4) & 1, programs, 2, pids, 2);
        processor.SetOutputFilter(1, 0, programs, 1, nullptr, 0);
    }
    tavrel::StreamStats stats;
    const size_t block = (control & 0x20) ? 0x8000 : 1 + (control >> 6) * 97;
    for (size_t pos = 0; pos < size; pos += block) {
        const size_t n = size - pos < block ? size - pos : block;
        processor.Input(static_cast<uint32_t>(n), stats, data + pos);
    }
    processor.Finish(stats);
    return 0;
}
