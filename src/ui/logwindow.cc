#include "ui/logwindow.h"

#include <string.h>

int overlay_height(int screen_lines) { return screen_lines < 37 ? screen_lines - 1 : 35; }

CLogWindow::~CLogWindow() {
  reader.SetSource(nullptr, 0);
  if (win) delwin(win);
}

int CLogWindow::Create(WINDOW* p, int, int, int, int) {
  parent = p;
  width = COLS;
  height = overlay_height(LINES);
  win = p ? subwin(p, height, width, (LINES + 1 - height) / 2, 0) : nullptr;
  if (!win) return -1;
  wattrset(win, A_BOLD | COLOR_PAIR(PAIR_DATA));
  return 0;
}

void CLogWindow::SetFile(const char* path, int f) {
  file_name = path ? path : "";
  follow = f;
  reader.SetSource(path, COLS - 2);
}

int CLogWindow::SetHeader(const char* text) {
  header = text ? text : "";
  return 0;
}

int CLogWindow::Draw(int changed) {
  size_t n = reader.GetLineCount();
  if (n != line_count) {
    dirty = 1;
    line_count = n;
    if (follow) first_line = (long)n < height - 1 ? 0 : (long)n - height + 2;
  }
  if (!changed && !dirty) return 0;
  if (!win) return 0;
  werase(win);
  set_pair(win, PAIR_TEXT);
  box(win, ACS_VLINE, ACS_HLINE);
  const std::string& title = header.empty() ? file_name : header;
  mvwprintw(win, 0, (width - (int)title.size()) / 2 - 1, " %s ", title.c_str());
  pretty_strout(win, height - 1, 2, Legend());
  set_pair(win, PAIR_DATA);
  std::string text;
  for (int row = 1; row <= height - 2; ++row) {
    long line = first_line + row - 1;
    if (line < 0 || (size_t)line >= n) continue;
    if (reader.GetLine((size_t)line, text) != 0) text.clear();
    mvwprintw(win, row, 1, "%s", text.c_str());
  }
  wnoutrefresh(win);
  dirty = 0;
  return 1;
}

int CLogWindow::OnInput(int key) {
  long before = first_line;
  switch (key) {
    case 'A':
    case 'a': follow = !follow; break;
    case 'Q':
    case 'q': g_scr.DelWindow(this); return 1;
    case KEY_DOWN: first_line += 1; break;
    case KEY_UP: first_line -= 1; break;
    case KEY_NPAGE: first_line += height - 2; break;
    case KEY_PPAGE: first_line -= height - 2; break;
    default: break;
  }
  long count = (long)line_count;
  if (first_line + height - 2 >= count) first_line = count < height - 1 ? 0 : count + 2 - height;
  if (first_line < 0) first_line = 0;
  if (first_line != before) dirty = 1;
  return 1;
}
