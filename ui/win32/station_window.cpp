#include "ui/win32/station_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <atomic>
#include <vector>

#include "settings/app_paths.h"
#include "ui/station_texts.h"
#include "ui/win32/file_chooser.h"
#include "ui/win32/message_box.h"
#include "ui/win32/win32_text.h"

namespace torvane {

namespace {

constexpr const wchar_t* kClassName = L"TorvaneStationWindow";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kMsgImageSummary = WM_APP + 2;  // the image reader has its summary
constexpr const char* kTitle = "Torvane 生产线烧录";
constexpr int kLabelIds[] = {2101, 2102, 2103, 2104, 2105, 2106};  // 镜像文件, 加载地址, 记录文件, 最近的记录, 数量, 尝试次数

COLORREF Colour(uint32_t rgb) { return RGB((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff); }

// A round badge with a tick (passed) or a cross (failed): the two differ in
// shape, not only in colour.
HICON Badge(uint32_t rgb, bool tick, int size) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, colour);
  RECT all{0, 0, size, size};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  HBRUSH brush = CreateSolidBrush(Colour(rgb));
  HPEN none = CreatePen(PS_NULL, 0, 0);
  SelectObject(dc, brush);
  SelectObject(dc, none);
  Ellipse(dc, 0, 0, size, size);
  HPEN white = CreatePen(PS_SOLID, size / 8 + 1, RGB(255, 255, 255));
  SelectObject(dc, white);
  if (tick) {
    MoveToEx(dc, size / 4, size / 2, nullptr);
    LineTo(dc, size * 7 / 16, size * 11 / 16);
    LineTo(dc, size * 3 / 4, size * 5 / 16);
  } else {
    MoveToEx(dc, size * 5 / 16, size * 5 / 16, nullptr);
    LineTo(dc, size * 11 / 16, size * 11 / 16);
    MoveToEx(dc, size * 11 / 16, size * 5 / 16, nullptr);
    LineTo(dc, size * 5 / 16, size * 11 / 16);
  }
  SelectObject(dc, old);
  // Outside the circle is transparent.
  HDC mask_dc = CreateCompatibleDC(screen);
  HGDIOBJ old_mask = SelectObject(mask_dc, mask);
  FillRect(mask_dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SelectObject(mask_dc, GetStockObject(BLACK_BRUSH));
  SelectObject(mask_dc, GetStockObject(NULL_PEN));
  Ellipse(mask_dc, 0, 0, size + 1, size + 1);
  SelectObject(mask_dc, old_mask);
  ICONINFO icon_info{TRUE, 0, 0, mask, colour};
  HICON icon = CreateIconIndirect(&icon_info);
  DeleteDC(mask_dc);
  DeleteDC(dc);
  DeleteObject(white);
  DeleteObject(none);
  DeleteObject(brush);
  DeleteObject(mask);
  DeleteObject(colour);
  ReleaseDC(nullptr, screen);
  return icon;
}

HWND Child(HWND parent, const wchar_t* window_class, const std::string& text, DWORD style, int id,
           DWORD ex_style = 0) {
  return CreateWindowExW(ex_style, window_class, Utf8ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10,
                         10, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                         nullptr);
}

void Place(HWND parent, int id, int x, int y, int cx, int cy) {
  MoveWindow(GetDlgItem(parent, id), x, y, cx > 0 ? cx : 1, cy > 0 ? cy : 1, TRUE);
}

bool RegisterClassOnce() {
  static const bool registered = [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = DefWindowProcW;  // replaced per window below
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128));
    window_class.lpszClassName = kClassName;
    return RegisterClassExW(&window_class) != 0;
  }();
  return registered;
}

}  // namespace

StationWindow::StationWindow(StationWindowSetup setup) : session_(std::move(setup)) {
  session_.SetFailureAlert([] { MessageBeep(MB_ICONHAND); });
}

StationWindow::~StationWindow() {
  session_.Shutdown();
  image_reader_.reset();
  Destroy();
  if (badges_ != nullptr) ImageList_Destroy(badges_);
  if (font_ != nullptr) DeleteObject(font_);
  if (bold_ != nullptr) DeleteObject(bold_);
  if (large_ != nullptr) DeleteObject(large_);
}

