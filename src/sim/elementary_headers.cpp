#include "sim/elementary_headers.h"

#include <stdexcept>

namespace tavrel::sim {
namespace {

// Writes bits MSB first, with the exp-Golomb codes of H.264.
class BitWriter {
public:
    void Bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            Bit((value >> i) & 1);
        }
    }
    void Bit(uint32_t bit) {
        current_ = static_cast<uint8_t>(current_ << 1 | (bit & 1));
        if (++filled_ == 8) {
            bytes_.push_back(current_);
            current_ = 0;
            filled_ = 0;
        }
    }
    void Ue(uint32_t value) {
        const uint32_t coded = value + 1;
        int length = 0;
        while ((coded >> length) > 1) {
            ++length;
        }
        Bits(0, length);
        Bits(coded, length + 1);
    }
    void Se(int32_t value) { Ue(value > 0 ? 2 * value - 1 : -2 * value); }
    // What was written, which must end on a byte boundary.
    std::vector<uint8_t> Aligned() const {
        if (filled_ != 0) {
            throw std::logic_error("bit string does not end on a byte boundary");
        }
        return bytes_;
    }
    // rbsp_stop_one_bit and alignment.
    std::vector<uint8_t> Finish() {
        Bit(1);
        while (filled_ != 0) {
            Bit(0);
        }
        return bytes_;
    }

private:
    std::vector<uint8_t> bytes_;
    uint8_t current_ = 0;
    int filled_ = 0;
};

// A NAL unit with start code; emulation prevention keeps 00 00 0x out of the payload.
void AppendNal(std::vector<uint8_t>& out, uint8_t header, const std::vector<uint8_t>& rbsp) {
    out.insert(out.end(), {0x00, 0x00, 0x00, 0x01, header});
    int zeros = 0;
    for (const uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(0x03);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
}

}  // namespace

std::vector<uint8_t> Mpeg2VideoFrameStart(uint16_t width, uint16_t height) {
    BitWriter w;
    w.Bits(0x000001B3, 32);
    w.Bits(width, 12);
    w.Bits(height, 12);
    w.Bits(3, 4);                // aspect ratio 16:9
    w.Bits(4, 4);                // 30000/1001 frames per second
    w.Bits(20000000 / 400, 18);  // bit rate in units of 400 bit/s
    w.Bit(1);                    // marker
    w.Bits(597, 10);             // vbv buffer size
    w.Bits(0, 3);                // constrained, no quantiser matrices
    w.Bits(0x000001B5, 32);      // sequence extension: main profile at high level, 4:2:0
    w.Bits(1, 4);
    w.Bits(0x44, 8);
    w.Bit(0);                // interlaced
    w.Bits(1, 2);            // 4:2:0
    w.Bits(0, 4);            // no size extension
    w.Bits(0, 12);           // no bit rate extension
    w.Bit(1);                // marker
    w.Bits(0, 8);            // no vbv extension
    w.Bit(0);                // not low delay
    w.Bits(0, 7);            // no frame rate extension
    w.Bits(0x00000100, 32);  // picture header
    w.Bits(0, 10);           // temporal reference
    w.Bits(1, 3);            // I picture
    w.Bits(0xFFFF, 16);      // vbv delay
    w.Bit(0);                // no extra information
    w.Bits(0, 2);            // alignment
    w.Bits(0x000001B5, 32);  // picture coding extension
    w.Bits(8, 4);
    w.Bits(0xFFFF, 16);  // no motion vectors in an I picture
    w.Bits(0, 2);        // 8-bit DC precision
    w.Bits(3, 2);        // frame picture
    w.Bit(1);            // top field first
    w.Bit(1);            // frame prediction and frame DCT only
    w.Bits(0, 5);        // no concealment vectors, linear q scale, table B.14, zigzag, no repeat
    w.Bit(1);            // chroma 4:2:0 type
    w.Bit(0);            // interlaced frame
    w.Bit(0);            // no composite display information
    w.Bits(0, 6);        // alignment
    // One slice with one intra macroblock whose blocks hold nothing: enough for a decoder
    // to take the picture's size; it conceals the rest.
    w.Bits(0x00000101, 32);  // slice start code, first row
    w.Bits(8, 5);            // quantiser scale
    w.Bit(0);                // no extra slice information
    w.Bit(1);                // macroblock address increment 1
    w.Bit(1);                // intra macroblock
    for (int block = 0; block < 4; ++block) {
        w.Bits(0b100, 3);  // luminance DC size 0
        w.Bits(0b10, 2);   // end of block
    }
    for (int block = 0; block < 2; ++block) {
        w.Bits(0b00, 2);  // chrominance DC size 0
        w.Bits(0b10, 2);  // end of block
    }
    w.Bits(0, 4);  // alignment
    return w.Aligned();
}

