// The curses screen: the window stack, the single input loop, the header
// line, and the two text helpers every window uses.
#pragma once
#include <curses.h>
#include <time.h>

#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/platform.h"

class CBlkDevMgr;

// Colour pairs: pair n is curses colour n on black.
enum {
  PAIR_BLACK = 0,
  PAIR_RED = 1,
  PAIR_GREEN = 2,
  PAIR_YELLOW = 3,
  PAIR_BLUE = 4,
  PAIR_MAGENTA = 5,
  PAIR_CYAN = 6,
  PAIR_WHITE = 7,
};
// Normal text and data.
constexpr int PAIR_TEXT = PAIR_WHITE;
constexpr int PAIR_DATA = PAIR_GREEN;

// Keys as they arrive from curses (Enter comes as 10 or 13, Tab as 9).
constexpr int KEY_ENTER_LF = 10;
constexpr int KEY_ENTER_CR = 13;
constexpr int KEY_TAB = 9;
inline bool is_enter_key(int key) { return key == KEY_ENTER_LF || key == KEY_ENTER_CR || key == KEY_ENTER; }

// The next key and the interface's clock, from the platform.
inline int ui_getkey() { return platform().Key(); }
inline time_t ui_now() { return platform().UiClock(); }

// Sets the colour pair of a window, keeping its other attributes.
void set_pair(WINDOW* w, int pair);

// One visible element of the screen.
class CGenericWnd {
 public:
  virtual ~CGenericWnd() {}
  // 0 on success, -1 when the curses window cannot be made.
  virtual int Create(WINDOW* parent, int lines, int cols, int y, int x) = 0;
  // 0: not handled (offer to the next window), 1: consumed, -1: leave the loop.
  virtual int OnInput(int key) = 0;
  // Draw when `changed` or when the window has changes of its own; 1 when
  // something was drawn into the curses buffers.
  virtual int Draw(int changed) = 0;
};

class CScreen {
 public:
  CScreen() = default;
  virtual ~CScreen();
  // 1 when curses runs (or already ran), 0 when it cannot start.
  int Init();
  bool IsOk() const { return scr != nullptr; }
  void CreateLayout(CBlkDevMgr* mgr);
  // Puts a window on top of the stack, which owns it from then on.
  void AddWindow(std::unique_ptr<CGenericWnd> w);
  // Takes a window off the stack and destroys it (a window may remove itself
  // from its OnInput, and then returns at once).
  void DelWindow(CGenericWnd* w);
  int Redraw(int update);
  void WindowLoop();
  // Makes the next Redraw repaint every window (popups call it when they close).
  void SetLayoutChanged() { layout_changed = 1; }

  // Leaves curses and deletes the windows; the destructor does the same.
  void Shutdown();
  const std::list<std::unique_ptr<CGenericWnd>>& Windows() const { return windows; }

  CScreen(const CScreen&) = delete;
  CScreen& operator=(const CScreen&) = delete;

 private:
  WINDOW* scr = nullptr;
  std::list<std::unique_ptr<CGenericWnd>> windows;  // first entry is the bottom of the stack
  int layout_changed = 0;
};

extern CScreen g_scr;

// One line with `%` markup: a single % toggles reverse video, %% prints one %.
void pretty_strout(WINDOW* w, int y, int x, const char* text);
// The same markup split into runs of text, each with its reverse-video state.
std::vector<std::pair<std::string, bool>> markup_segments(const char* text);
// Prints on the standard screen, or on standard output before Init.
void text_out(int y, int x, const char* text, bool newlines);
// Clears the standard screen (curses clear; nothing happens before Init).
void clear_screen();

// The one-line header: product name, clock and the maker's address.
class CHeaderWindow : public CGenericWnd {
 public:
  CHeaderWindow() = default;
  ~CHeaderWindow() override;
  int Create(WINDOW* parent, int lines, int cols, int y, int x) override;
  int OnInput(int key) override;
  int Draw(int changed) override;

  static const char* WebAddress() { return "www.zorvane.io"; }

 private:
  WINDOW* win = nullptr;
  WINDOW* parent = nullptr;
  char last_time[32] = {0};
};
