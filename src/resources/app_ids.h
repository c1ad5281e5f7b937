#pragma once

// Numeric identifiers of the application shell's dialogs, controls and menu commands. The
// window halves and the core refer to controls by these numbers.
namespace tavrel::ids {

// Main dialog and its menu.
inline constexpr int kMainDialog = 129;
inline constexpr int kMainMenu = 109;
inline constexpr int kAboutDialog = 103;
inline constexpr int kOptionsDialog = 130;
inline constexpr int kChannelDialog = 131;

inline constexpr int kDeviceCombo = 1001;
inline constexpr int kConnectButton = 1002;
inline constexpr int kResearchButton = 1003;
inline constexpr int kEndpointInCombo = 1004;
inline constexpr int kEndpointOutCombo = 1005;
inline constexpr int kTimeText = 1006;
inline constexpr int kSuccessText = 1007;
inline constexpr int kFailureText = 1008;
inline constexpr int kRateText = 1009;
inline constexpr int kFirmwareInitCheck = 1010;
inline constexpr int kDeviceStatusText = 1011;
inline constexpr int kBufferText = 1013;
inline constexpr int kPacketLengthText = 1014;
inline constexpr int kSyncErrorText = 1015;
inline constexpr int kRecordButton = 1017;
inline constexpr int kScrambledText = 1018;
inline constexpr int kBroadcastTimeText = 1019;
inline constexpr int kRecordingText = 1020;
inline constexpr int kFreeSpaceText = 1021;
inline constexpr int kDiscontinuityText = 1022;
inline constexpr int kSendButton = 1023;
inline constexpr int kUdpText = 1024;
inline constexpr int kStopTimerEdit = 1032;
inline constexpr int kStatusBar = 1033;
inline constexpr int kPlusTenButton = 1034;
inline constexpr int kAddressEdit = 1035;
inline constexpr int kPortEdit = 1036;
inline constexpr int kPacketSizeEdit = 1037;

inline constexpr int kCommandOptions = 32774;
inline constexpr int kCommandAbout = 104;
inline constexpr int kCommandExit = 105;
inline constexpr int kCommandChannelWindow = 32776;
inline constexpr int kCommandServiceWindow = 32778;
inline constexpr int kCommandScheduleWindow = 32780;
inline constexpr int kCommandClear = 32772;
inline constexpr int kCloseBox = 2;

// Options dialog.
inline constexpr int kTimerPeriodEdit = 1023;
inline constexpr int kAutoFileNameCheck = 1025;
inline constexpr int kPriorityRecCombo = 1026;
inline constexpr int kPriorityResCombo = 1027;
inline constexpr int kPriorityProcCombo = 1028;
inline constexpr int kAutoPathEdit = 1029;
inline constexpr int kTimerIncrementText = 1030;
inline constexpr int kTimerRangeText = 1031;
inline constexpr int kProcEpgCheck = 1041;
inline constexpr int kDecodePsiCheck = 1042;
inline constexpr int kSystemTimeCheck = 1043;
inline constexpr int kProcDataCheck = 1067;

// Channel window.
inline constexpr int kChannelChangeButton = 1035;
inline constexpr int kChannelSendButton = 1034;
inline constexpr int kChannelCombo = 1038;
inline constexpr int kChannelTextEdit = 1053;

}  // namespace tavrel::ids
