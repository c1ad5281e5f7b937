// Decodes arbitrary bytes as broadcast text into a heap buffer of exactly the destination
// size, so that AddressSanitizer sees any write past it, and checks the result is a text
// that ends within the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>

#include "platform/text_encoding.h"
#include "ts/arib_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t destination_size = data[0] % 200 + 1;  // 1 to 200
    const std::span<const uint8_t> source(data + 1, size - 1);
    auto destination = std::make_unique<char[]>(destination_size);
    const size_t length =
        tavrel::DecodeAribText(source, std::span<char>(destination.get(), destination_size));
    if (length >= destination_size || destination[length] != '\0') {
        std::abort();
    }
    // Whatever the decoder wrote must convert without harm, however odd its bytes.
    tavrel::ShiftJisToUtf8(std::string_view(destination.get(), length));
    return 0;
}
