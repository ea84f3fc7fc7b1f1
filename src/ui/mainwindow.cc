#include "ui/mainwindow.h"

#include <algorithm>

#include "app/globals.h"
#include "app/log.h"
#include "app/paths.h"
#include "app/util.h"
#include "device/blkdev.h"
#include "devmgr/rescan_task.h"
#include "scheme/scheme.h"
#include "task/wipe_task.h"
#include "ui/dumpwindow.h"
#include "ui/logwindow.h"
#include "ui/menu.h"
#include "ui/timerwindow.h"

int start_wipe_task(CWipeTask* task, CBlkDevMgr* mgr) { return task ? task->Start(mgr) : -1; }

void CScreen::CreateLayout(CBlkDevMgr* mgr) {
  auto header = std::make_unique<CHeaderWindow>();
  header->Create(stdscr, 1, COLS, 0, 0);
  AddWindow(std::move(header));
  auto main_wnd = std::make_unique<CMainWindow>();
  main_wnd->SetBlkDevMgr(mgr);
  main_wnd->Create(stdscr, LINES - 1, COLS, 1, 0);
  AddWindow(std::move(main_wnd));
}

CMainWindow::CMainWindow() = default;

CMainWindow::~CMainWindow() {
  // Unregister first: once this returns no hook runs on this object any more.
  if (mgr) mgr->UnregisterHooks(this);
  if (list_pane) delwin(list_pane);
  if (detail_pane) delwin(detail_pane);
  if (status_bar) delwin(status_bar);
  {
    CLockWrapper guard(*this);
    pending.clear();
  }
  reader.SetSource(nullptr, 0);
}

void CMainWindow::SetBlkDevMgr(CBlkDevMgr* m) {
  manager = m;
  if (m) m->RegisterHooks(this);
}

const char* CMainWindow::LegendForMode() {
  if (g_testmode) return "%  TEST MODE  %   % ? %-Help %Tab%-details/log %[M]%ain menu %[R]%escan %Space%-view data";
  if (g_manual) return "% ? %-Help %Tab%-details/log %[M]%ain menu %[D]%isk menu %[R]%escan %Space%-view data";
  return "% ? %-Help %Tab%-details/log %[M]%enu %[S]%elect %[W]%ipe %[R]%escan %Space%-view data";
}

int CMainWindow::Create(WINDOW* p, int l, int c, int y, int x) {
  parent = p;
  lines = l;
  cols = c;
  row = y;
  col = x;
  int r = RecreateLayout();
  if (list_pane) {
    set_pair(list_pane, PAIR_TEXT);
    mvwprintw(list_pane, 1, 4, " Detecting drives...");
    wnoutrefresh(list_pane);
  }
  return r;
}

int CMainWindow::RecreateLayout() {
  LOG_TRACE(g_dbg_log, "Number of devices changed, recreate user's interface layout");
  if (list_pane) delwin(list_pane);
  if (detail_pane) delwin(detail_pane);
  if (status_bar) delwin(status_bar);
  list_pane = detail_pane = status_bar = nullptr;
  int h = lines - 1;
  int list_height;
  if (manager) {
    last_count = manager->GetCount();
    list_height = std::min(std::max(last_count + 1, 3), h / 2);
  } else {
    list_height = h / 2;
  }
  list_rows = list_height;
  log_rows = h - list_height - 1;
  legend = LegendForMode();
  status_dirty = 1;
  if (!parent) return -1;
  list_pane = subwin(parent, list_height, cols, row, col);
  if (!list_pane) return -1;
  detail_pane = subwin(parent, h - list_height, cols, row + list_height, col);
  if (!detail_pane) return -1;
  status_bar = subwin(parent, 1, cols, row + h, col);
  if (!status_bar) return -1;
  return 0;
}

size_t CMainWindow::PendingCount() {
  CLockWrapper guard(*this);
  return pending.size();
}