bool StationWindow::Create(HWND owner) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  if (!RegisterClassOnce()) return false;
  owner_ = owner;
  window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, Utf8ToWide(kTitle).c_str(),
                            WS_OVERLAPPEDWINDOW & ~WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT, 1080, 720, owner,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) return false;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
  BuildControls();
  ShowJob();
  Layout();
  if (owner_ != nullptr) EnableWindow(owner_, FALSE);
  ShowWindow(window_, SW_SHOW);
  return true;
}

void StationWindow::BuildControls() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  font_ = CreateFontIndirectW(&metrics.lfMessageFont);
  LOGFONTW bold = metrics.lfMessageFont;
  bold.lfWeight = FW_BOLD;
  bold_ = CreateFontIndirectW(&bold);
  LOGFONTW large = bold;
  large.lfHeight = bold.lfHeight * 2;
  large_ = CreateFontIndirectW(&large);

  Child(window_, L"BUTTON", "打开作业...", BS_PUSHBUTTON | WS_TABSTOP, IDC_ST_JOB_OPEN);
  Child(window_, L"STATIC", job_.Text(), SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, IDC_ST_JOB);
  Child(window_, L"EDIT", "", ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP, IDC_ST_PASSWORD, WS_EX_CLIENTEDGE);
  Child(window_, L"BUTTON", "解锁", BS_PUSHBUTTON | WS_TABSTOP, IDC_ST_UNLOCK);
  SendMessageW(Item(IDC_ST_PASSWORD), EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(Utf8ToWide("管理员密码").c_str()));
  Child(window_, L"STATIC", "镜像文件", SS_LEFT, kLabelIds[0]);
  Child(window_, L"STATIC", "", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, IDC_ST_IMAGE);
  Child(window_, L"STATIC", "", SS_LEFT | SS_NOPREFIX, IDC_ST_DIGEST);
  image_reader_ = std::make_unique<StationImageReader>(
      [window = window_] { PostMessageW(window, kMsgImageSummary, 0, 0); });  // dropped if the window has gone
  Child(window_, L"STATIC", "加载地址", SS_LEFT, kLabelIds[1]);
  Child(window_, L"STATIC", session_.AddressText(), SS_LEFT, IDC_ST_ADDRESS);
  Child(window_, L"STATIC", "记录文件", SS_LEFT, kLabelIds[2]);
  Child(window_, L"EDIT", session_.DefaultRecordPath(), ES_AUTOHSCROLL | WS_TABSTOP, IDC_ST_RECORD_PATH,
        WS_EX_CLIENTEDGE);
  Child(window_, L"BUTTON", "选择...", BS_PUSHBUTTON | WS_TABSTOP, IDC_ST_RECORD_CHOOSE);
  Child(window_, L"STATIC", "数量", SS_LEFT, kLabelIds[4]);
  Child(window_, L"EDIT", "0", ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP, IDC_ST_COUNT, WS_EX_CLIENTEDGE);
  Child(window_, L"STATIC", "尝试次数", SS_LEFT, kLabelIds[5]);
  Child(window_, L"EDIT", "1", ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP, IDC_ST_ATTEMPTS, WS_EX_CLIENTEDGE);
  Child(window_, L"BUTTON", "自动进入烧录模式", BS_AUTOCHECKBOX | WS_TABSTOP, IDC_ST_ENTER_BOOT);
  Child(window_, L"BUTTON", "开始", BS_PUSHBUTTON | WS_TABSTOP, IDC_ST_START_STOP);
  HWND units = Child(window_, WC_LISTVIEWW, "", LVS_REPORT | LVS_NOSORTHEADER | LVS_SINGLESEL | WS_TABSTOP,
                     IDC_ST_UNITS, WS_EX_CLIENTEDGE);
  Child(window_, L"STATIC", session_.FinishedText(), SS_LEFT, IDC_ST_FINISHED);
  Child(window_, L"STATIC", StationCountersText(0, 0, 0), SS_LEFT, IDC_ST_COUNTERS);
  Child(window_, L"BUTTON", "确认失败", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, IDC_ST_ACKNOWLEDGE);
  Child(window_, L"STATIC", session_.YieldText(), SS_LEFT | SS_NOPREFIX, IDC_ST_YIELD);
  Child(window_, L"STATIC", "", SS_LEFT | SS_NOPREFIX, IDC_ST_MESSAGE);
  Child(window_, L"STATIC", "最近的记录", SS_LEFT, kLabelIds[3]);
  Child(window_, L"EDIT", "", ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | WS_HSCROLL | WS_TABSTOP, IDC_ST_RECORDS,
        WS_EX_CLIENTEDGE);
  for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }
  SendMessageW(Item(IDC_ST_COUNTERS), WM_SETFONT, reinterpret_cast<WPARAM>(bold_), FALSE);
  SendMessageW(Item(IDC_ST_DIGEST), WM_SETFONT, reinterpret_cast<WPARAM>(large_), FALSE);
  SendMessageW(Item(IDC_ST_FINISHED), WM_SETFONT, reinterpret_cast<WPARAM>(large_), FALSE);

  ListView_SetExtendedListViewStyle(units, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_SUBITEMIMAGES |
                                               LVS_EX_GRIDLINES);
  const int badge = GetSystemMetrics(SM_CXSMICON);
  badges_ = ImageList_Create(badge, badge, ILC_COLOR32 | ILC_MASK, 2, 0);
  for (const auto& [rgb, tick] : {std::pair{kPassedBadge, true}, std::pair{kFailedBadge, false}}) {
    HICON icon = Badge(rgb, tick, badge);
    ImageList_AddIcon(badges_, icon);
    DestroyIcon(icon);
  }
  ListView_SetImageList(units, badges_, LVSIL_SMALL);
  ReadImage();
  for (int column = 0; column < kColCount; ++column) {
    std::wstring header = Utf8ToWide(kStationColumns[column].header);
    LVCOLUMNW lv_column{};
    lv_column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    lv_column.pszText = header.data();
    lv_column.cx = kStationColumns[column].width;
    lv_column.iSubItem = column;
    ListView_InsertColumn(units, column, &lv_column);
  }
}

