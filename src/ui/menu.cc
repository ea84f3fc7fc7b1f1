#include "ui/menu.h"

#include <string.h>

#include <algorithm>

// ---- CMenu ----

CMenu::~CMenu() {
  if (win) delwin(win);
}

int CMenu::SetMenuMode(int m) {
  mode = (m == MODE_SINGLE || m == MODE_CHECK) ? m : MODE_PLAIN;
  return mode;
}

void CMenu::AddItem(const std::string& text, int id) {
  texts[count] = text;
  ids[count] = id;
  checks[count] = 0;
  widest = std::max(widest, (int)text.size());
  ++count;
}

int CMenu::SetMenuItemArray(int n, const char** items) {
  count = 0;
  widest = 0;
  for (int i = 0; i < n && count < kMaxItems; ++i) AddItem(items && items[i] ? items[i] : "", i);
  current = 0;
  return count;
}

int CMenu::SetMenuItemArray(int n, int* id_list, const char* (*name)(int)) {
  if (!id_list || !name) return -1;
  count = 0;
  widest = 0;
  for (int i = 0; i < n && count < kMaxItems; ++i) {
    const char* text = name(id_list[i]);
    if (text) AddItem(text, id_list[i]);
  }
  current = 0;
  return count;
}

int CMenu::SetMenuCommands(std::vector<std::shared_ptr<CCommand>>& commands) {
  count = 0;
  widest = 0;
  for (size_t i = 0; i < commands.size() && count < kMaxItems; ++i) {
    const std::shared_ptr<CCommand>& c = commands[i];
    if (!c || c->hidden) continue;
    AddItem(c->GetName(), (int)i);
  }
  current = 0;
  return count;
}

int CMenu::SetCheck(int index, int value) {
  if (index < 0 || index >= kMaxItems) return -1;
  if (mode == MODE_SINGLE && value)
    for (int& c : checks) c = 0;
  checks[index] = value ? 1 : 0;
  return 0;
}

int CMenu::GetCheck(int index) {
  if (index < 0 || index >= kMaxItems) return -1;
  return checks[index];
}

// The text of the widest item fits between the text column and the right
// border.
int CMenu::PopupWidth() const {
  if (mode == MODE_PLAIN) return std::max(widest + 3, 25);
  return std::max(widest + 6, 58);
}

int CMenu::PopupHeight() const { return std::min(count + 2, LINES); }

bool CMenu::OnKey(int key) {
  switch (key) {
    case KEY_DOWN:
      if (count > 0) current = (current + 1) % count;
      break;
    case KEY_UP:
      if (count > 0) current = current == 0 ? count - 1 : current - 1;
      break;
    case ' ':
      if (count > 0 && current < count) {
        if (mode == MODE_SINGLE)
          SetCheck(current, 1);
        else if (mode == MODE_CHECK)
          checks[current] = !checks[current];
      }
      break;
    case 'Q':
    case 'q': result = -1; return true;
    default:
      if (is_enter_key(key)) {
        result = (count > 0 && current < count) ? ids[current] : -1;
        return true;
      }
      break;
  }
  return false;
}

int CMenu::Popup(WINDOW* parent, int y, int x, CScreen* screen) {
  if (!parent) return -1;
  if (current >= count) current = 0;
  width = PopupWidth();
  height = PopupHeight();
  if (y < 0) y = (LINES - height) / 2;
  if (x < 0) x = (COLS - width) / 2;
  if (y < 0) y = 0;
  if (x < 0) x = 0;
  win = subwin(parent, height, width, y, x);
  if (!win) return -1;
  werase(win);
  result = -1;
  for (;;) {
    if (screen) screen->Redraw(0);
    Draw();
    if (OnKey(ui_getkey())) break;
  }
  werase(win);
  wnoutrefresh(win);
  delwin(win);
  win = nullptr;
  if (screen) screen->SetLayoutChanged();
  return result;
}

