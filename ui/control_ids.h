// Resource and control ids of the main window and the About box, and the
// numbers of the window messages the worker threads post to the dialog.
// Each control's id is also its objectName (as decimal text), so code and
// tests find a control by id through FindControl (torvane_dlg.h).
#pragma once

namespace torvane {

// Dialog templates, strings and icons.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;          // "&About Torvane..."
inline constexpr int IDD_TORVANE_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;         // the application icon

// Controls of dialog 102.
inline constexpr int IDC_LOG = 1000;              // log pane
inline constexpr int IDC_EDIT_PATH = 1001;        // image path
inline constexpr int IDC_BTN_FLASH = 1002;        // "烧录" / "更新BOOT"
inline constexpr int IDC_BTN_OPEN = 1003;         // "打开"
inline constexpr int IDC_BTN_CLEAR = 1004;        // "清除"
inline constexpr int IDC_BTN_ENTER_FLASH_MODE = 1005;  // "开启烧录模式"
inline constexpr int IDC_EDIT_VID = 1006;
inline constexpr int IDC_EDIT_PID = 1007;
inline constexpr int IDC_EDIT_USAGE_PAGE = 1008;
inline constexpr int IDC_EDIT_USAGE = 1009;

// Labels and the group box have no id of their own.
inline constexpr int IDC_STATIC = -1;

// Command id of the About item of the window menu.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

// Numbers of the posted window messages. The Qt event type of each is
// QEvent::User + the number (dialog_messages.h).
inline constexpr int kMsgDownloadProgress = 0x0500;  // WM_DOWNLOAD_PROGRESS
inline constexpr int kMsgEnumDone = 0x0501;          // WM_ENUM_DONE
inline constexpr int kMsgAppendLog = 0x0502;         // a worker's log text
inline constexpr int kMsgDeviceChange = 0x0503;      // a HID interface came or went
inline constexpr int kMsgPermissionDenied = 0x0504;  // a device could not be opened for lack of rights

}  // namespace torvane
