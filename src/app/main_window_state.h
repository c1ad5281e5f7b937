#pragma once

#include <array>
#include <string>

#include "app/window_state.h"

namespace tavrel {

// Everything the main window shows, with the control numbers of its dialog. The core writes
// it; the window's Qt half draws it and reports its place back before closing.
struct MainWindowState {
    // "デバイス" group.
    ComboBox device;                                            // 1001
    Control research{"再検索"};                                 // 1003
    ComboBox endpoint_in;                                       // 1004
    ComboBox endpoint_out;                                      // 1005
    Control firmware_init{"hv-kelvra ファーム初期化処理転送"};  // 1010, check box
    Control connect{"接続", false};                             // 1002, push-like check box

    // "USB転送状況" and the stream figures.
    Control time;             // 1006
    Control success;          // 1007
    Control failure;          // 1008
    Control rate;             // 1009
    Control device_status;    // 1011
    Control buffer;           // 1013
    Control packet_length;    // 1014
    Control sync_errors;      // 1015
    Control discontinuities;  // 1022
    Control scrambled;        // 1018
    Control broadcast_time;   // 1019

    // Recording.
    Control recording;              // 1020: state and size
    Control free_space;             // 1021
    Control stop_timer;             // 1032, minutes
    Control plus_ten{"+10分"};      // 1034
    Control record{"録画", false};  // 1017, push-like check box

    // "UDP送信".
    Control udp;                  // 1024
    Control address;              // 1035
    Control port;                 // 1036
    Control packet_size;          // 1037
    Control send{"送信", false};  // 1023, push-like check box

    // Status bar (1033): recording time, auto-stop state, reservation text.
    std::array<std::string, 3> status_bar{" ", " ", " "};

    // The window's place; the Qt half reports where it stands before Close.
    WindowPlace place;
};

}  // namespace tavrel