int CMainWindow::Draw(int changed) {
  if (changed) SetAllDirty();
  if (!manager || manager->IsDetectingDrivesInitialization()) return 0;
  int result = 0;
  if (manager->GetCount() != last_count) {
    detail_dirty = 1;
    list_dirty = 1;
    RecreateLayout();
  }
  // Devices the hooks reported. The list is taken under the window lock and
  // handled outside it, so that nothing here can wait for the manager while
  // the monitor thread waits for this window.
  std::vector<std::shared_ptr<CBlkDev>> arrived;
  {
    CLockWrapper guard(*this);
    arrived.swap(pending);
  }
  if (!g_manual && g_wipe_all) {
    for (auto& dev : arrived) {
      if (!dev || dev->IsDisconnected()) continue;
      dev->SetWiping(WIPING_SET);
      if (g_wipe_task.started) g_wipe_task.StartOnAdditionalDrive(dev, manager);
    }
  }
  arrived.clear();

  int count = manager->GetCount();
  if (count <= selected) {
    selected = count > 0 ? count - 1 : 0;
    if (selected < first_visible) first_visible = selected;
    detail_dirty = 1;
    list_dirty = 1;
  }
  for (int i = 0; i < count; ++i) {
    std::shared_ptr<CBlkDev> dev = manager->GetBlkDev(i);
    if (dev && dev->IsCommandStatusChanged()) {
      list_dirty = 1;
      break;
    }
  }
  if (list_dirty) result |= DrawList(count);

  int d = detail_dirty.exchange(0);
  if (view == VIEW_LOG || view == VIEW_VERBOSE_LOG)
    result |= infDrawLog(d);
  else
    result |= infDrawDetails(d);

  if (status_dirty && status_bar) {
    werase(status_bar);
    pretty_strout(status_bar, 0, 1, legend.c_str());
    wnoutrefresh(status_bar);
    status_dirty = 0;
    result = 1;
  }
  return result;
}

// Puts at most the rest of the pane's row.
static void put_clipped(WINDOW* w, int y, int x, const std::string& text) {
  int room = getmaxx(w) - x;
  if (room > 0) mvwaddnstr(w, y, x, text.c_str(), room);
}

int CMainWindow::DrawList(int count) {
  list_dirty = 0;
  if (!list_pane) return 0;
  int width = getmaxx(list_pane);
  werase(list_pane);
  set_pair(list_pane, PAIR_TEXT);
  mvwhline(list_pane, 0, 0, ACS_HLINE, width);
  set_pair(list_pane, PAIR_DATA);
  for (int r = 0; r < count && r < list_rows; ++r) {
    int index = first_visible + r;
    std::shared_ptr<CBlkDev> dev = manager->GetBlkDev(index);
    if (!dev) continue;
    // A refresh may rewrite the device meanwhile: draw a copy.
    const CBlkDevData d = dev->Snapshot();
    if (index == selected)
      wattron(list_pane, A_REVERSE);
    else
      wattroff(list_pane, A_REVERSE);
    mvwhline(list_pane, r, 0, ' ', width);
    char text[128];
    if (d.size_bytes == 0)
      snprintf(text, sizeof text, "%2d %s No media", index + 1, d.GetWipingStatusString());
    else
      snprintf(text, sizeof text, "%2d %s %s", index + 1, d.GetWipingStatusString(),
               CSizeStr(d.size_bytes, 'A').c_str());
    put_clipped(list_pane, r, 1, text);
    // The model gives way to the status column.
    std::string model = d.model.substr(0, 21);
    put_clipped(list_pane, r, 18, model);
    if (d.disconnected) {
      set_pair(list_pane, PAIR_RED);
      put_clipped(list_pane, r, 40, " --- disconnected --- ");
      set_pair(list_pane, PAIR_DATA);
    } else {
      std::string status;
      if (dev->GetCommandStatus(status))
        put_clipped(list_pane, r, 40, status);
      else
        put_clipped(list_pane, r, 40, d.markers);
    }
  }
  wattroff(list_pane, A_REVERSE);
  wnoutrefresh(list_pane);
  return 1;
}

void CMainWindow::infDrawHeader() {
  if (!detail_pane) return;
  werase(detail_pane);
  set_pair(detail_pane, PAIR_TEXT);
  mvwhline(detail_pane, 0, 0, ACS_HLINE, getmaxx(detail_pane));
  mvwprintw(detail_pane, 0, 1, " %s ", pane_title.c_str());
}