void CMenu::Draw() {
  if (!win) return;
  wredrawln(win, 0, height);
  set_pair(win, PAIR_TEXT);
  box(win, ACS_VLINE, ACS_HLINE);
  int text_col = 1;
  if (mode != MODE_PLAIN) {
    for (int i = 0; i < count; ++i) {
      mvwaddstr(win, i + 1, 1, "[ ]");
      if (checks[i]) {
        set_pair(win, PAIR_DATA);
        mvwaddch(win, i + 1, 2, '*');
        set_pair(win, PAIR_TEXT);
      }
    }
    text_col = 4;
  }
  set_pair(win, PAIR_DATA);
  for (int i = 0; i < count; ++i) {
    if (i == current)
      wattron(win, A_REVERSE);
    else
      wattroff(win, A_REVERSE);
    for (int c = text_col; c < width - 1; ++c) mvwaddch(win, i + 1, c, ' ');
    mvwaddnstr(win, i + 1, text_col + 1, texts[i].c_str(), std::max(0, width - 2 - text_col));
  }
  wattroff(win, A_REVERSE);
  set_pair(win, PAIR_TEXT);
  const char* legend = mode == MODE_PLAIN ? " %Enter%-OK % Q %-Cancel " : " %Space%-Select %Enter%-OK % Q %-Cancel ";
  pretty_strout(win, count > 0 ? count + 1 : 1, 2, legend);
  wnoutrefresh(win);
  doupdate();
}

// ---- CNumberBox ----

CNumberBox::~CNumberBox() {
  if (win) delwin(win);
}

void CNumberBox::SetData(const char* t, uint64_t a, uint64_t b, uint64_t v) {
  if (t) title = t;
  minimum = std::min(a, b);
  maximum = std::max(a, b);
  value = std::min(std::max(v, minimum), maximum);
}

bool CNumberBox::OnKey(int key) {
  if (key >= '0' && key <= '9') {
    uint64_t next = 0;
    bool overflow = __builtin_mul_overflow(value, (uint64_t)10, &next) ||
                    __builtin_add_overflow(next, (uint64_t)(key - '0'), &next);
    if (!overflow && next > value) {
      value = std::min(next, maximum);
      dirty = 1;
    }
    return false;
  }
  switch (key) {
    case KEY_BACKSPACE:
    case KEY_DC:
    case 8:
    case 127:
      value /= 10;
      if (value < minimum) value = minimum;
      dirty = 1;
      return false;
    case KEY_BREAK:
    case 'q':
    case 'Q': result = -1; return true;
    default:
      if (is_enter_key(key)) {
        result = 0;
        return true;
      }
      return false;
  }
}

int CNumberBox::Popup(WINDOW* parent, CScreen* screen) {
  if (!parent) return -1;
  win = subwin(parent, height, width, (LINES - height) / 2, (COLS - width) / 2);
  if (!win) return -1;
  werase(win);
  dirty = 1;
  result = -1;
  for (;;) {
    // Whatever was drawn beneath may have covered the box: repaint it then.
    int beneath = screen ? screen->Redraw(0) : 0;
    Draw(beneath);
    if (OnKey(ui_getkey())) break;
  }
  curs_set(0);
  werase(win);
  wnoutrefresh(win);
  delwin(win);
  win = nullptr;
  if (screen) screen->SetLayoutChanged();
  return result;
}

void CNumberBox::Draw(int changed) {
  if (!win || !(changed || dirty)) return;
  werase(win);
  set_pair(win, PAIR_TEXT);
  box(win, ACS_VLINE, ACS_HLINE);
  mvwprintw(win, 0, (width - (int)title.size()) / 2 - 1, " %s ", title.c_str());
  pretty_strout(win, height - 1, 2, " %Enter%-OK % Q %-Cancel ");
  mvwprintw(win, 1, 1, " %lld-%lld:", (long long)minimum, (long long)maximum);
  set_pair(win, PAIR_DATA);
  char text[32];
  int n = snprintf(text, sizeof text, "%lld ", (long long)value);
  mvwaddstr(win, 1, width - n - 1, text);
  wnoutrefresh(win);
  doupdate();
  dirty = 0;
}

bool confirm_popup(WINDOW* parent, const char* question, CScreen* screen) {
  if (!parent) return false;
  int width = std::min((int)strlen(question) + 4, COLS);
  WINDOW* win = subwin(parent, 3, width, (LINES - 3) / 2, (COLS - width) / 2);
  if (!win) return false;
  int key;
  do {
    if (screen) screen->Redraw(0);
    werase(win);
    set_pair(win, PAIR_TEXT);
    box(win, ACS_VLINE, ACS_HLINE);
    set_pair(win, PAIR_DATA);
    mvwaddnstr(win, 1, 2, question, width - 4);
    wnoutrefresh(win);
    doupdate();
    key = ui_getkey();
  } while (key == ERR);
  werase(win);
  wnoutrefresh(win);
  delwin(win);
  if (screen) screen->SetLayoutChanged();
  return key == 'y' || key == 'Y';
}
