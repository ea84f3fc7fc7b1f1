// Popup pieces with modal key loops: the boxed menu (plain choice, single
// choice, check boxes) and the one-line number box.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "command/command.h"
#include "ui/screen.h"

class CMenu {
 public:
  static constexpr int kMaxItems = 64;
  enum { MODE_PLAIN = 0, MODE_SINGLE = 1, MODE_CHECK = 2 };

  CMenu() = default;
  ~CMenu();
  int SetMenuMode(int mode);
  int SetMenuItemArray(int n, const char** texts);
  int SetMenuItemArray(int n, int* ids, const char* (*name)(int));
  int SetMenuCommands(std::vector<std::shared_ptr<CCommand>>& commands);
  int SetCheck(int index, int value);
  int GetCheck(int index);
  // Runs the menu; the chosen item's id, or -1.
  int Popup(WINDOW* parent, int y, int x, CScreen* screen);
  void Draw();

  // One key of the popup loop: true when the menu closes (Result() is then
  // the chosen id or -1).
  bool OnKey(int key);
  // Size of the popup for the current items and mode.
  int PopupWidth() const;
  int PopupHeight() const;
  int Count() const { return count; }
  int Current() const { return current; }
  int Result() const { return result; }
  int Mode() const { return mode; }
  const std::string& ItemText(int i) const { return texts[i]; }
  int ItemId(int i) const { return ids[i]; }

  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;

 private:
  void AddItem(const std::string& text, int id);

  WINDOW* win = nullptr;
  std::string texts[kMaxItems];
  int ids[kMaxItems] = {0};
  int checks[kMaxItems] = {0};
  int count = 0;
  int widest = 0;
  int current = 0;
  int result = -1;
  int width = 0;
  int height = 0;
  int mode = MODE_PLAIN;
};

class CNumberBox {
 public:
  static constexpr int kWidth = 60;
  static constexpr int kHeight = 3;

  CNumberBox() = default;
  ~CNumberBox();
  void SetData(const char* title, uint64_t a, uint64_t b, uint64_t value);
  // 0 when accepted (Value() is then the number), -1 when cancelled.
  int Popup(WINDOW* parent, CScreen* screen);
  void Draw(int changed);

  // One key of the popup loop: true when the box closes (Result() set).
  bool OnKey(int key);
  uint64_t Value() const { return value; }
  uint64_t Minimum() const { return minimum; }
  uint64_t Maximum() const { return maximum; }
  int Result() const { return result; }

  CNumberBox(const CNumberBox&) = delete;
  CNumberBox& operator=(const CNumberBox&) = delete;

 private:
  WINDOW* win = nullptr;
  uint64_t minimum = 0;
  uint64_t maximum = 0;
  uint64_t value = 0;
  std::string title;
  int width = kWidth;
  int height = kHeight;
  int result = -1;
  int dirty = 1;
};

// A one-line question in a box, answered with y (true) or anything else
// (false); the screen beneath keeps being redrawn while it waits.
bool confirm_popup(WINDOW* parent, const char* question, CScreen* screen);
