/* Checks drive images after a VM session: the report at byte 0 and the data
 * behind it, read with its own parser.
 *
 *   zv_imgcheck report IMAGE
 *       Parses the report at byte 0 and prints key=value lines (date_epoch,
 *       status, x_lines, size, pass.N, passes, data_offset). Exit 1, with an
 *       error= line, when there is no well-formed report (see cmd_report).
 *   zv_imgcheck data IMAGE OFFSET[:END] KIND [ARGS]
 *       Checks every byte from OFFSET to END (default: the end of the image):
 *         zero                   all bytes 0
 *         test                   sector numbers: bytes 0-3 of each sector big-endian
 *                                device offset / 512, the rest 0
 *         random LO HI           4096-byte blocks, block B = ISAAC64 restarted with
 *                                seed B + S for one S in [LO, HI] (found from the
 *                                first whole block); prints seed=S
 *       Prints "ok" or the first mismatching offset; exit 1 on mismatch.
 *
 * The random blocks come from the program's ISAAC64 generator, whose bytes the
 * unit tests pin to known answers; the block-to-seed rule is this checker's own.
 */
#define _FILE_OFFSET_BITS 64
#define _XOPEN_SOURCE 700
#define _DEFAULT_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "scheme/isaac64.h"

/* The 4096 bytes of one random block for a seed. */
static void random_block(int32_t seed, uint8_t* out) { isaac64_blocks(seed, out, 1); }

/* ---- image access ---- */

static uint8_t* read_all(const char* path, long long* size) {
  FILE* f = fopen(path, "rb");
  uint8_t* buf;
  if (!f) {
    fprintf(stderr, "zv_imgcheck: %s: %s\n", path, strerror(errno));
    exit(2);
  }
  fseeko(f, 0, SEEK_END);
  *size = ftello(f);
  fseeko(f, 0, SEEK_SET);
  buf = (uint8_t*)malloc(*size + 1);
  if (!buf || fread(buf, 1, *size, f) != (size_t)*size) {
    fprintf(stderr, "zv_imgcheck: cannot read %s\n", path);
    exit(2);
  }
  buf[*size] = 0;
  fclose(f);
  return buf;
}

/* ---- report ---- */

/* One CRLF-terminated line starting at *pos; returns its length or -1. */
static int next_line(const uint8_t* buf, long long size, long long* pos, char* line, int cap) {
  long long p = *pos;
  int n = 0;
  while (p + 1 < size && !(buf[p] == '\r' && buf[p + 1] == '\n')) {
    if (buf[p] == 0 || buf[p] == '\n' || n + 1 >= cap) return -1;
    line[n++] = (char)buf[p++];
  }
  if (p + 1 >= size) return -1;
  line[n] = 0;
  *pos = p + 2;
  return n;
}

static int bad_report(const char* why, int line) {
  printf(line > 0 ? "error=%s (report line %d)\n" : "error=%s\n", why, line);
  return 1;
}

static int known_status(const char* s) {
  return !strcmp(s, "success") || !strcmp(s, "completed-with-warnings") || !strcmp(s, "failed") ||
         !strcmp(s, "unknown");
}

/* The report at byte 0: "Date: " with an RFC 2822 date, "X-Completion-Status: ",
 * "X-Lines: " with the number of body lines, an empty line, then exactly that
 * many body lines ("Disk wiping status: " as in the header, "Disk size: ",
 * "Time spent: ", an empty line, "Wiping log:", then "pass N: NAME is STATUS"
 * numbered from 1), every line ending in CR LF, and 32 zero bytes after it. */