int CMainWindow::infDrawDetails(int changed) {
  if (!changed || !detail_pane) return 0;
  infDrawHeader();
  std::shared_ptr<CBlkDev> dev = manager ? manager->GetBlkDev(selected) : nullptr;
  if (dev) {
    const CBlkDevData d = dev->Snapshot();
    set_pair(detail_pane, PAIR_DATA);
    int y = 1;
    char text[256];
    int parts = 0;
    for (const part_t& p : d.partitions)
      if (p.size > 4096) ++parts;
    if (parts)
      snprintf(text, sizeof text, "Dev name: %s, %d partitions", d.name.c_str(), parts);
    else
      snprintf(text, sizeof text, "Dev name: %s", d.name.c_str());
    put_clipped(detail_pane, y++, 1, text);
    if (d.size_bytes == 0)
      snprintf(text, sizeof text, "Capacity: No media");
    else
      snprintf(text, sizeof text, "Capacity: %s, %s, %lld sectors", CSizeStr(d.size_bytes, 'A').c_str(),
               CSizeStr(d.size_bytes, 'B').c_str(), (long long)d.size_sectors);
    put_clipped(detail_pane, y++, 1, text);
    if (d.full_size_bytes != 0 && d.full_size_bytes != d.size_bytes) {
      snprintf(text, sizeof text, "  Native: %s, %s, %lld%% hidden", CSizeStr(d.full_size_bytes, 'A').c_str(),
               CSizeStr(d.full_size_bytes, 'B').c_str(),
               (long long)((d.full_size_bytes - d.size_bytes) * 100 / d.full_size_bytes));
      put_clipped(detail_pane, y++, 1, text);
    }
    snprintf(text, sizeof text, "   Model: %s %s", d.vendor.c_str(), d.model.c_str());
    put_clipped(detail_pane, y++, 1, text);
    snprintf(text, sizeof text, "  Serial: %s", d.serial.c_str());
    put_clipped(detail_pane, y++, 1, text);
    for (const std::string& line : d.details) put_clipped(detail_pane, y++, 1, line);
  }
  wnoutrefresh(detail_pane);
  return 1;
}

int CMainWindow::infDrawLog(int changed) {
  size_t n = reader.GetLineCount();
  if (n == log_line_count && !changed) return 0;
  if (n != log_line_count) {
    log_line_count = n;
    log_first_line = (long)n <= log_rows ? 0 : (long)n - log_rows;
  }
  if (!detail_pane) return 0;
  infDrawHeader();
  set_pair(detail_pane, PAIR_DATA);
  std::string text;
  for (int r = 1; r <= log_rows; ++r) {
    long index = log_first_line + r - 1;
    if (index < 0 || (size_t)index >= n) break;
    if (reader.GetLine((size_t)index, text) == 0) put_clipped(detail_pane, r, 0, text);
  }
  wnoutrefresh(detail_pane);
  return 1;
}

void CMainWindow::SwitchView() {
  view = (view + 1) % (g_debuglevel ? 3 : 2);
  log_first_line = 0;
  log_line_count = 0;
  detail_dirty = 1;
  switch (view) {
    case VIEW_LOG:
      pane_title = "Log";
      reader.SetSource(sys_path("/tmp/zorvane.log").c_str(), COLS);
      break;
    case VIEW_VERBOSE_LOG:
      pane_title = "Verbose log";
      reader.SetSource(sys_path("/tmp/xdebug.log").c_str(), COLS);
      break;
    default:
      pane_title = "Disk details";
      reader.SetSource(nullptr, COLS);
      break;
  }
  status_dirty = 1;
}

void CMainWindow::ShowHelp() {
  auto w = std::make_unique<CLogWindow>();
  w->Create(stdscr, 0, 0, 0, 0);
  w->SetFile(sys_path(g_manual ? "/tmp/helpm.txt" : "/tmp/help.txt").c_str(), 0);
  w->SetHeader("Help");
  g_scr.AddWindow(std::move(w));
}

void CMainWindow::ShowWelcome() {
  auto w = std::make_unique<CTimerWindow>(nullptr, nullptr);
  w->Create(stdscr, 15, 50, 0, 0);
  w->SetFile(sys_path("/tmp/testmode.txt").c_str(), 0);
  w->SetHeader("Welcome to Zorvane!");
  g_scr.AddWindow(std::move(w));
}

void CMainWindow::OnWipeKey() {
  if (!g_manual && !g_wipe_task.IsNothingToDo(manager)) {
    if (!g_wipe_task.started) {
      LOG_INFO(g_wipe_log, "Wipe: start countdown");
      view = VIEW_DETAILS;
      SwitchView();
      auto w = std::make_unique<CTimerWindow>(manager, &g_wipe_task);
      w->Create(stdscr, 0, 0, 0, 0);
      w->SetFile(sys_path("/tmp/start_task.txt").c_str(), 0);
      w->SetHeader("Confirm wiping");
      w->SetTime(g_nodelay ? 11 : 61);
      g_scr.AddWindow(std::move(w));
    } else {
      LOG_INFO(g_wipe_log, "Wipe: start request");
      g_wipe_task.Start(manager);
    }
  } else {
    LOG_INFO(g_wipe_log, "Wiping not started: nothing to do, manual mode = " << g_manual);
  }
}

