#pragma once

#include <cstdint>

#include "app/window_state.h"
#include "device/dtv_base.h"

namespace tavrel {

// The channel window's logic: the channel list of the connected device, a change button, and a
// text command for devices that take one. All of it runs on the main thread.
class ChannelWindowCore {
public:
    // device may be null (no tuner); the controls then stay disabled.
    ChannelWindowCore(CDTV_Base* device, int32_t current_channel);

    // Fills the list with the device's channels (when it can select channels), selecting the
    // first and the one with `select_channel`.
    void Fill(int32_t select_channel);
    void Empty() { channels.Clear(); }
    // The enable rule: the channel controls need a capture and channel selection, the text
    // controls a capture and text commands.
    void SetCapturing(bool capturing);
    // "変更": tunes the selected channel; true when the device took it.
    bool Change();
    // "送信": passes the text (cut to 80 characters) to the device; its result, 0 when the
    // device takes no text.
    int Send();

    // The channel tuned last: the one of the settings at first, then each successful change
    // and the device's channel when a capture stops.
    int32_t CurrentChannel() const { return current_channel_; }
    void SetCurrentChannel(int32_t channel) { current_channel_ = channel; }

    ComboBox channels;              // 1038
    Control change{"変更", false};  // 1035
    Control text{"", false};        // 1053
    Control send{"送信", false};    // 1034
    WindowPlace place;

private:
    uint32_t Capabilities() const { return device_ ? device_->GetCapabilities() : 0; }

    CDTV_Base* device_;
    int32_t current_channel_ = 0;
};

}  // namespace tavrel