static int cmd_report(const char* path) {
  static const char* body[] = {"Disk wiping status: ", "Disk size: ", "Time spent: ", "", "Wiping log:"};
  long long size, pos = 0;
  uint8_t* img = read_all(path, &size);
  char line[1024], status[1024] = "";
  const char* end;
  int x_lines = -1, npass = 0, i;
  struct tm tm;

  memset(&tm, 0, sizeof tm);
  if (next_line(img, size, &pos, line, sizeof line) < 0 || strncmp(line, "Date: ", 6) != 0)
    return bad_report("no report at byte 0", 0);
  end = strptime(line + 6, "%a, %d %b %Y %H:%M:%S %z", &tm);
  if (!end || *end) return bad_report("the date is not in RFC 2822 form", 1);
  printf("date_epoch=%lld\n", (long long)timegm(&tm) - (long long)tm.tm_gmtoff);
  if (next_line(img, size, &pos, line, sizeof line) < 0 || strncmp(line, "X-Completion-Status: ", 21) != 0 ||
      !known_status(line + 21))
    return bad_report("no X-Completion-Status line with a known status", 2);
  snprintf(status, sizeof status, "%s", line + 21);
  printf("status=%s\n", status);
  if (next_line(img, size, &pos, line, sizeof line) < 0 || sscanf(line, "X-Lines: %d", &x_lines) != 1 ||
      x_lines < 5)
    return bad_report("no X-Lines line with a count of at least 5", 3);
  printf("x_lines=%d\n", x_lines);
  if (next_line(img, size, &pos, line, sizeof line) != 0) return bad_report("no empty line after the header", 4);
  for (i = 0; i < x_lines; ++i) {
    int n = next_line(img, size, &pos, line, sizeof line), num = 0, off = 0;
    const char* is = line;
    if (n < 0) return bad_report("the body has fewer CR LF lines than X-Lines says", 5 + i);
    if (i < 5) {
      int k = (int)strlen(body[i]);
      if (strncmp(line, body[i], k) != 0 || (i >= 3 && n != k) || (i == 0 && strcmp(line + k, status) != 0))
        return bad_report("not the body line expected here (or a status other than the header's)", 5 + i);
      if (i == 1) printf("size=%s\n", line + k);
      continue;
    }
    if (sscanf(line, "pass %d: %n", &num, &off) != 1 || off == 0 || num != npass + 1)
      return bad_report("a wiping log line is not \"pass N: \" with the next number", 5 + i);
    while (strstr(is, " is ")) is = strstr(is, " is ") + 4;
    if (is == line || !known_status(is)) return bad_report("a pass line does not end in \" is \" STATUS", 5 + i);
    printf("pass.%d=%s\n", ++npass, line);
  }
  printf("passes=%d\n", npass);
  for (i = 0; i < 32; ++i)
    if (pos + i >= size || img[pos + i] != 0) return bad_report("the report is not followed by 32 zero bytes", 0);
  printf("data_offset=%lld\n", pos + 32);
  free(img);
  return 0;
}

/* ---- data ---- */

static int mismatch(long long off, uint8_t got, uint8_t want) {
  printf("mismatch at offset %lld: 0x%02x, expected 0x%02x\n", off, got, want);
  return 1;
}

static int cmd_data(int argc, char** argv) {
  long long size, off, p;
  const char* kind;
  uint8_t* img;
  if (argc < 5) return 2;
  img = read_all(argv[2], &size);
  off = atoll(argv[3]);
  if (strchr(argv[3], ':')) {
    long long end = atoll(strchr(argv[3], ':') + 1);
    if (end < size) size = end;
  }
  kind = argv[4];
  if (!strcmp(kind, "zero")) {
    for (p = off; p < size; ++p)
      if (img[p]) return mismatch(p, img[p], 0);
  } else if (!strcmp(kind, "test")) {
    for (p = off; p < size; ++p) {
      uint32_t sector = (uint32_t)(p / 512);
      int k = (int)(p % 512);
      uint8_t want = k < 4 ? (uint8_t)(sector >> (8 * (3 - k))) : 0;
      if (img[p] != want) return mismatch(p, img[p], want);
    }
  } else if (!strcmp(kind, "random") && argc > 6) {
    long long lo = atoll(argv[5]), hi = atoll(argv[6]), s, found = -1;
    long long first = (off + 4095) / 4096; /* first whole block */
    uint8_t block[4096];
    if ((first + 1) * 4096 > size) return 2;
    for (s = lo; s <= hi && found < 0; ++s) {
      random_block((int32_t)(uint32_t)(first + s), block);
      if (block[0] == img[first * 4096] && block[1] == img[first * 4096 + 1]) {
        int i, same = 1;
        for (i = 0; i < 4096 && same; ++i) same = block[i] == img[first * 4096 + i];
        if (same) found = s;
      }
    }
    if (found < 0) {
      printf("no seed in [%lld, %lld] gives the block at offset %lld\n", lo, hi, first * 4096);
      return 1;
    }
    printf("seed=%lld\n", found);
    for (p = off; p < size; p = (p / 4096 + 1) * 4096) {
      long long b = p / 4096, end = (b + 1) * 4096 < size ? (b + 1) * 4096 : size, q;
      random_block((int32_t)(uint32_t)(b + found), block);
      for (q = p; q < end; ++q)
        if (img[q] != block[q % 4096]) return mismatch(q, img[q], block[q % 4096]);
    }
  } else {
    fprintf(stderr, "zv_imgcheck: unknown data kind '%s'\n", kind);
    return 2;
  }
  printf("ok\n");
  free(img);
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 3 && !strcmp(argv[1], "report")) return cmd_report(argv[2]);
  if (argc >= 5 && !strcmp(argv[1], "data")) return cmd_data(argc, argv);
  fprintf(stderr, "usage: zv_imgcheck report IMAGE | data IMAGE OFFSET KIND [ARGS]\n");
  return 2;
}
