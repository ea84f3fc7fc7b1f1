#include "app/util.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <fstream>

#include "app/log.h"

CSizeStr::CSizeStr(unsigned long long bytes, char unit) {
  char u = (char)toupper((unsigned char)unit);
  if (u != 'B' && u != 'S' && u != 'K' && u != 'M' && u != 'G' && u != 'T' && u != 'P') {
    if (bytes > 1000000000000000ULL)
      u = 'P';
    else if (bytes > 1000000000000ULL)
      u = 'T';
    else if (bytes > 1000000000ULL)
      u = 'G';
    else if (bytes > 1000000ULL)
      u = 'M';
    else if (bytes > 1000ULL)
      u = 'K';
    else
      u = 'B';
  }
  unsigned long long div = 0;
  const char* name = "";
  switch (u) {
    case 'B': snprintf(buf, sizeof buf, "%lld Bytes", (long long)bytes); return;
    case 'S': snprintf(buf, sizeof buf, "%lld sectors", (long long)(bytes >> 9)); return;
    case 'K': snprintf(buf, sizeof buf, "%lld kB", (long long)(bytes / 1000)); return;
    case 'M':
      div = 1000000ULL;
      name = "MB";
      break;
    case 'G':
      div = 1000000000ULL;
      name = "GB";
      break;
    case 'T':
      div = 1000000000000ULL;
      name = "TB";
      break;
    default:
      div = 1000000000000000ULL;
      name = "PB";
      break;
  }
  snprintf(buf, sizeof buf, "%lld.%lld %s", (long long)(bytes / div), (long long)((bytes * 10 / div) % 10), name);
}

CTimeStr::CTimeStr(int seconds) {
  buf[0] = 0;
  long long s = seconds;
  size_t used = 0;
  if (s < 0) {
    used = (size_t)snprintf(buf, sizeof buf, "0:00 +");
    s = -s;
  }
  long long h = s / 3600, m = (s % 3600) / 60, r = s % 60;
  if (h == 0)
    snprintf(buf + used, sizeof buf - used, "%02lld:%02lld", m, r);
  else
    snprintf(buf + used, sizeof buf - used, "%lld:%02lld:%02lld", h, m, r);
}

CDateStr::CDateStr(const long& time, char /*mode*/) {
  time_t t = (time_t)time;
  struct tm tmv;
  buf[0] = 0;
  if (localtime_r(&t, &tmv)) strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S %z", &tmv);
}

uint64_t get_nanotime() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000000ULL + (uint64_t)ts.tv_nsec;
}

uint64_t get_utime() { return get_nanotime() / 1000; }

std::string& rtrim(std::string& s) {
  size_t n = s.size();
  while (n > 0 && isspace((unsigned char)s[n - 1])) --n;
  s.erase(n);
  return s;
}

std::string& ltrim(std::string& s) {
  size_t i = 0;
  while (i < s.size() && isspace((unsigned char)s[i])) ++i;
  s.erase(0, i);
  return s;
}

std::string& trim(std::string& s) { return ltrim(rtrim(s)); }

bool string_ends_with(const char* s, const char* suffix) {
  if (!s || !suffix) return false;
  size_t ls = strlen(s), lx = strlen(suffix);
  if (lx > ls) return false;
  return memcmp(s + ls - lx, suffix, lx) == 0;
}

int read_string_from_file(const char* path, std::string& out) {
  std::ifstream f(path);
  if (!f.is_open()) return 0;
  std::string line;
  std::getline(f, line);
  out = line;
  trim(out);
  return 1;
}

CAlignedBuffer::CAlignedBuffer(unsigned long size) : block(valloc(size)) {}

CAlignedBuffer::~CAlignedBuffer() { free(block); }

void dump_buffer(unsigned char* data, int length, int width) {
  if (!data || width <= 0 || !g_dbg_log.isEnabledFor(log4cplus::DEBUG_LOG_LEVEL)) return;
  for (int row = 0; row < length; row += width) {
    int n = length - row < width ? length - row : width;
    std::string line;
    char hex[4];
    for (int i = 0; i < n; ++i) {
      snprintf(hex, sizeof hex, "%02X ", data[row + i]);
      line += hex;
    }
    line += " | ";
    for (int i = 0; i < n; ++i) line += isprint(data[row + i]) ? (char)data[row + i] : '.';
    LOG_DEBUG(g_dbg_log, line);
  }
}