void StationWindow::Layout() {
  RECT client;
  GetClientRect(window_, &client);
  const int width = client.right;
  const int height = client.bottom;
  constexpr int m = 10;   // margin
  constexpr int row = 24; // one line of controls
  const int label = 70;
  const int value_x = m + label;
  const int value_w = width - value_x - m;
  constexpr int large = 40;  // a line of the large font
  int y = m;
  Place(window_, IDC_ST_JOB_OPEN, m, y, 100, row);
  Place(window_, IDC_ST_JOB, m + 110, y + 4, width - 2 * m - 110 - 260, row - 4);
  Place(window_, IDC_ST_PASSWORD, width - m - 250, y, 170, row);
  Place(window_, IDC_ST_UNLOCK, width - m - 70, y, 70, row);
  y += row + 6;
  Place(window_, kLabelIds[0], m, y + 4, label, row - 4);
  Place(window_, IDC_ST_IMAGE, value_x, y + 4, value_w, row - 4);
  y += row;
  Place(window_, IDC_ST_DIGEST, value_x, y, value_w, large);
  y += large;
  Place(window_, kLabelIds[1], m, y + 4, label, row - 4);
  Place(window_, IDC_ST_ADDRESS, value_x, y + 4, value_w, row - 4);
  y += row;
  Place(window_, kLabelIds[2], m, y + 4, label, row - 4);
  Place(window_, IDC_ST_RECORD_PATH, value_x, y, value_w - 90, row);
  Place(window_, IDC_ST_RECORD_CHOOSE, width - m - 84, y, 84, row);
  y += row + 6;
  Place(window_, kLabelIds[4], m, y + 4, label, row - 4);
  Place(window_, IDC_ST_COUNT, value_x, y, 80, row);
  Place(window_, kLabelIds[5], value_x + 100, y + 4, 70, row - 4);
  Place(window_, IDC_ST_ATTEMPTS, value_x + 170, y, 50, row);
  Place(window_, IDC_ST_ENTER_BOOT, value_x + 240, y, 260, row);
  Place(window_, IDC_ST_START_STOP, width - m - 120, y, 120, row + 4);
  const int table_top = y + row + 16;
  const int records_h = 5 * 16 + 10;
  const int yield_h = 2 * 16 + 4;
  const int bottom_block = large + yield_h + row + row + records_h + m;
  const int table_h = height - table_top - bottom_block - m;
  Place(window_, IDC_ST_UNITS, m, table_top, width - 2 * m, table_h);
  y = table_top + table_h + 6;
  Place(window_, IDC_ST_FINISHED, m, y, 200, large);
  Place(window_, IDC_ST_COUNTERS, m + 210, y + (large - row) / 2 + 2, width - 2 * m - 210 - 110, row - 4);
  Place(window_, IDC_ST_ACKNOWLEDGE, width - m - 100, y + (large - row) / 2, 100, row + 2);
  y += large;
  Place(window_, IDC_ST_YIELD, m, y, width - 2 * m, yield_h);
  y += yield_h;
  Place(window_, IDC_ST_MESSAGE, m, y, width - 2 * m, row - 4);
  y += row;
  Place(window_, kLabelIds[3], m, y, width - 2 * m, row - 4);
  y += row - 4;
  Place(window_, IDC_ST_RECORDS, m, y, width - 2 * m, records_h);
  // The state column takes what the others leave.
  int others = 0;
  for (int column = 0; column < kColCount; ++column) {
    if (column != kColState) others += kStationColumns[column].width;
  }
  const int state = width - 2 * m - others - GetSystemMetrics(SM_CXVSCROLL) - 4;
  ListView_SetColumnWidth(Item(IDC_ST_UNITS), kColState, state > 120 ? state : 120);
}

