#include "ui/dumpwindow.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "device/blkdev.h"
#include "ui/logwindow.h"
#include "ui/menu.h"

std::string format_dump_row(unsigned offset, const unsigned char* b) {
  char text[96];
  int n = snprintf(text, sizeof text, "%04X: ", offset);
  for (int i = 0; i < 16; ++i) {
    if (i == 8) text[n++] = ' ';
    n += snprintf(text + n, sizeof text - n, "%02X ", b[i]);
  }
  for (int i = 0; i < 16; ++i) text[n++] = isprint(b[i]) ? (char)b[i] : '.';
  return std::string(text, n);
}

CDumpWindow::~CDumpWindow() {
  device.reset();
  if (win) delwin(win);
}

uint64_t CDumpWindow::LastSector() const {
  uint64_t sectors = device ? device->Snapshot().size_sectors : 0;
  return sectors ? sectors - 1 : 0;
}

int CDumpWindow::VisibleRows() const {
  int rows = height - 3;
  if (rows < 0) rows = 0;
  return rows < kRows ? rows : kRows;
}

int CDumpWindow::Create(WINDOW* p, int, int, int, int) {
  parent = p;
  height = overlay_height(LINES);
  win = p ? subwin(p, height, width, (LINES + 1 - height) / 2, (COLS - width) / 2) : nullptr;
  if (!win) return -1;
  wattrset(win, A_BOLD | COLOR_PAIR(PAIR_DATA));
  return 0;
}

int CDumpWindow::Draw(int changed) {
  if (changed) dirty = 1;
  if (!dirty) return 0;
  if (!win) return 0;
  werase(win);
  set_pair(win, PAIR_TEXT);
  box(win, ACS_VLINE, ACS_HLINE);
  std::string model = device ? device->Snapshot().model : std::string();
  mvwprintw(win, 0, (width - (int)model.size()) / 2 - 1, " %s ", model.c_str());
  unsigned long long last = LastSector();
  mvwprintw(win, 1, 2, "Sector (0-%lld): %lld / Hex (0-%llX): %llX ", last, (unsigned long long)sector, last,
            (unsigned long long)sector);
  pretty_strout(win, height - 1, 2,
                height <= 34 ? " %PgUp/PgDn%-Prev/Next %Up/Dn%-Scroll % S %-Select % Q %-Close "
                             : " %PgUp/PgDn%-Prev/Next % S %-Select % Q %-Close ");
  set_pair(win, PAIR_DATA);
  errno = 0;
  int r = device ? device->ReadSector(sector, data) : ENODEV;
  if (r != 0) {
    int err = r > 0 ? r : (errno ? errno : EIO);
    mvwprintw(win, 3, 2, "An error encountered while reading data:");
    mvwprintw(win, 4, 2, "%s.", strerror(err));
  } else {
    unsigned offset = (unsigned)first_row * 16;
    if (offset <= kSectorSize - 1 && height >= 4) {
      for (int row = 2; row < height - 1 && offset <= kSectorSize - 1; ++row, offset += 16)
        mvwprintw(win, row, 1, "%s", format_dump_row(offset, data + offset).c_str());
    }
  }
  wnoutrefresh(win);
  dirty = 0;
  return 1;
}

int CDumpWindow::OnInput(int key) {
  uint64_t old_sector = sector;
  int old_row = first_row;
  switch (key) {
    case KEY_NPAGE:
      if (sector < LastSector()) ++sector;
      break;
    case KEY_PPAGE:
      if (sector > 0) --sector;
      break;
    case KEY_DOWN:
      if (height - 2 <= kRows - first_row) ++first_row;
      break;
    case KEY_UP:
      if (first_row > 0) --first_row;
      break;
    case 'S':
    case 's': {
      CNumberBox box;
      box.SetData(" Enter sector number ", 0, LastSector(), sector);
      if (box.Popup(win, &g_scr) == 0) sector = box.Value();
      dirty = 1;
      break;
    }
    case 'Q':
    case 'q':
      if (win) werase(win);
      g_scr.DelWindow(this);
      return 1;
    default: break;
  }
  if (sector != old_sector || first_row != old_row) dirty = 1;
  return 1;
}