void CMainWindow::OnSelectKey(const std::shared_ptr<CBlkDev>& dev) {
  if (g_manual) return;
  if (!dev) {
    LOG_WARN(g_dbg_log, "Attempt to select missing device");
    return;
  }
  LOG_INFO(g_wipe_log, "Selecting device " << dev->Snapshot().name);
  if (dev->IsReady()) {
    dev->SetWiping(WIPING_TOGGLE);
    list_dirty = 1;
  }
}

void CMainWindow::ClampLogFirstLine() {
  if (log_first_line + log_rows > (long)log_line_count)
    log_first_line = log_rows >= (long)log_line_count ? 0 : (long)log_line_count - log_rows;
  if (log_first_line < 0) log_first_line = 0;
}

int CMainWindow::OnInput(int key) {
  int count = manager ? manager->GetCount() : 0;
  std::shared_ptr<CBlkDev> dev = manager ? manager->GetBlkDev(selected) : nullptr;
  long first_at_entry = log_first_line;

  if (auto_start_pending && key == -1 && manager && !manager->IsDetectingDrivesInitialization()) {
    if (!g_manual && g_wipe_all) {
      if (!g_wipe_task.IsNothingToDo(manager)) {
        auto_start_pending = false;
        key = 'W';
      }
    } else {
      auto_start_pending = false;
    }
    if (g_testmode) {
      auto_start_pending = false;
      key = 'D';
    }
  }

  switch (key) {
    case KEY_TAB: SwitchView(); break;
    case ' ': ShowDump(selected); break;
    case '?':
    case KEY_F(1): ShowHelp(); break;
    case 'D':
    case 'd':
      if (g_testmode)
        ShowWelcome();
      else if (g_manual)
        ShowDiskMenu(selected);
      break;
    case 'M':
    case 'm': ShowMainMenu(); break;
    case 'Q':
    case 'q': return OnQuitKey();
    case 'R':
    case 'r': DoRescan(); break;
    case 'S':
    case 's': OnSelectKey(dev); break;
    case 'W':
    case 'w': OnWipeKey(); break;
    case KEY_DOWN:
      selected = std::min(selected + 1, std::max(count - 1, 0));
      if (selected - first_visible >= list_rows) first_visible = selected - list_rows + 1;
      list_dirty = 1;
      detail_dirty = 1;
      break;
    case KEY_UP:
      selected = std::max(selected - 1, 0);
      if (selected < first_visible) first_visible = selected;
      list_dirty = 1;
      detail_dirty = 1;
      break;
    case KEY_NPAGE: log_first_line += 1; break;
    case KEY_PPAGE: log_first_line -= 1; break;
    default: break;
  }
  ClampLogFirstLine();
  if (log_first_line != first_at_entry) detail_dirty = 1;
  return 1;
}

int CMainWindow::OnQuitKey() {
  int wiping = 0;
  for (int i = 0, n = manager ? manager->GetCount() : 0; i < n; ++i) {
    std::shared_ptr<CBlkDev> dev = manager->GetBlkDev(i);
    if (dev && dev->IsQueueRunning()) ++wiping;
  }
  if (wiping == 0) return -1;
  // One q too many after closing an overlay must not end the wipes.
  if (!confirm_popup(stdscr, "Wiping is in progress. Quit and abandon it? y/N", &g_scr)) return 1;
  LOG_WARN(g_wipe_log, "Session abandoned by the operator while " << wiping << " drive(s) were wiping");
  // The session terminator will not run: save the log copies now.
  g_log.ProcessAppendersErrorHandlers();
  return -1;
}

void CMainWindow::ShowMainMenu() {
  CMenu menu;
  const char* items[] = {"Wiping scheme", "Wiping options"};
  menu.SetMenuItemArray(2, items);
  int choice = menu.Popup(stdscr, -1, -1, &g_scr);
  if (choice == 0)
    ShowSchemeMenu();
  else if (choice == 1)
    ShowOptionsMenu();
}

