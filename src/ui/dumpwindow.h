// Hex view of one 512-byte sector of a device.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>

#include "ui/screen.h"

class CBlkDev;

// One row of the dump: offset, 16 bytes in hex (a gap after the eighth) and
// the same bytes as characters, non-printable ones as '.'.
std::string format_dump_row(unsigned offset, const unsigned char* bytes16);

class CDumpWindow : public CGenericWnd {
 public:
  static constexpr int kWidth = 74;
  static constexpr int kSectorSize = 512;
  static constexpr int kRows = kSectorSize / 16;

  CDumpWindow() = default;
  ~CDumpWindow() override;
  int Create(WINDOW* parent, int lines, int cols, int y, int x) override;
  int OnInput(int key) override;
  int Draw(int changed) override;
  void SetDevice(std::shared_ptr<CBlkDev> dev) { device = std::move(dev); }

  uint64_t Sector() const { return sector; }
  int FirstRow() const { return first_row; }
  int Height() const { return height; }
  uint64_t LastSector() const;
  // Number of data rows that fit between the title and the legend.
  int VisibleRows() const;

 private:
  WINDOW* win = nullptr;
  WINDOW* parent = nullptr;
  uint64_t sector = 0;
  unsigned char data[kSectorSize] = {0};
  std::shared_ptr<CBlkDev> device;
  int first_row = 0;
  int width = kWidth;
  int height = 0;
  int dirty = 1;
};
