// Checks drive images after a VM session: the report at byte 0 and the data
// behind it, read with its own parser.
//
//   zv_imgcheck report IMAGE
//       Parses the report at byte 0 and prints key=value lines (date_epoch,
//       status, x_lines, size, pass.N, passes, data_offset). Exit 1, with an
//       error= line, when there is no well-formed report (see report()).
//   zv_imgcheck data IMAGE OFFSET[:END] KIND [ARGS]
//       Checks every byte from OFFSET to END (default: the end of the image):
//         zero                   all bytes 0
//         test                   sector numbers: bytes 0-3 of each sector big-endian
//                                device offset / 512, the rest 0
//         random LO HI           4096-byte blocks, block B = ISAAC64 restarted with
//                                seed B + S for one S in [LO, HI] (found from the
//                                first whole block); prints seed=S
//       Prints "ok" or the first mismatching offset; exit 1 on mismatch.
//
// The random blocks come from the program's ISAAC64 generator, whose bytes the
// unit tests pin to known answers; the block-to-seed rule is this checker's own.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "scheme/isaac64.h"

typedef std::vector<uint8_t> bytes;

static bytes read_all(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fprintf(stderr, "zv_imgcheck: cannot read %s\n", path), exit(2);
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The CR LF line at `pos` (moved past it); false at a NUL, a bare LF or the end.
static bool next_line(const bytes& b, size_t& pos, std::string& line) {
  line.clear();
  for (size_t p = pos; p + 1 < b.size(); line += (char)b[p++]) {
    if (b[p] == '\r' && b[p + 1] == '\n') return pos = p + 2, true;
    if (b[p] == 0 || b[p] == '\n') return false;
  }
  return false;
}

static int bad_report(const char* why, int line) {
  printf(line > 0 ? "error=%s (report line %d)\n" : "error=%s\n", why, line);
  return 1;
}

static bool known_status(const std::string& s) {
  return s == "success" || s == "completed-with-warnings" || s == "failed" || s == "unknown";
}

static bool starts(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }

// The report at byte 0: "Date: " with an RFC 2822 date, "X-Completion-Status: ",
// "X-Lines: " with the number of body lines, an empty line, then exactly that
// many body lines ("Disk wiping status: " as in the header, "Disk size: ",
// "Time spent: ", an empty line, "Wiping log:", then "pass N: NAME is STATUS"
// numbered from 1), every line ending in CR LF, and 32 zero bytes after it.
static int report(const char* path) {
  static const std::string body[] = {"Disk wiping status: ", "Disk size: ", "Time spent: ", "", "Wiping log:"};
  bytes img = read_all(path);
  size_t pos = 0;
  std::string line, status;
  int x_lines = -1, npass = 0;
  struct tm tm = {};
  if (!next_line(img, pos, line) || !starts(line, "Date: ")) return bad_report("no report at byte 0", 0);
  const char* end = strptime(line.c_str() + 6, "%a, %d %b %Y %H:%M:%S %z", &tm);
  if (!end || *end) return bad_report("the date is not in RFC 2822 form", 1);
  printf("date_epoch=%lld\n", (long long)timegm(&tm) - (long long)tm.tm_gmtoff);
  if (!next_line(img, pos, line) || !starts(line, "X-Completion-Status: ") || !known_status(status = line.substr(21)))
    return bad_report("no X-Completion-Status line with a known status", 2);
  printf("status=%s\n", status.c_str());
  if (!next_line(img, pos, line) || sscanf(line.c_str(), "X-Lines: %d", &x_lines) != 1 || x_lines < 5)
    return bad_report("no X-Lines line with a count of at least 5", 3);
  printf("x_lines=%d\n", x_lines);
  if (!next_line(img, pos, line) || !line.empty()) return bad_report("no empty line after the header", 4);
  for (int i = 0; i < x_lines; ++i) {
    if (!next_line(img, pos, line)) return bad_report("the body has fewer CR LF lines than X-Lines says", 5 + i);
    if (i < 5) {
      const std::string& k = body[i];
      if (!starts(line, k) || (i >= 3 && line != k) || (i == 0 && line.substr(k.size()) != status))
        return bad_report("not the body line expected here (or a status other than the header's)", 5 + i);
      if (i == 1) printf("size=%s\n", line.c_str() + k.size());
      continue;
    }
    int num = 0, off = 0;
    if (sscanf(line.c_str(), "pass %d: %n", &num, &off) != 1 || off == 0 || num != npass + 1)
      return bad_report("a wiping log line is not \"pass N: \" with the next number", 5 + i);
    size_t is = line.rfind(" is ");
    if (is == std::string::npos || !known_status(line.substr(is + 4)))
      return bad_report("a pass line does not end in \" is \" STATUS", 5 + i);
    printf("pass.%d=%s\n", ++npass, line.c_str());
  }
  printf("passes=%d\n", npass);
  for (size_t i = 0; i < 32; ++i)
    if (pos + i >= img.size() || img[pos + i] != 0) return bad_report("the report is not followed by 32 zero bytes", 0);
  printf("data_offset=%zu\n", pos + 32);
  return 0;
}

static bytes random_block(long long seed) {
  bytes b(4096);
  isaac64_blocks((int32_t)(uint32_t)seed, b.data(), 1);
  return b;
}

static int data(int argc, char** argv) {
  bytes img = read_all(argv[2]);
  long long off = atoll(argv[3]), size = (long long)img.size();
  if (const char* to = strchr(argv[3], ':')) size = std::min(size, atoll(to + 1));
  const std::string kind = argv[4];
  const char k = kind == "zero" || kind == "test" || (kind == "random" && argc > 6) ? kind[0] : 0;
  long long seed = 0;
  if (k == 'r') {
    long long first = (off + 4095) / 4096;  // the first whole block
    if ((first + 1) * 4096 > size) return 2;
    for (seed = atoll(argv[5]); seed <= atoll(argv[6]); ++seed)
      if (!memcmp(random_block(first + seed).data(), &img[first * 4096], 4096)) break;
    if (seed > atoll(argv[6]))
      return printf("no seed in [%s, %s] gives the block at offset %lld\n", argv[5], argv[6], first * 4096), 1;
    printf("seed=%lld\n", seed);
  } else if (!k) {
    return fprintf(stderr, "zv_imgcheck: unknown data kind '%s'\n", kind.c_str()), 2;
  }
  bytes block;
  for (long long p = off; p < size; ++p) {
    uint8_t want = 0;
    uint32_t sector = (uint32_t)(p / 512);
    if (k == 't' && p % 512 < 4) want = (uint8_t)(sector >> (8 * (3 - p % 512)));
    if (k == 'r') {
      if (p == off || p % 4096 == 0) block = random_block(p / 4096 + seed);
      want = block[p % 4096];
    }
    if (img[p] != want) return printf("mismatch at offset %lld: 0x%02x, expected 0x%02x\n", p, img[p], want), 1;
  }
  printf("ok\n");
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 3 && !strcmp(argv[1], "report")) return report(argv[2]);
  if (argc >= 5 && !strcmp(argv[1], "data")) return data(argc, argv);
  fprintf(stderr, "usage: zv_imgcheck report IMAGE | data IMAGE OFFSET KIND [ARGS]\n");
  return 2;
}
