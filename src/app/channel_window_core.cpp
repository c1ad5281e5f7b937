#include "app/channel_window_core.h"

#include <algorithm>
#include <string>

namespace tavrel {

ChannelWindowCore::ChannelWindowCore(CDTV_Base* device, int32_t current_channel)
    : device_(device), current_channel_(current_channel) {
    channels.enabled = false;
}

void ChannelWindowCore::Fill(int32_t select_channel) {
    channels.Clear();
    if ((Capabilities() & kCapabilityChannel) == 0) {
        return;
    }
    const int count = device_->GetChannelCount();
    for (int i = 0; i < count; ++i) {
        char name[128] = {};
        const int id = device_->GetChannelName(i, name, sizeof name);
        if (id == -1) {
            continue;
        }
        channels.Add(name, static_cast<uint32_t>(id));
        if (i == 0 || id == select_channel) {
            channels.selected = static_cast<int>(channels.entries.size()) - 1;
        }
    }
}

void ChannelWindowCore::SetCapturing(bool capturing) {
    const uint32_t caps = capturing ? Capabilities() : 0;
    channels.enabled = change.enabled = (caps & kCapabilityChannel) != 0;
    text.enabled = send.enabled = (caps & kCapabilityText) != 0;
}

bool ChannelWindowCore::Change() {
    const auto id = channels.SelectedData();
    if ((Capabilities() & kCapabilityChannel) == 0 || !id) {
        return false;
    }
    if (!device_->SetChannel(static_cast<int>(*id))) {
        return false;
    }
    current_channel_ = static_cast<int32_t>(*id);
    return true;
}

int ChannelWindowCore::Send() {
    if ((Capabilities() & kCapabilityText) == 0) {
        return 0;
    }
    // At most 80 bytes, never ending inside a character.
    size_t length = std::min<size_t>(text.text.size(), 80);
    while (length > 0 && length < text.text.size() &&
           (static_cast<unsigned char>(text.text[length]) & 0xC0) == 0x80) {
        --length;
    }
    return device_->SendText(text.text.substr(0, length).c_str());
}

}  // namespace tavrel
