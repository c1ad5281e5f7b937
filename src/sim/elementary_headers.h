#pragma once

#include <cstdint>
#include <vector>

namespace tavrel::sim {

// Headers that make the generated elementary streams well-formed for demuxers and probes: they
// announce picture size, frame rate or sample rate, while the rest of each frame is stuffing.

// MPEG-2 video: a sequence header (size, 16:9, 29.97 frames/s), an I-picture header and a
// slice with one empty intra macroblock.
std::vector<uint8_t> Mpeg2VideoFrameStart(uint16_t width, uint16_t height);

// H.264: an access unit delimiter, a baseline sequence parameter set of the given size, a
// picture parameter set, an IDR slice of empty macroblocks and the start of a filler-data NAL
// unit.
std::vector<uint8_t> H264FrameStart(uint16_t width, uint16_t height);

// AAC: an ADTS frame header for `frame_length` bytes (header included), LC, 48 kHz, two
// channels, followed by a silent channel pair: 14 bytes; the rest of the frame is padding.
std::vector<uint8_t> AdtsHeader(uint16_t frame_length);

}  // namespace tavrel::sim
