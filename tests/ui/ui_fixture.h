// A virtual terminal for interface tests: curses on a terminal description
// with its output thrown away, keys from a queue, the clock set by the test.
// The screen is read back from the curses buffers.
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
  // A popup would wait for ever once the queue is empty: it gets 'q'
  // (cancel), and the test fails on Underflow().
  static bool& Underflow() {
    static bool u = false;
    return u;
  }
  static int Next() {
    if (Keys().empty()) return Underflow() = true, 'q';
    int v = Keys().front();
    Keys().pop_front();
    return v;
  }
};

struct FakeClock {
  static time_t& Now() {
    static time_t now = 1700000000;
    return now;
  }
};

class VirtualTerminal {
 public:
  VirtualTerminal(int lines, int cols)
      : saved_init(g_curses_init), saved_keys(g_key_source), saved_clock(g_ui_clock) {
    size() = {lines, cols};
    g_curses_init = [] {
      term().out = fopen("/dev/null", "w");
      term().in = fopen("/dev/null", "r");
      term().screen = newterm("xterm", term().out, term().in);
      if (!term().screen) return (WINDOW*)nullptr;
      set_term(term().screen);
      resizeterm(size().first, size().second);
      return stdscr;
    };
    g_key_source = &FakeInput::Next;
    g_ui_clock = [] { return FakeClock::Now(); };
    FakeInput::Keys().clear();
    FakeInput::Underflow() = false;
    ok = g_scr.Init() == 1;
  }
  ~VirtualTerminal() {
    g_scr.Shutdown();
    if (term().screen) delscreen(term().screen);
    for (FILE* f : {term().out, term().in})
      if (f) fclose(f);
    term() = {};
    g_curses_init = saved_init;
    g_key_source = saved_keys;
    g_ui_clock = saved_clock;
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
  static void Keys(std::initializer_list<int> keys) { FakeInput::Keys().insert(FakeInput::Keys().end(), keys); }

 private:
  struct terminal {
    SCREEN* screen = nullptr;
    FILE *out = nullptr, *in = nullptr;
  };
  static terminal& term() {
    static terminal t;
    return t;
  }
  static std::pair<int, int>& size() {
    static std::pair<int, int> s;
    return s;
  }
  curses_init_fn_t saved_init;
  key_source_fn_t saved_keys;
  ui_clock_fn_t saved_clock;
  bool ok = false;
};
