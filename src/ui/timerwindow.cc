#include "ui/timerwindow.h"

#include <stdio.h>

#include "app/log.h"
#include "app/util.h"

task_starter_fn_t g_task_starter = start_wipe_task;

CTimerWindow::~CTimerWindow() {
  reader.SetSource(nullptr, 0);
  if (win) delwin(win);
}

int CTimerWindow::Create(WINDOW* p, int, int, int, int) {
  parent = p;
  win = p ? subwin(p, height, width, (LINES - 12) / 2, (COLS - width) / 2) : nullptr;
  if (!win) return -1;
  wattrset(win, A_BOLD | COLOR_PAIR(PAIR_DATA));
  werase(win);
  return 0;
}

void CTimerWindow::SetFile(const char* path, int f) {
  file_name = path ? path : "";
  follow = f;
  // Lines wrap at the inside of the box, not at the screen width.
  reader.SetSource(path, width - 2);
}

int CTimerWindow::SetHeader(const char* text) {
  header = text ? text : "";
  return 0;
}

int CTimerWindow::SetTime(int seconds) {
  deadline = ui_now() + seconds;
  return 0;
}

std::string CTimerWindow::Legend(time_t now) const {
  char countdown[40] = "";
  if (deadline) snprintf(countdown, 33, "[%s] ", CTimeStr((int)(deadline - now)).c_str());
  char legend[160];
  if (!manager)
    snprintf(legend, sizeof legend, " %sPress any key to continue ", countdown);
  else
    snprintf(legend, sizeof legend, " %%%sEnter%%-Start %%Any other key%%-Cancel ", countdown);
  return legend;
}

int CTimerWindow::Draw(int changed) {
  time_t now = ui_now();
  size_t n = reader.GetLineCount();
  if (n != line_count) {
    dirty = 1;
    line_count = n;
    if (follow) first_line = (long)n < height - 1 ? 0 : (long)n - height + 2;
  }
  if (now != last_draw) dirty = 1;
  if (!changed && !dirty) return 0;
  if (!win) return 0;
  wredrawln(win, 0, height);
  werase(win);
  set_pair(win, PAIR_TEXT);
  box(win, ACS_VLINE, ACS_HLINE);
  const std::string& title = header.empty() ? file_name : header;
  mvwprintw(win, 0, (width - (int)title.size()) / 2 - 1, " %s ", title.c_str());
  pretty_strout(win, height - 1, 2, Legend(now).c_str());
  set_pair(win, PAIR_DATA);
  std::string text;
  int shown = 0;
  for (int row = 1; row <= height - 2; ++row) {
    long line = first_line + row - 1;
    if (line < 0 || (size_t)line >= n) continue;
    if (reader.GetLine((size_t)line, text) != 0) text.clear();
    // The box is narrower than the screen: keep the text inside it.
    mvwaddnstr(win, row, 1, text.c_str(), width - 2);
    ++shown;
  }
  if (shown == 0) mvwprintw(win, 1, 1, "File %s is empty or unreadable.", file_name.c_str());
  wnoutrefresh(win);
  dirty = 0;
  last_draw = now;
  return 1;
}

int CTimerWindow::OnInput(int key) {
  bool expired = key == -1 && deadline != 0 && ui_now() > deadline;
  if (is_enter_key(key) || expired) {
    if (manager && task) {
      LOG_INFO(g_wipe_log, "Wiping task started");
      if (g_task_starter) g_task_starter(task, manager);
    }
    g_scr.DelWindow(this);
    return 1;
  }
  if (key == -1) return 1;
  if (manager && task) LOG_INFO(g_wipe_log, "Wiping task start cancelled by user");
  g_scr.DelWindow(this);
  return 1;
}
