/* Checks drive images after a VM session, independently of the program's own
 * code: the report at byte 0 and the data behind it.
 *
 *   zv_imgcheck report IMAGE
 *       Parses the report at byte 0 and prints key=value lines (date,
 *       date_epoch, status, x_lines, body_status, size, time, pass.N,
 *       passes, data_offset). Exit 1, with an error= line, when there is no
 *       well-formed report (see cmd_report for what that means).
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
 * ISAAC64 is Bob Jenkins' published generator (RANDSIZL 8), seeded with the
 * bytes (seed >> (i mod 32)) & 0xff and read as the low byte of each result
 * word, one generation step per 256 bytes.
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

/* ---- ISAAC64 ---- */

#define RANDSIZL 8
#define RANDSIZ (1 << RANDSIZL)

typedef struct {
  uint64_t rsl[RANDSIZ];
  uint64_t mem[RANDSIZ];
  uint64_t a, b, c;
} isaac64_t;

#define IND(mm, x) (*(uint64_t*)((uint8_t*)(mm) + ((x) & ((RANDSIZ - 1) << 3))))
#define RNGSTEP(mix, a, b, mm, m, m2, r, x, y) \
  do {                                         \
    x = *m;                                    \
    a = (mix) + *(m2++);                       \
    *(m++) = y = IND(mm, x) + a + b;           \
    *(r++) = b = IND(mm, y >> RANDSIZL) + x;   \
  } while (0)

static void isaac64_step(isaac64_t* ctx) {
  uint64_t a = ctx->a, b = ctx->b + (++ctx->c), x, y;
  uint64_t *mm = ctx->mem, *r = ctx->rsl, *m, *m2, *mend;
  for (m = mm, mend = m2 = m + RANDSIZ / 2; m < mend;) {
    RNGSTEP(~(a ^ (a << 21)), a, b, mm, m, m2, r, x, y);
    RNGSTEP(a ^ (a >> 5), a, b, mm, m, m2, r, x, y);
    RNGSTEP(a ^ (a << 12), a, b, mm, m, m2, r, x, y);
    RNGSTEP(a ^ (a >> 33), a, b, mm, m, m2, r, x, y);
  }
  for (m2 = mm; m2 < mend;) {
    RNGSTEP(~(a ^ (a << 21)), a, b, mm, m, m2, r, x, y);
    RNGSTEP(a ^ (a >> 5), a, b, mm, m, m2, r, x, y);
    RNGSTEP(a ^ (a << 12), a, b, mm, m, m2, r, x, y);
    RNGSTEP(a ^ (a >> 33), a, b, mm, m, m2, r, x, y);
  }
  ctx->b = b;
  ctx->a = a;
}

#define MIX(a, b, c, d, e, f, g, h) \
  do {                              \
    a -= e; f ^= h >> 9; h += a;    \
    b -= f; g ^= a << 9; a += b;    \
    c -= g; h ^= b >> 23; b += c;   \
    d -= h; a ^= c << 15; c += d;   \
    e -= a; b ^= d >> 14; d += e;   \
    f -= b; c ^= e << 20; e += f;   \
    g -= c; d ^= f >> 17; f += g;   \
    h -= d; e ^= g << 14; g += h;   \
  } while (0)

static void isaac64_restart(isaac64_t* ctx, int32_t seed) {
  uint64_t a, b, c, d, e, f, g, h;
  uint64_t *mm = ctx->mem, *r = ctx->rsl;
  int i;
  for (i = 0; i < RANDSIZ; ++i) r[i] = (uint64_t)((seed >> (i % 32)) & 0xff);
  ctx->a = ctx->b = ctx->c = 0;
  a = b = c = d = e = f = g = h = 0x9e3779b97f4a7c13ULL;
  for (i = 0; i < 4; ++i) MIX(a, b, c, d, e, f, g, h);
  for (i = 0; i < RANDSIZ; i += 8) {
    a += r[i]; b += r[i + 1]; c += r[i + 2]; d += r[i + 3];
    e += r[i + 4]; f += r[i + 5]; g += r[i + 6]; h += r[i + 7];
    MIX(a, b, c, d, e, f, g, h);
    mm[i] = a; mm[i + 1] = b; mm[i + 2] = c; mm[i + 3] = d;
    mm[i + 4] = e; mm[i + 5] = f; mm[i + 6] = g; mm[i + 7] = h;
  }
  for (i = 0; i < RANDSIZ; i += 8) {
    a += mm[i]; b += mm[i + 1]; c += mm[i + 2]; d += mm[i + 3];
    e += mm[i + 4]; f += mm[i + 5]; g += mm[i + 6]; h += mm[i + 7];
    MIX(a, b, c, d, e, f, g, h);
    mm[i] = a; mm[i + 1] = b; mm[i + 2] = c; mm[i + 3] = d;
    mm[i + 4] = e; mm[i + 5] = f; mm[i + 6] = g; mm[i + 7] = h;
  }
  isaac64_step(ctx);
}