std::vector<uint8_t> H264FrameStart(uint16_t width, uint16_t height) {
    if (width % 16 != 0 || height % 16 != 0) {
        throw std::invalid_argument("H.264 picture size must be whole macroblocks");
    }
    std::vector<uint8_t> out;
    AppendNal(out, 0x09, {0xF0});  // access unit delimiter: any picture type

    BitWriter sps;
    sps.Bits(66, 8);    // baseline profile
    sps.Bits(0xC0, 8);  // constraint_set0 and set1
    sps.Bits(30, 8);    // level 3.0
    sps.Ue(0);          // seq_parameter_set_id
    sps.Ue(0);          // log2_max_frame_num_minus4
    sps.Ue(2);          // pic_order_cnt_type
    sps.Ue(1);          // max_num_ref_frames
    sps.Bit(0);         // gaps_in_frame_num_value_allowed_flag
    sps.Ue(width / 16 - 1);
    sps.Ue(height / 16 - 1);
    sps.Bit(1);  // frame_mbs_only_flag
    sps.Bit(1);  // direct_8x8_inference_flag
    sps.Bit(0);  // frame_cropping_flag
    sps.Bit(0);  // vui_parameters_present_flag
    AppendNal(out, 0x67, sps.Finish());

    BitWriter pps;
    pps.Ue(0);       // pic_parameter_set_id
    pps.Ue(0);       // seq_parameter_set_id
    pps.Bit(0);      // entropy_coding_mode_flag
    pps.Bit(0);      // bottom_field_pic_order_in_frame_present_flag
    pps.Ue(0);       // num_slice_groups_minus1
    pps.Ue(0);       // num_ref_idx_l0_default_active_minus1
    pps.Ue(0);       // num_ref_idx_l1_default_active_minus1
    pps.Bit(0);      // weighted_pred_flag
    pps.Bits(0, 2);  // weighted_bipred_idc
    pps.Se(0);       // pic_init_qp_minus26
    pps.Se(0);       // pic_init_qs_minus26
    pps.Se(0);       // chroma_qp_index_offset
    pps.Bit(1);      // deblocking_filter_control_present_flag
    pps.Bit(0);      // constrained_intra_pred_flag
    pps.Bit(0);      // redundant_pic_cnt_present_flag
    AppendNal(out, 0x68, pps.Finish());

    // An IDR slice of intra 16x16 macroblocks with DC prediction and no coefficients.
    BitWriter slice;
    slice.Ue(0);       // first_mb_in_slice
    slice.Ue(7);       // slice_type: I, all slices
    slice.Ue(0);       // pic_parameter_set_id
    slice.Bits(0, 4);  // frame_num
    slice.Ue(0);       // idr_pic_id
    slice.Bit(0);      // no_output_of_prior_pics_flag
    slice.Bit(0);      // long_term_reference_flag
    slice.Se(0);       // slice_qp_delta
    slice.Ue(1);       // disable_deblocking_filter_idc
    for (int mb = 0; mb < (width / 16) * (height / 16); ++mb) {
        slice.Ue(3);   // I_16x16, DC prediction, no coded blocks
        slice.Ue(0);   // intra_chroma_pred_mode: DC
        slice.Se(0);   // mb_qp_delta
        slice.Bit(1);  // DC levels: coeff_token for no coefficients
    }
    AppendNal(out, 0x65, slice.Finish());

    out.insert(out.end(), {0x00, 0x00, 0x00, 0x01, 0x0C});  // filler data follows
    return out;
}

std::vector<uint8_t> AdtsHeader(uint16_t frame_length) {
    if (frame_length < 7 || frame_length > 0x1FFF) {
        throw std::invalid_argument("ADTS frame length out of range");
    }
    BitWriter w;
    w.Bits(0xFFF, 12);  // syncword
    w.Bit(0);           // MPEG-4
    w.Bits(0, 2);       // layer
    w.Bit(1);           // protection absent
    w.Bits(1, 2);       // profile: AAC LC
    w.Bits(3, 4);       // 48 kHz
    w.Bit(0);           // private
    w.Bits(2, 3);       // two channels
    w.Bits(0, 4);       // original, home, copyright bits
    w.Bits(frame_length, 13);
    w.Bits(0x7FF, 11);  // variable bit rate
    w.Bits(0, 2);       // one raw data block
    // A silent channel pair: two channel streams with no scale factor bands, then the end.
    w.Bits(1, 3);  // channel pair element
    w.Bits(0, 4);  // element instance tag
    w.Bit(0);      // no common window
    for (int channel = 0; channel < 2; ++channel) {
        w.Bits(100, 8);  // global gain
        w.Bit(0);        // ics_reserved_bit
        w.Bits(0, 2);    // only long window
        w.Bit(0);        // window shape
        w.Bits(0, 6);    // max_sfb 0: no bands, no spectral data
        w.Bit(0);        // no prediction
        w.Bits(0, 3);    // no pulse, TNS or gain control data
    }
    w.Bits(7, 3);  // end
    w.Bit(0);      // alignment
    return w.Aligned();
}

}  // namespace tavrel::sim
