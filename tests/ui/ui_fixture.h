// A virtual terminal for interface tests: curses runs on a terminal
// description with its output thrown away, keys come from a queue and the
// clock is set by the test. The screen contents are read back from the
// curses buffers.
#pragma once
#include <curses.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <deque>
#include <string>

#include "ui/screen.h"

struct FakeInput {
  static std::deque<int>& Keys() {
    static std::deque<int> keys;
    return keys;
  }
  // Set when a loop asked for more keys than the test queued.
  static bool& Underflow() {
    static bool u = false;
    return u;
  }
  // With nothing queued a popup would wait for ever: answer 'q' (cancel)
  // and remember it so that the test can fail on it.
  static int Next() {
    auto& k = Keys();
    if (k.empty()) {
      Underflow() = true;
      return 'q';
    }
    int v = k.front();
    k.pop_front();
    return v;
  }
};

struct FakeClock {
  static time_t& Now() {
    static time_t now = 1700000000;
    return now;
  }
  static time_t Get() { return Now(); }
};

class VirtualTerminal {
 public:
  VirtualTerminal(int lines, int cols) {
    Lines() = lines;
    Cols() = cols;
    saved_init = g_curses_init;
    saved_keys = g_key_source;
    saved_clock = g_ui_clock;
    g_curses_init = &VirtualTerminal::InitCurses;
    g_key_source = &FakeInput::Next;
    g_ui_clock = &FakeClock::Get;
    FakeInput::Keys().clear();
    FakeInput::Underflow() = false;
    ok = g_scr.Init() == 1;
  }
  ~VirtualTerminal() {
    g_scr.Shutdown();
    if (Screen()) {
      delscreen(Screen());
      Screen() = nullptr;
    }
    if (Out()) {
      fclose(Out());
      Out() = nullptr;
    }
    if (In()) {
      fclose(In());
      In() = nullptr;
    }
    g_curses_init = saved_init;
    g_key_source = saved_keys;
    g_ui_clock = saved_clock;
  }
  bool Ok() const { return ok; }

  // Text of one screen row as it stands in the curses buffers.
  static std::string Row(int y) {
    std::string s;
    for (int x = 0; x < COLS; ++x) s += (char)(mvwinch(stdscr, y, x) & A_CHARTEXT);
    return s;
  }
  // Every row, joined with newlines (for failure messages and searches).
  static std::string All() {
    std::string s;
    for (int y = 0; y < LINES; ++y) s += Row(y) + "\n";
    return s;
  }
  static bool Reverse(int y, int x) { return (mvwinch(stdscr, y, x) & A_REVERSE) != 0; }
  static void Keys(std::initializer_list<int> keys) {
    for (int k : keys) FakeInput::Keys().push_back(k);
  }

 private:
  static int& Lines() {
    static int v = 25;
    return v;
  }
  static int& Cols() {
    static int v = 80;
    return v;
  }
  static SCREEN*& Screen() {
    static SCREEN* s = nullptr;
    return s;
  }
  static FILE*& Out() {
    static FILE* f = nullptr;
    return f;
  }
  static FILE*& In() {
    static FILE* f = nullptr;
    return f;
  }
  static WINDOW* InitCurses() {
    Out() = fopen("/dev/null", "w");
    In() = fopen("/dev/null", "r");
    Screen() = newterm("xterm", Out(), In());
    if (!Screen()) return nullptr;
    set_term(Screen());
    resizeterm(Lines(), Cols());
    return stdscr;
  }

  curses_init_fn_t saved_init;
  key_source_fn_t saved_keys;
  ui_clock_fn_t saved_clock;
  bool ok = false;
};
