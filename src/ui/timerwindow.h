// A boxed overlay showing a text file that either waits for any key (the
// test mode welcome) or counts down before starting the wipe task, with
// Enter to start at once and any other key to cancel.
#pragma once
#include <time.h>

#include <string>

#include "ui/logreader.h"
#include "ui/screen.h"

class CBlkDevMgr;
class CWipeTask;

// Starts the wipe task for the countdown window (CWipeTask::Start in
// production); tests replace it to see whether and when the task starts.
typedef int (*task_starter_fn_t)(CWipeTask* task, CBlkDevMgr* mgr);
extern task_starter_fn_t g_task_starter;
int start_wipe_task(CWipeTask* task, CBlkDevMgr* mgr);

class CTimerWindow : public CGenericWnd {
 public:
  static constexpr int kWidth = 60;
  static constexpr int kHeight = 13;

  CTimerWindow(CBlkDevMgr* manager, CWipeTask* task) : manager(manager), task(task) {}
  ~CTimerWindow() override;
  int Create(WINDOW* parent, int lines, int cols, int y, int x) override;
  int OnInput(int key) override;
  int Draw(int changed) override;
  void SetFile(const char* path, int follow);
  int SetHeader(const char* text);
  int SetTime(int seconds);

  time_t Deadline() const { return deadline; }
  // The legend line for the current state, in `%` markup.
  std::string Legend(time_t now) const;
  CLogReader& Reader() { return reader; }

 private:
  WINDOW* win = nullptr;
  WINDOW* parent = nullptr;
  CLogReader reader;
  std::string file_name;
  std::string header;
  size_t line_count = 0;
  long first_line = 0;
  int width = kWidth;
  int height = kHeight;
  int follow = 0;
  int dirty = 1;
  time_t deadline = 0;
  time_t last_draw = 0;
  CBlkDevMgr* manager;
  CWipeTask* task;
};
