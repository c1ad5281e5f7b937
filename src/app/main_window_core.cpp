// The main window's own logic: initialisation, device search, endpoint lists, the close rule,
// the window toggles and the options command.
#include <cstdio>

#include "app/capture_app.h"
#include "device/dtv_ezusbfx2.h"

namespace tavrel {
namespace {

constexpr std::string_view kCaption = "tavrel";
constexpr int kDeviceNameLength = 80;

bool Unplaced(int32_t x, int32_t y) {
    return x < -29999 || y < -29999;
}

// A child window's place from the settings; one never placed gets 0, 0 and its default place.
WindowPlace ChildPlace(int32_t show, int32_t& x, int32_t& y, int32_t width, int32_t height) {
    WindowPlace place;
    place.visible = show != 0;
    place.width = width;
    place.height = height;
    if (Unplaced(x, y)) {
        x = y = 0;
    } else {
        place.placed = true;
    }
    place.x = x;
    place.y = y;
    return place;
}

template <class Port>
void ToggleVisible(Port& port) {
    WindowPlace place = port.Place();
    place.visible = !place.visible;
    port.SetPlace(place);
}

}  // namespace

CaptureApp::CaptureApp(Settings settings, AppEnvironment env)
    : clock_(env.clock),
      ui_thread_(env.ui_thread),
      ui_(env.ui),
      timer_(env.timer),
      settings_(std::move(settings)),
      alive_(std::make_shared<CaptureApp*>(this)),
      rate_tick_(env.clock.TickCount()),
      refresh_tick_(env.clock.TickCount()) {
    channel_ = std::make_unique<ChannelWindowCore>(nullptr, settings_.last_channel);
}

CaptureApp::~CaptureApp() {
    if (capturing_) {
        Stop();
    }
    StopRecording();
    StopSending();
    *alive_ = nullptr;
    if (device_) {
        device_->Close();
    }
}

bool CaptureApp::Initialise(std::unique_ptr<CDTV_Base> device, ServiceWindowPort* service,
                            ReservationPort* reservations) {
    ScopedLock lock(app_lock_);
    device_ = std::move(device);
    if (service != nullptr) {
        service_ = service;
    }
    if (reservations != nullptr) {
        reservations_ = reservations;
    }
    channel_ = std::make_unique<ChannelWindowCore>(device_.get(), settings_.last_channel);
    if (!device_ || !device_->Open("", this, nullptr)) {
        return false;
    }

    window_.place.placed = !Unplaced(settings_.pos_x, settings_.pos_y);
    window_.place.x = settings_.pos_x;
    window_.place.y = settings_.pos_y;
    window_.place.visible = true;

    window_.firmware_init.checked = settings_.hv_kelvra_init != 0;
    window_.stop_timer.text = std::to_string(settings_.rec_time);
    window_.address.text = settings_.network_address;
    window_.port.text = std::to_string(settings_.network_port);
    window_.packet_size.text = std::to_string(settings_.network_send_size);
    window_.status_bar = {" ", " ", " "};

    channel_->place =
        ChildPlace(settings_.chwnd_show, settings_.chwnd_pos_x, settings_.chwnd_pos_y, 0, 0);
    service_->SetPlace(ChildPlace(settings_.filtwnd_show, settings_.filtwnd_pos_x,
                                  settings_.filtwnd_pos_y, settings_.filtwnd_size_x,
                                  settings_.filtwnd_size_y));
    reservations_->SetPlace(ChildPlace(settings_.schedule_show, settings_.schedule_pos_x,
                                       settings_.schedule_pos_y, settings_.schedule_size_x,
                                       settings_.schedule_size_y));
    reservations_->SetAutoPath(settings_.rec_autopath);

    SearchDevices();
    return true;
}

void CaptureApp::SearchDevices() {
    ScopedLock lock(app_lock_);
    window_.device.Clear();
    const int count = device_ ? device_->GetDeviceCount() : 0;
    if (count <= 0) {
        window_.device.enabled = false;
        window_.connect.enabled = false;
        window_.endpoint_in.enabled = false;
        window_.endpoint_out.enabled = false;
        // Nothing left to choose from: the lists of a device that went away go with it.
        window_.endpoint_in.Clear();
        window_.endpoint_out.Clear();
    } else {
        for (int i = 0; i < count; ++i) {
            char name[kDeviceNameLength + 1] = {};
            device_->GetDeviceName(i, name, sizeof name);
            window_.device.Add(name, static_cast<uint32_t>(i));
        }
        window_.device.selected = 0;
        window_.device.enabled = true;
        window_.connect.enabled = true;
    }
    window_.record.enabled = false;
    window_.send.enabled = false;
    StopRecording();
    StopSending();
    PostToUi([](CaptureApp& app) { app.service_->SwitchFilterOff(); });
    RunStatusDisplay();
    if (count > 0) {
        FillEndpointLists();
    }
    if (!DeviceTakesFirmwareInit()) {
        window_.firmware_init.enabled = false;
        window_.firmware_init.visible = false;
    }
}

void CaptureApp::OnDeviceSelected(int index) {
    ScopedLock lock(app_lock_);
    window_.device.selected = index;
    FillEndpointLists();
}

void CaptureApp::FillEndpointLists() {
    const int index = window_.device.selected;
    if (index < 0 || !device_) {
        return;
    }
    ComboBox& in = window_.endpoint_in;
    ComboBox& out = window_.endpoint_out;
    in.Clear();
    out.Clear();
    out.Add("なし", kNoEndpoint);
    const int count = device_->GetEndpointCount(index);
    for (int e = 0; e < count; ++e) {
        EndpointInfo info;
        if (!device_->GetEndpointInfo(index, e, info) || (info.attributes & 3) != 2) {
            continue;
        }
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", info.address);
        ((info.address & 0x80) != 0 ? in : out).Add(text, info.address);
    }
    in.selected = static_cast<int>(in.entries.size()) - 1;
    out.selected = static_cast<int>(out.entries.size()) - 1;
    in.SelectData(static_cast<uint32_t>(settings_.last_ep_in));
    out.SelectData(static_cast<uint32_t>(settings_.last_ep_out));
    in.enabled = !in.entries.empty();
    out.enabled = true;
}

void CaptureApp::SetDeviceControlsEnabled(bool enabled) {
    window_.device.enabled = enabled;
    window_.research.enabled = enabled;
    window_.endpoint_in.enabled = enabled && !window_.endpoint_in.entries.empty();
    window_.endpoint_out.enabled = enabled;
    // The box stays hidden and disabled for devices without firmware init.
    window_.firmware_init.enabled = enabled && DeviceTakesFirmwareInit();
}

bool CaptureApp::DeviceTakesFirmwareInit() const {
    return dynamic_cast<const CDTV_EzUSBFX2*>(device_.get()) != nullptr;
}

void CaptureApp::OnDeviceChange(bool /*arrival*/) {
    PostToUi([](CaptureApp& app) {
        if (app.capturing_) {
            app.search_pending_ = true;
        } else {
            app.SearchDevices();
        }
    });
}

bool CaptureApp::Close() {
    ScopedLock lock(app_lock_);
    if (capturing_) {
        ui_.ShowMessage("接続中は終了できません。", kCaption, MessageButtons::kOk);
        return false;
    }
    if (window_.place.placed) {
        settings_.pos_x = window_.place.x;
        settings_.pos_y = window_.place.y;
    }
    settings_.hv_kelvra_init = window_.firmware_init.checked ? 1 : 0;
    settings_.chwnd_show = channel_->place.visible ? 1 : 0;
    settings_.chwnd_pos_x = channel_->place.x;
    settings_.chwnd_pos_y = channel_->place.y;
    settings_.last_channel = channel_->CurrentChannel();
    const WindowPlace service = service_->Place();
    settings_.filtwnd_show = service.visible ? 1 : 0;
    settings_.filtwnd_pos_x = service.x;
    settings_.filtwnd_pos_y = service.y;
    settings_.filtwnd_size_x = service.width;
    settings_.filtwnd_size_y = service.height;
    const WindowPlace schedule = reservations_->Place();
    settings_.schedule_show = schedule.visible ? 1 : 0;
    settings_.schedule_pos_x = schedule.x;
    settings_.schedule_pos_y = schedule.y;
    settings_.schedule_size_x = schedule.width;
    settings_.schedule_size_y = schedule.height;
    reservations_->SaveSchedule();
    return true;
}

void CaptureApp::ToggleChannelWindow() {
    ScopedLock lock(app_lock_);
    channel_->place.visible = !channel_->place.visible;
}

void CaptureApp::ToggleServiceWindow() {
    ScopedLock lock(app_lock_);
    ToggleVisible(*service_);
}

void CaptureApp::ToggleScheduleWindow() {
    ScopedLock lock(app_lock_);
    ToggleVisible(*reservations_);
}

std::optional<OptionsDialogCore> CaptureApp::OpenOptions() {
    if (capturing_) {
        ui_.ShowMessage("接続中は設定変更できません", kCaption, MessageButtons::kOk);
        return std::nullopt;
    }
    return OptionsDialogCore(settings_, timer_.Facts());
}

void CaptureApp::ApplyOptions(const Settings& settings) {
    settings_ = settings;
    reservations_->SetAutoPath(settings_.rec_autopath);
}

}  // namespace tavrel
