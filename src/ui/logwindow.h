// A boxed, scrollable overlay showing a text file through a log reader
// (the help window).
#pragma once
#include <string>

#include "ui/logreader.h"
#include "ui/screen.h"

class CLogWindow : public CGenericWnd {
 public:
  CLogWindow() = default;
  ~CLogWindow() override;
  int Create(WINDOW* parent, int lines, int cols, int y, int x) override;
  int OnInput(int key) override;
  int Draw(int changed) override;
  void SetFile(const char* path, int follow);
  int SetHeader(const char* text);

  // Scroll state, for tests.
  size_t FirstLine() const { return first_line; }
  int Height() const { return height; }
  int Follow() const { return follow; }
  CLogReader& Reader() { return reader; }

  static const char* Legend() { return " %PgUp/PgDn%-Prev/Next %Up/Dn%-Scroll % Q %-Close "; }

 private:
  WINDOW* win = nullptr;
  WINDOW* parent = nullptr;
  CLogReader reader;
  std::string file_name;
  std::string header;
  size_t line_count = 0;
  long first_line = 0;
  int width = 0;
  int height = 0;
  int follow = 1;
  int dirty = 1;
};

// Height of a full-screen overlay: 35 lines, or one less than the screen
// when it has fewer than 37.
int overlay_height(int screen_lines);
