#include "ui/screen.h"

#include <stdio.h>
#include <string.h>

#include "app/globals.h"
#include "app/paths.h"

CScreen g_scr;

void set_pair(WINDOW* w, int pair) {
  if (w) wcolor_set(w, (short)pair, nullptr);
}

CScreen::~CScreen() { Shutdown(); }

void CScreen::Shutdown() {
  while (!windows.empty()) {
    std::unique_ptr<CGenericWnd> w = std::move(windows.front());
    windows.pop_front();
  }
  layout_changed = 0;
  if (scr) {
    endwin();
    scr = nullptr;
    g_shell_stderr_to_log = false;
  }
}

int CScreen::Init() {
  if (scr) return 1;
  WINDOW* s = platform().CursesInit();
  if (!s) return 0;
  scr = s;
  g_shell_stderr_to_log = true;
  keypad(stdscr, TRUE);
  nonl();
  cbreak();
  noecho();
  curs_set(0);
  if (has_colors()) {
    start_color();
    static const short order[] = {0, 2, 1, 6, 7, 5, 4, 3};
    for (short pair : order) init_pair(pair, pair, COLOR_BLACK);
  }
  return 1;
}

// CreateLayout lives with the main window (mainwindow.cc).

void CScreen::AddWindow(std::unique_ptr<CGenericWnd> w) {
  if (w) windows.push_back(std::move(w));
}

void CScreen::DelWindow(CGenericWnd* w) {
  std::unique_ptr<CGenericWnd> gone;  // destroyed once off the stack
  for (auto it = windows.begin(); it != windows.end(); ++it) {
    if (it->get() == w) {
      gone = std::move(*it);
      windows.erase(it);
      break;
    }
  }
  gone.reset();
  layout_changed = 1;
}

int CScreen::Redraw(int update) {
  int changed = layout_changed;
  for (auto& w : windows) changed = w->Draw(changed) || changed;
  layout_changed = 0;
  if (update && changed) {
    doupdate();
    return 1;
  }
  return changed;
}

void CScreen::WindowLoop() {
  halfdelay(2);
  for (;;) {
    int key = ui_getkey();
    // Top of the stack first; a window that consumes the key stops it. The
    // list is walked by position because a window may delete itself.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
      int r = (*it)->OnInput(key);
      if (r == -1) return;
      if (r == 1) break;
    }
    Redraw(1);
  }
}

std::vector<std::pair<std::string, bool>> markup_segments(const char* text) {
  std::vector<std::pair<std::string, bool>> out;
  if (!text) return out;
  bool reverse = false;
  std::string run;
  for (const char* p = text; *p; ++p) {
    if (*p == '%') {
      if (p[1] == '%') {
        run += '%';
        ++p;
        continue;
      }
      if (!run.empty()) out.emplace_back(run, reverse);
      run.clear();
      reverse = !reverse;
      continue;
    }
    run += *p;
  }
  if (!run.empty()) out.emplace_back(run, reverse);
  return out;
}

void pretty_strout(WINDOW* w, int y, int x, const char* text) {
  if (!w || !text) return;
  wmove(w, y, x);
  wattroff(w, A_REVERSE);
  for (auto& seg : markup_segments(text)) {
    if (seg.second)
      wattron(w, A_REVERSE);
    else
      wattroff(w, A_REVERSE);
    waddstr(w, seg.first.c_str());
  }
  wattroff(w, A_REVERSE);
}

void text_out(int y, int x, const char* text, bool newlines) {
  if (!g_scr.IsOk()) {
    const char* nl = newlines ? "\n" : "";
    printf("%s%s%s", nl, text ? text : "", nl);
    return;
  }
  if (text) mvwprintw(stdscr, y, x, "%s", text);
}

void clear_screen() { clear(); }

CHeaderWindow::~CHeaderWindow() {
  if (win) delwin(win);
}

int CHeaderWindow::Create(WINDOW* p, int lines, int cols, int y, int x) {
  parent = p;
  win = p ? subwin(p, lines, cols, y, x) : nullptr;
  return win ? 0 : -1;
}

int CHeaderWindow::OnInput(int) { return 0; }

int CHeaderWindow::Draw(int changed) {
  char now_text[32];
  memset(now_text, 0, sizeof now_text);
  time_t now = ui_now();
  ctime_r(&now, now_text);
  if (strncmp(now_text, last_time, sizeof last_time) == 0) return 0;
  memcpy(last_time, now_text, sizeof last_time);
  if (!win) return changed;
  wattrset(win, COLOR_PAIR(PAIR_TEXT));
  wredrawln(win, 0, getmaxy(win));
  mvwprintw(win, 0, 1, "%s", get_product_name());
  mvwprintw(win, 0, 32, " %.24s ", now_text);
  mvwprintw(win, 0, COLS - 15, "%s", WebAddress());
  wrefresh(win);
  return changed;
}