/* The 4096 bytes of one random block for a seed. */
static void random_block(isaac64_t* ctx, int32_t seed, uint8_t* out) {
  int i, k;
  isaac64_restart(ctx, seed);
  for (k = 0; k < 4096 / RANDSIZ; ++k) {
    isaac64_step(ctx);
    for (i = 0; i < RANDSIZ; ++i) out[k * RANDSIZ + i] = (uint8_t)ctx->rsl[i];
  }
}

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
  buf = malloc(*size + 1);
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
  if (line > 0) printf("error=%s (report line %d)\n", why, line);
  else printf("error=%s\n", why);
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
  long long size, pos = 0, body_start;
  uint8_t* img = read_all(path, &size);
  char line[1024], status[1024] = "";
  int x_lines = -1, n, npass = 0, i;
  struct tm tm;

  if (next_line(img, size, &pos, line, sizeof line) < 0 || strncmp(line, "Date: ", 6) != 0)
    return bad_report("no report at byte 0", 0);
  memset(&tm, 0, sizeof tm);
  {
    const char* end = strptime(line + 6, "%a, %d %b %Y %H:%M:%S %z", &tm);
    if (!end || *end) return bad_report("the date is not in RFC 2822 form", 1);
  }
  printf("date=%s\n", line + 6);
  printf("date_epoch=%lld\n", (long long)timegm(&tm) - (long long)tm.tm_gmtoff);
  if (next_line(img, size, &pos, line, sizeof line) < 0 || strncmp(line, "X-Completion-Status: ", 21) != 0)
    return bad_report("no X-Completion-Status line", 2);
  snprintf(status, sizeof status, "%s", line + 21);
  if (!known_status(status)) return bad_report("unknown completion status", 2);
  printf("status=%s\n", status);
  if (next_line(img, size, &pos, line, sizeof line) < 0 || sscanf(line, "X-Lines: %d", &x_lines) != 1 ||
      x_lines < 5)
    return bad_report("no X-Lines line with a count of at least 5", 3);
  printf("x_lines=%d\n", x_lines);
  if (next_line(img, size, &pos, line, sizeof line) != 0) return bad_report("no empty line after the header", 4);
  body_start = pos;
  for (i = 1; i <= x_lines; ++i) {
    n = next_line(img, size, &pos, line, sizeof line);
    if (n < 0) {
      printf("error=the body has fewer than X-Lines (%d) CR LF lines: %d\n", x_lines, i - 1);
      return 1;
    }
    switch (i) {
      case 1:
        if (strncmp(line, "Disk wiping status: ", 20) != 0) return bad_report("no wiping status", 4 + i);
        if (strcmp(line + 20, status) != 0) return bad_report("the body's status differs from the header's", 4 + i);
        printf("body_status=%s\n", line + 20);
        break;
      case 2:
        if (strncmp(line, "Disk size: ", 11) != 0) return bad_report("no disk size", 4 + i);
        printf("size=%s\n", line + 11);
        break;
      case 3:
        if (strncmp(line, "Time spent: ", 12) != 0) return bad_report("no time spent", 4 + i);
        printf("time=%s\n", line + 12);
        break;
      case 4:
        if (n != 0) return bad_report("no empty line before the wiping log", 4 + i);
        break;
      case 5:
        if (strcmp(line, "Wiping log:") != 0) return bad_report("no \"Wiping log:\" line", 4 + i);
        break;
      default: {
        int num = 0, off = 0;
        const char* is;
        if (sscanf(line, "pass %d: %n", &num, &off) != 1 || off == 0 || num != npass + 1)
          return bad_report("a wiping log line is not \"pass N: \" with the next number", 4 + i);
        is = strstr(line, " is ");
        if (!is) return bad_report("a pass line without \" is \"", 4 + i);
        while (strstr(is + 1, " is ")) is = strstr(is + 1, " is ");
        if (!known_status(is + 4)) return bad_report("a pass line ends in an unknown status", 4 + i);
        printf("pass.%d=%s\n", ++npass, line);
      }
    }
  }
  printf("passes=%d\n", npass);
  printf("body_bytes=%lld\n", pos - body_start);
  for (i = 0; i < 32; ++i) {
    if (pos + i >= size || img[pos + i] != 0) return bad_report("the report is not followed by 32 zero bytes", 0);
  }
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
    isaac64_t ctx;
    if ((first + 1) * 4096 > size) return 2;
    for (s = lo; s <= hi && found < 0; ++s) {
      random_block(&ctx, (int32_t)(uint32_t)(first + s), block);
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
      random_block(&ctx, (int32_t)(uint32_t)(b + found), block);
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