void CMainWindow::ShowSchemeMenu() {
  CMenu menu;
  menu.SetMenuMode(CMenu::MODE_SINGLE);
  std::vector<const char*> names;
  for (size_t i = 0; i < g_scheme.schemes.size() && i < (size_t)CMenu::kMaxItems; ++i)
    names.push_back(g_scheme.schemes[i]->name.c_str());
  menu.SetMenuItemArray((int)names.size(), names.data());
  if (g_scheme.default_index >= 0) menu.SetCheck(g_scheme.default_index, 1);
  if (menu.Popup(stdscr, -1, -1, &g_scr) < 0) return;
  for (int i = 0; i < menu.Count(); ++i)
    if (menu.GetCheck(i) == 1) g_scheme.SetDefaultScheme(i);
}

void CMainWindow::ShowOptionsMenu() {
  CMenu menu;
  menu.SetMenuMode(CMenu::MODE_CHECK);
  const char* items[] = {"Enable verification", "Reset DCO", "Reset HPA", "Use ATA ERASE"};
  menu.SetMenuItemArray(4, items);
  int current[4] = {g_scheme.verify, g_scheme.reset_dco, g_scheme.reset_hpa, g_scheme.ata_erase};
  for (int i = 0; i < 4; ++i) menu.SetCheck(i, current[i] ? 1 : 0);
  if (menu.Popup(stdscr, -1, -1, &g_scr) < 0) return;
  int v;
  if ((v = menu.GetCheck(0)) != (current[0] ? 1 : 0)) g_scheme.SetVerify(v);
  if ((v = menu.GetCheck(1)) != (current[1] ? 1 : 0)) g_scheme.SetResetDCO(v);
  if ((v = menu.GetCheck(2)) != (current[2] ? 1 : 0)) g_scheme.SetResetHPA(v);
  if ((v = menu.GetCheck(3)) != (current[3] ? 1 : 0)) g_scheme.SetAtaErase(v);
}

void CMainWindow::ShowDiskMenu(int index) {
  std::shared_ptr<CBlkDev> dev = manager ? manager->GetBlkDev(index) : nullptr;
  if (!dev || dev->IsDisconnected() || dev->IsLogDevice()) return;
  int y = selected + 2 - first_visible;
  if (dev->IsReady()) {
    CMenu menu;
    std::vector<std::shared_ptr<CCommand>> offered = dev->Commands();
    if (menu.SetMenuCommands(offered) <= 0) return;
    int choice = menu.Popup(stdscr, y, 4, &g_scr);
    // A refresh may have rebuilt the list while the menu was open: the
    // choice names a command, run the device's command of that kind now.
    if (choice >= 0 && (size_t)choice < offered.size()) {
      std::shared_ptr<CCommand> cmd = dev->GetCommandById(offered[(size_t)choice]->id);
      if (cmd) dev->RunCommand(cmd);
      list_dirty = 1;
      detail_dirty = 1;
    }
  } else {
    std::shared_ptr<CCommand> cmd = dev->GetCurrentCommand();
    if (!cmd || !cmd->CanCancel()) return;
    CMenu menu;
    const char* items[] = {"Cancel"};
    menu.SetMenuItemArray(1, items);
    if (menu.Popup(stdscr, y, 4, &g_scr) == 0) {
      std::shared_ptr<CCommand> now = dev->GetCurrentCommand();
      if (now) now->Cancel();
    }
  }
}

void CMainWindow::ShowDump(int index) {
  std::shared_ptr<CBlkDev> dev = manager ? manager->GetBlkDev(index) : nullptr;
  if (!dev || !dev->IsReady() || dev->Snapshot().size_bytes == 0) return;
  auto w = std::make_unique<CDumpWindow>();
  w->Create(stdscr, 0, 0, 0, 0);
  w->SetDevice(dev);
  g_scr.AddWindow(std::move(w));
}

void CMainWindow::DoRescan() {
  view = VIEW_DETAILS;
  SwitchView();
  if (!g_rescan_task.IsStarted()) g_rescan_task.Start(manager);
}

void CMainWindow::DeviceAttachedHook(std::shared_ptr<CBlkDev> dev) {
  CLockWrapper guard(*this);
  pending.push_back(dev);
  SetAllDirty();
}

void CMainWindow::DeviceComeBackHook(std::shared_ptr<CBlkDev> dev) {
  CLockWrapper guard(*this);
  pending.push_back(dev);
  SetAllDirty();
}

void CMainWindow::DeviceRemovedHook(std::shared_ptr<CBlkDev>) {
  CLockWrapper guard(*this);
  SetAllDirty();
}
