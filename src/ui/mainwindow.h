// The main window: the device list with selection, size, model and status;
// below it the details of the selected device or the tail of a log; the key
// legend at the bottom. It is also the device manager's hook.
#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/lockable.h"
#include "devmgr/devmgr.h"
#include "ui/logreader.h"
#include "ui/screen.h"

class CBlkDev;

class CMainWindow : public CGenericWnd, public CDevMgrHook, private CLockable {
 public:
  enum { VIEW_DETAILS = 0, VIEW_LOG = 1, VIEW_VERBOSE_LOG = 2 };

  CMainWindow();
  ~CMainWindow() override;
  void SetBlkDevMgr(CBlkDevMgr* mgr);

  int Create(WINDOW* parent, int lines, int cols, int y, int x) override;
  int RecreateLayout();
  int Draw(int changed) override;
  int OnInput(int key) override;

  void SwitchView();
  void infDrawHeader();
  int infDrawDetails(int changed);
  int infDrawLog(int changed);
  void ShowMainMenu();
  void ShowSchemeMenu();
  void ShowOptionsMenu();
  void ShowDiskMenu(int index);
  void ShowDump(int index);
  void DoRescan();

  void DeviceAttachedHook(std::shared_ptr<CBlkDev> dev) override;
  void DeviceRemovedHook(std::shared_ptr<CBlkDev> dev) override;
  void DeviceComeBackHook(std::shared_ptr<CBlkDev> dev) override;

  // The status bar text for the current mode, in `%` markup.
  static const char* LegendForMode();

  // State, for tests.
  int SelectedIndex() const { return selected; }
  int FirstVisible() const { return first_visible; }
  int ListRows() const { return list_rows; }
  int LogRows() const { return log_rows; }
  long LogFirstLine() const { return log_first_line; }
  int View() const { return view; }
  const std::string& PaneTitle() const { return pane_title; }
  bool AutoStartPending() const { return auto_start_pending; }
  CLogReader& Reader() { return reader; }
  size_t PendingCount();

 private:
  void SetAllDirty() {
    detail_dirty = 1;
    list_dirty = 1;
    status_dirty = 1;
  }
  int DrawList(int count);
  void OnWipeKey();
  // -1 to end the session; with drives wiping only when the operator
  // confirms, which is logged.
  int OnQuitKey();
  void OnSelectKey(const std::shared_ptr<CBlkDev>& dev);
  void ShowHelp();
  void ShowWelcome();
  void ClampLogFirstLine();

  WINDOW* list_pane = nullptr;
  WINDOW* detail_pane = nullptr;
  WINDOW* status_bar = nullptr;
  WINDOW* parent = nullptr;
  CBlkDevMgr* manager = nullptr;
  int selected = 0;
  // Set by the hooks on the monitor thread, cleared by drawing.
  std::atomic<int> detail_dirty{1};
  std::atomic<int> list_dirty{1};
  std::atomic<int> status_dirty{1};
  int first_visible = 0;
  int list_rows = 0;
  long log_first_line = 0;
  int log_rows = 0;
  size_t log_line_count = 0;
  std::string pane_title = "Disk details";
  int view = VIEW_DETAILS;
  bool auto_start_pending = true;
  CLogReader reader;
  int last_count = 0;
  std::vector<std::shared_ptr<CBlkDev>> pending GUARDED_BY(this);
  int lines = 0;
  int cols = 0;
  int row = 0;
  int col = 0;
  std::string legend;
};
