// A virtual terminal for interface tests: curses on a terminal description
// with its output thrown away, keys from a queue, the clock set by the test.
// The screen is read back from the curses buffers.
#pragma once
#include <curses.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <deque>
#include <string>

#include "support/fake_platform.h"
#include "ui/screen.h"

class VirtualTerminal : public FakePlatform {
 public:
  static inline std::deque<int> keys;
  // A popup would wait for ever once the queue is empty: it gets 'q'
  // (cancel), and the test fails on underflow.
  static inline bool underflow = false;
  static inline time_t now = 1700000000;

  VirtualTerminal(int lines, int cols) {
    size = {lines, cols};
    keys.clear();
    underflow = false;
    ok = g_scr.Init() == 1;
  }
  ~VirtualTerminal() {
    g_scr.Shutdown();
    if (screen) delscreen(screen);
    screen = nullptr;
  }
  bool Ok() const { return ok; }
  static std::string Row(int y) {
    std::string s;
    for (int x = 0; x < COLS; ++x) s += (char)(mvwinch(stdscr, y, x) & A_CHARTEXT);
    return s;
  }
  static std::string All() {
    std::string s;
    for (int y = 0; y < LINES; ++y) s += Row(y) + "\n";
    return s;
  }
  static void Keys(std::initializer_list<int> k) { keys.insert(keys.end(), k); }
  WINDOW* CursesInit() override {
    static FILE* out = fopen("/dev/null", "w");
    static FILE* in = fopen("/dev/null", "r");
    if (!(screen = newterm("xterm", out, in))) return nullptr;
    set_term(screen);
    resizeterm(size.first, size.second);
    return stdscr;
  }
  int Key() override {
    if (keys.empty()) return underflow = true, 'q';
    int v = keys.front();
    keys.pop_front();
    return v;
  }
  time_t UiClock() override { return now; }

 private:
  SCREEN* screen = nullptr;
  std::pair<int, int> size;
  bool ok = false;
};
