// Formatting and small utility helpers used throughout the program.
#pragma once
#include <cstdint>
#include <string>

// Size in decimal units; see the unit letters B S K M G T P, any other letter
// picks the unit automatically.
class CSizeStr {
 public:
  CSizeStr(unsigned long long bytes, char unit);
  operator const char*() const { return buf; }
  const char* c_str() const { return buf; }

 private:
  char buf[64];
};

// Duration "mm:ss" or "h:mm:ss"; negative values read "0:00 +mm:ss".
class CTimeStr {
 public:
  explicit CTimeStr(int seconds);
  operator const char*() const { return buf; }
  const char* c_str() const { return buf; }

 private:
  char buf[19];
};

// Local time in RFC 2822 form.
class CDateStr {
 public:
  CDateStr(const long& time, char mode);
  operator const char*() const { return buf; }
  const char* c_str() const { return buf; }

 private:
  char buf[64];
};

uint64_t get_nanotime();
uint64_t get_utime();

std::string& rtrim(std::string& s);
std::string& ltrim(std::string& s);
std::string& trim(std::string& s);
bool string_ends_with(const char* s, const char* suffix);
// Reads the first line of a file, trimmed; 1 when read, 0 when it cannot be opened.
int read_string_from_file(const char* path, std::string& out);

// Page-aligned block for direct I/O.
class CAlignedBuffer {
 public:
  explicit CAlignedBuffer(unsigned long size);
  ~CAlignedBuffer();
  CAlignedBuffer(const CAlignedBuffer&) = delete;
  CAlignedBuffer& operator=(const CAlignedBuffer&) = delete;
  unsigned char* get() const { return static_cast<unsigned char*>(block); }

 private:
  void* block;
};

// Hex dump to the debug logger, one DEBUG line per row of `width` bytes.
void dump_buffer(unsigned char* data, int length, int width);