LRESULT CALLBACK StationWindow::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<StationWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr && self->window_ == window) return self->Handle(message, wparam, lparam);
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT StationWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      Layout();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
      limits->ptMinTrackSize = POINT{640, 520};
      return 0;
    }
    case kMsgImageSummary:
      ShowImageSummary();
      return 0;
    case WM_TIMER:
      if (wparam == kRefreshTimer) Refresh();
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDC_ST_START_STOP:
          if (session_.Running()) {
            StopStation();
          } else {
            StartStation();
          }
          return 0;
        case IDC_ST_RECORD_CHOOSE: ChooseRecordFile(); return 0;
        case IDC_ST_ACKNOWLEDGE: AcknowledgeAll(); return 0;
        case IDC_ST_JOB_OPEN: ChooseJobFile(); return 0;
        case IDC_ST_UNLOCK: UnlockJob(); return 0;
        case IDCANCEL: RequestClose(); return 0;
        default: break;
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lparam);
      if (header->idFrom == IDC_ST_UNITS && header->code == NM_CUSTOMDRAW) {
        return OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(lparam));
      }
      if (header->idFrom == IDC_ST_UNITS && header->code == NM_DBLCLK) {
        AcknowledgeRow(reinterpret_cast<NMITEMACTIVATE*>(lparam)->iItem);
        return 0;
      }
      break;
    }
    case WM_CLOSE:
      RequestClose();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

LRESULT StationWindow::OnCustomDraw(NMLVCUSTOMDRAW* draw) {
  if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
    const auto index = static_cast<size_t>(draw->nmcd.dwItemSpec);
    const auto& rows = session_.Table().Rows();
    if (index < rows.size()) {
      const RowTone tone = ToneOf(rows[index]);
      if (tone != RowTone::kNone) {
        draw->clrTextBk = Colour(tone == RowTone::kPassed ? kPassedBackground : kFailedBackground);
        draw->clrText = RGB(0, 0, 0);
      }
      // A held row's unit is gone (its failure waits for the operator); a
      // skipped one is not flashed.
      if (IsDimmed(rows[index])) draw->clrText = Colour(kDimText);
    }
    return CDRF_DODEFAULT;
  }
  return CDRF_DODEFAULT;
}

std::string StationWindow::ImagePath() const {
  return job_.Loaded() ? job_.ImagePath() : session_.Setup().image_path;
}

void StationWindow::ReadImage() {
  const std::string image = ImagePath();
  const std::string job_address = job_.AddressText();
  SetWindowTextW(Item(IDC_ST_ADDRESS), Utf8ToWide(job_address.empty() ? session_.AddressText() : job_address).c_str());
  SetWindowTextW(Item(IDC_ST_DIGEST), L"");
  SetWindowTextW(Item(IDC_ST_IMAGE),
                 Utf8ToWide(image.empty() ? StationImageSummaryText(StationImageInfo{}) : "正在读取 " + image + " ...").c_str());
  if (!image.empty()) image_reader_->Read(image);
}

void StationWindow::ChooseJobFile() {
  const std::wstring filters = Utf8ToWide("作业文件 (*.ini, *.job)") + L'\0' + L"*.ini;*.job" + L'\0' +
                               Utf8ToWide("所有文件 (*)") + L'\0' + L"*.*" + L'\0';
  std::string path;
  if (ChooseFileToOpen(window_, "打开作业", filters, WindowTextUtf8(Item(IDC_ST_RECORD_PATH)), OFN_FILEMUSTEXIST, &path)) {
    OpenJob(path);
  }
}

bool StationWindow::OpenJob(const std::string& path) {
  if (session_.Running()) return false;
  std::vector<std::string> problems;
  if (!job_.Open(MakeAbsolutePath(path), &problems)) {
    std::string text = "作业文件有问题, 未打开:";
    for (const std::string& problem : problems) text += "\n" + problem;
    ShowMessageBox(window_, text, kTitle, MB_ICONWARNING | MB_OK);
    return false;
  }
  // The job's setup replaces the window's.
  if (job_.Fixes(JobField::kCount)) SetDlgItemInt(window_, IDC_ST_COUNT, static_cast<UINT>(job_.Count()), FALSE);
  if (job_.Fixes(JobField::kAttempts)) SetDlgItemInt(window_, IDC_ST_ATTEMPTS, static_cast<UINT>(job_.Attempts()), FALSE);
  if (job_.Fixes(JobField::kEnterBoot)) {
    SendMessageW(Item(IDC_ST_ENTER_BOOT), BM_SETCHECK, job_.EnterBoot() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  if (job_.Fixes(JobField::kRecord)) SetWindowTextW(Item(IDC_ST_RECORD_PATH), Utf8ToWide(job_.RecordPath()).c_str());
  ShowJob();
  ReadImage();
  return true;
}

bool StationWindow::UnlockJob() {
  if (!job_.Locked()) return true;
  const bool unlocked = job_.Unlock(WindowTextUtf8(Item(IDC_ST_PASSWORD)));
  SetWindowTextW(Item(IDC_ST_PASSWORD), L"");
  if (!unlocked) {
    ShowMessageBox(window_, "管理员密码不正确。", kTitle, MB_ICONWARNING | MB_OK);
    return false;
  }
  ShowJob();
  return true;
}

void StationWindow::ShowJob() {
  SetWindowTextW(Item(IDC_ST_JOB), Utf8ToWide(job_.Text()).c_str());
  ShowWindow(Item(IDC_ST_PASSWORD), job_.Locked() ? SW_SHOW : SW_HIDE);
  ShowWindow(Item(IDC_ST_UNLOCK), job_.Locked() ? SW_SHOW : SW_HIDE);
  SetIdleControls(!session_.Running());
}

void StationWindow::SetIdleControls(bool idle) {
  EnableWindow(Item(IDC_ST_RECORD_PATH), idle && job_.Editable(JobField::kRecord));
  EnableWindow(Item(IDC_ST_RECORD_CHOOSE), idle && job_.Editable(JobField::kRecord));
  EnableWindow(Item(IDC_ST_ENTER_BOOT), idle && job_.Editable(JobField::kEnterBoot));
  EnableWindow(Item(IDC_ST_COUNT), idle && job_.Editable(JobField::kCount));
  EnableWindow(Item(IDC_ST_ATTEMPTS), idle && job_.Editable(JobField::kAttempts));
  EnableWindow(Item(IDC_ST_JOB_OPEN), idle);
  const char* caption = idle ? "开始" : session_.Stopping() ? "正在停止..." : "停止";
  SetWindowTextW(Item(IDC_ST_START_STOP), Utf8ToWide(caption).c_str());
  EnableWindow(Item(IDC_ST_START_STOP), idle || !session_.Stopping());
}

void StationWindow::ChooseRecordFile() {
  // An existing file is appended to, never replaced.
  const std::wstring filter = Utf8ToWide("记录文件 (*.jsonl)") + L'\0' + L"*.jsonl" + L'\0' +
                              Utf8ToWide("所有文件 (*)") + L'\0' + L"*.*" + L'\0';
  std::string path;
  if (ChooseFileToSave(window_, "记录文件", filter, WindowTextUtf8(Item(IDC_ST_RECORD_PATH)), L"jsonl", &path)) {
    SetWindowTextW(Item(IDC_ST_RECORD_PATH), Utf8ToWide(path).c_str());
  }
}

bool StationWindow::StartStation() {
  if (session_.Running()) return true;
  std::string record = WindowTextUtf8(Item(IDC_ST_RECORD_PATH));
  while (!record.empty() && record.back() == ' ') record.pop_back();
  while (!record.empty() && record.front() == ' ') record.erase(record.begin());
  StationSession::RunOptions options;
  options.record_path = record;
  options.enter_boot = SendMessageW(Item(IDC_ST_ENTER_BOOT), BM_GETCHECK, 0, 0) == BST_CHECKED;
  options.count = static_cast<int>(GetDlgItemInt(window_, IDC_ST_COUNT, nullptr, FALSE));
  options.attempts = static_cast<int>(GetDlgItemInt(window_, IDC_ST_ATTEMPTS, nullptr, FALSE));
  if (options.attempts < 1) options.attempts = 1;
  job_.Apply(&options);
  ListView_DeleteAllItems(Item(IDC_ST_UNITS));
  SetWindowTextW(Item(IDC_ST_RECORDS), L"");
  SetWindowTextW(Item(IDC_ST_MESSAGE), L"");
  std::string message;
  if (!session_.Start(options, &message,
                      [this](const std::function<void()>& work) { PrepareOffTheUiThread(work); })) {
    ShowMessageBox(window_, message, kTitle, MB_ICONWARNING | MB_OK);
    return false;
  }
  SetWindowTextW(Item(IDC_ST_COUNTERS), Utf8ToWide(session_.CountersText()).c_str());
  SetWindowTextW(Item(IDC_ST_FINISHED), Utf8ToWide(session_.FinishedText()).c_str());
  SetWindowTextW(Item(IDC_ST_YIELD), Utf8ToWide(session_.YieldText()).c_str());
  ShowAcknowledgeButton();
  SetIdleControls(false);
  SetTimer(window_, kRefreshTimer, 1000 / StationSession::kRefreshHz, nullptr);
  return true;
}

void StationWindow::StopStation() {
  session_.Stop();
  SetIdleControls(false);
}

void StationWindow::UpdateRow(int index) {
  const HWND units = Item(IDC_ST_UNITS);
  const StationRow& row = session_.Table().Rows()[static_cast<size_t>(index)];
  const StationClock::time_point now = session_.Table().Now();
  for (int column = 0; column < kColCount; ++column) {
    std::wstring text = Utf8ToWide(StationCellText(row, column, now));
    LVITEMW item{};
    // The badge is in the state column only.
    item.mask = LVIF_TEXT | (column == kColState || column == kColPort ? LVIF_IMAGE : 0);
    item.iItem = index;
    item.iSubItem = column;
    item.pszText = text.data();
    const RowTone tone = ToneOf(row);
    item.iImage = column != kColState        ? I_IMAGENONE
                  : tone == RowTone::kPassed ? 0
                  : tone == RowTone::kFailed ? 1
                                             : I_IMAGENONE;
    SendMessageW(units, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

void StationWindow::Follow(const std::vector<StationTableChange>& changes) {
  const HWND units = Item(IDC_ST_UNITS);
  SendMessageW(units, WM_SETREDRAW, FALSE, 0);
  for (const StationTableChange& change : changes) {
    if (change.kind == StationTableChange::kRemoved) {
      ListView_DeleteItem(units, change.index);
      continue;
    }
    if (change.kind == StationTableChange::kInserted) {
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = change.index;
      item.pszText = const_cast<wchar_t*>(L"");
      SendMessageW(units, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    UpdateRow(change.index);
  }
  SendMessageW(units, WM_SETREDRAW, TRUE, 0);
  if (!changes.empty()) InvalidateRect(units, nullptr, FALSE);
}

void StationWindow::ShowAcknowledgeButton() {
  EnableWindow(Item(IDC_ST_ACKNOWLEDGE), session_.Table().AwaitingAcknowledgement() > 0);
}

void StationWindow::AcknowledgeRow(int row) {
  Follow(session_.Acknowledge(row));
  ShowAcknowledgeButton();
}

void StationWindow::AcknowledgeAll() {
  Follow(session_.AcknowledgeAll());
  ShowAcknowledgeButton();
}

void StationWindow::Refresh() {
  const bool was_running = session_.Running();
  Follow(session_.Refresh());
  SetWindowTextW(Item(IDC_ST_COUNTERS), Utf8ToWide(session_.CountersText()).c_str());
  const auto show = [this](int id, const std::string& text) {
    if (WindowTextUtf8(Item(id)) != text) SetWindowTextW(Item(id), Utf8ToWide(text).c_str());
  };
  show(IDC_ST_FINISHED, session_.FinishedText());
  show(IDC_ST_YIELD, session_.YieldText());
  ShowAcknowledgeButton();
  std::string lines;
  for (const std::string& line : session_.RecordLines()) lines += line + "\r\n";
  show(IDC_ST_RECORDS, lines);
  show(IDC_ST_MESSAGE, session_.MessageText());
  if (was_running && !session_.Running()) {
    KillTimer(window_, kRefreshTimer);
    SetIdleControls(true);
  }
}

void StationWindow::ShowImageSummary() {
  const std::optional<StationImageInfo> info = image_reader_ ? image_reader_->Latest() : std::nullopt;
  if (!info) return;
  SetWindowTextW(Item(IDC_ST_IMAGE), Utf8ToWide(StationImageSummaryText(*info)).c_str());
  const std::string check = job_.DigestCheckText(*info);
  SetWindowTextW(Item(IDC_ST_DIGEST), Utf8ToWide(StationImageDigestText(*info) + (check.empty() ? "" : "   " + check)).c_str());
}

void StationWindow::PrepareOffTheUiThread(const std::function<void()>& work) {
  starting_ = true;
  EnableWindow(Item(IDC_ST_START_STOP), FALSE);
  SetWindowTextW(Item(IDC_ST_START_STOP), Utf8ToWide("正在准备...").c_str());
  std::atomic<bool> done{false};
  const HWND window = window_;
  std::thread prepare([&] {
    work();
    done = true;
    PostMessageW(window, WM_NULL, 0, 0);  // wakes the loop below
  });
  // The window goes on painting; a quit waits until the preparation ended.
  bool quit = false;
  WPARAM quit_code = 0;
  while (!done) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quit_code = message.wParam;
        continue;
      }
      if (IsDialogMessageW(window, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  prepare.join();
  if (quit) PostQuitMessage(static_cast<int>(quit_code));
  starting_ = false;
  SetIdleControls(true);
}

bool StationWindow::RequestClose() {
  if (starting_) return false;  // the image is being prepared: a moment
  if (session_.Running()) {
    if (session_.ActiveUnits() > 0 &&
        ShowMessageBox(window_, "仍有设备正在烧录。停止烧录并关闭窗口吗?", kTitle,
                       MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON2) != IDYES) {
      return false;
    }
    // The station may have ended while the question was open.
    session_.Shutdown();
    Refresh();
  }
  Destroy();
  return true;
}

void StationWindow::Destroy() {
  if (window_ == nullptr) return;
  KillTimer(window_, kRefreshTimer);
  if (owner_ != nullptr) {
    EnableWindow(owner_, TRUE);
    SetActiveWindow(owner_);
  }
  const HWND window = window_;
  window_ = nullptr;
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  DestroyWindow(window);
}

std::string StationWindow::CellText(int row, int column) const {
  std::vector<wchar_t> text(1024, L'\0');
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text.data();
  item.cchTextMax = static_cast<int>(text.size());
  SendMessageW(GetDlgItem(window_, IDC_ST_UNITS), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&item));
  return WideToUtf8(text.data());
}

int StationWindow::RowCount() const {
  return static_cast<int>(SendMessageW(GetDlgItem(window_, IDC_ST_UNITS), LVM_GETITEMCOUNT, 0, 0));
}

void RunStationWindow(HWND owner, StationWindowSetup setup) {
  StationWindow station(std::move(setup));
  if (!station.Create(owner)) return;
  MSG message;
  while (station.Open()) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      // Quitting (the session's end) ends the station too; the quit goes on
      // to the loop outside.
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (IsDialogMessageW(station.Window(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace torvane
