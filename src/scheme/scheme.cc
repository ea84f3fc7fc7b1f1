#include "scheme/scheme.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "app/globals.h"
#include "app/log.h"

CSchemeMgr g_scheme;

static const size_t kMaxPattern = 65536;
static const char* kBuiltinDefault = "7-pass US DoD 5220-22M(ECE)";

int CScheme::Load(const char* file) {
  if (!file) return EINVAL;
  FILE* f = fopen(file, "r");
  if (!f) {
    int err = errno;
    LOG_ERROR(g_dbg_log, "Could not open scheme file '" << file << "': " << strerror(err));
    return err;
  }
  path = file;
  rating = 0;
  bool named = false;
  int previous_weight = 1;
  char line[1024];
  while (fgets(line, sizeof line, f)) {
    if (!named) {
      char* open = strchr(line, '[');
      char* close = open ? strrchr(open, ']') : nullptr;
      if (open && close) {
        name.assign(open + 1, close);
        named = true;
        continue;
      }
      int number;
      if (sscanf(line, "%d.", &number) != 1) continue;
      name = "User-defined";
      named = true;
    }
    int weight = AddPass(line, previous_weight);
    if (weight > 0) {
      // Tens of thousands of complement passes would take the sum past the
      // largest int: such a scheme keeps the highest rating there is.
      long long sum = (long long)rating + weight + (passes.back().verify ? 1 : 0);
      rating = sum > INT_MAX ? INT_MAX : (int)sum;
      previous_weight = weight;
    }
  }
  fclose(f);
  if (passes.empty()) {
    LOG_ERROR(g_dbg_log, "Scheme '" << name << "' load failed: bad file format");
    return -1;
  }
  LOG_INFO(g_dbg_log, "Scheme '" << name << "': " << passes.size() << " passes, rating " << rating);
  return 0;
}

int CScheme::AddPass(char* line, int previous_weight) {
  for (char* p = line; *p; ++p) *p = (char)tolower((unsigned char)*p);
  CPass pass;
  int weight;
  if (strstr(line, "random")) {
    pass.type = PASS_RANDOM;
    weight = 4;
  } else if (strstr(line, "complement")) {
    pass.type = PASS_COMPLEMENT;
    weight = previous_weight + 1;
  } else if (strstr(line, "test")) {
    pass.type = PASS_TEST;
    weight = 1;
  } else if (strstr(line, "zero")) {
    pass.type = PASS_ZERO;
    weight = 1;
  } else if (AddPattern(line, pass)) {
    pass.type = PASS_PATTERN;
    weight = 1;
  } else {
    return 0;
  }
  pass.verify = strstr(line, "verify") != nullptr;
  passes.push_back(pass);
  return weight;
}

bool CScheme::AddPattern(char* line, CPass& pass) {
  pass.pattern.clear();
  pass.pattern_length = 0;
  const char* dot = strchr(line, '.');
  if (!dot) return false;
  std::string rest(dot + 1);
  size_t pos = 0;
  bool full = false;
  while (!full && pos <= rest.size()) {
    size_t comma = rest.find(',', pos);
    std::string item = rest.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? rest.size() + 1 : comma + 1;
    unsigned count = 1, value = 0;
    size_t plus = item.find('+');
    if (plus != std::string::npos) {
      if (sscanf(item.c_str() + plus, "+%u %x", &count, &value) != 2) continue;
    } else if (sscanf(item.c_str(), "%x", &value) != 1) {
      continue;
    }
    size_t room = kMaxPattern - pass.pattern.size();
    if (count >= room) {
      count = (unsigned)room;
      full = true;  // the pattern is complete; the rest of the line is not read
    }
    pass.pattern.insert(pass.pattern.end(), count, (unsigned char)(value & 0xFF));
  }
  pass.pattern_length = (int)pass.pattern.size();
  return !pass.pattern.empty();
}

int CScheme::PrintPassName(int index, char* buffer, int size) const {
  if (!buffer || size < 0) return 0;
  if (index < 0 || index >= (int)passes.size()) {
    if (size > 0) buffer[0] = 0;
    return 0;
  }
  const CPass& p = passes[index];
  std::string text;
  switch (p.type) {
    case PASS_ZERO: text = "zero"; break;
    case PASS_TEST: text = "test"; break;
    case PASS_RANDOM: text = "random"; break;
    case PASS_COMPLEMENT: text = "complementary"; break;
    case PASS_PATTERN: {
      if (p.pattern_length <= 0 || p.pattern.empty()) return 0;
      int n = std::min<int>(p.pattern_length, (int)p.pattern.size());
      char hex[4];
      for (int i = 0; i < n; ++i) {
        snprintf(hex, sizeof hex, "%02hhX", p.pattern[i]);
        text += hex;
        if (i == n - 1) break;
        if (text.size() > 32) {
          text += "...";
          break;
        }
        text += ", ";
      }
      break;
    }
    default: text = "unknown"; break;
  }
  return snprintf(buffer, (size_t)size, "%s", text.c_str());
}

bool compare(const CScheme* a, const CScheme* b) {
  if (a->rating != b->rating) return a->rating > b->rating;
  return a->name > b->name;
}

CSchemeMgr::~CSchemeMgr() { Cleanup(); }

int CSchemeMgr::Load(const char* directory) {
  LOG_INFO(g_dbg_log, "Loading schemes...");
  ReadEnvironment();
  DIR* dir = directory ? opendir(directory) : nullptr;
  if (!dir) {
    int err = directory ? errno : EINVAL;
    LOG_ERROR(g_dbg_log, "Could not open schemes dir '" << (directory ? directory : "") << "': " << strerror(err));
    return err;
  }
  while (struct dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::unique_ptr<CScheme> s(new CScheme);
    std::string file = std::string(directory) + "/" + e->d_name;
    if (s->Load(file.c_str()) == 0) schemes.push_back(std::move(s));
  }
  closedir(dir);
  std::sort(schemes.begin(), schemes.end(), [](const std::unique_ptr<CScheme>& a, const std::unique_ptr<CScheme>& b) {
    return compare(a.get(), b.get());
  });
  LOG_INFO(g_dbg_log, "Loaded " << schemes.size() << " schemes");
  return 0;
}

void CSchemeMgr::ReadEnvironment() {
  const char* v = getenv("VERIFY");
  SetVerify(read_env_y_n(v ? v : getenv("VERIFY_LAST_PASS")));
  SetResetDCO(read_env_y_n(getenv("RESET_DCO")));
  SetResetHPA(read_env_y_n(getenv("RESET_HPA")));
  SetAtaErase(read_env_y_n(getenv("ATA_ERASE")));
}

void CSchemeMgr::SetVerify(int v) {
  verify = v ? 1 : 0;
  LOG_INFO(g_wipe_log, (verify ? "Verification enabled" : "Verification disabled"));
}

void CSchemeMgr::SetResetDCO(int v) {
  reset_dco = v ? 1 : 0;
  LOG_INFO(g_wipe_log, (reset_dco ? "DCO reset enabled" : "DCO reset disabled"));
}

void CSchemeMgr::SetResetHPA(int v) {
  reset_hpa = v ? 1 : 0;
  LOG_INFO(g_wipe_log, (reset_hpa ? "HPA reset enabled" : "HPA reset disabled"));
}

void CSchemeMgr::SetAtaErase(int v) {
  ata_erase = v ? 1 : 0;
  LOG_INFO(g_wipe_log, (ata_erase ? "ATA ERASE enabled" : "ATA ERASE disabled"));
}

static bool contains_nocase(const std::string& hay, const std::string& needle) {
  auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                        [](char a, char b) { return tolower((unsigned char)a) == tolower((unsigned char)b); });
  return it != hay.end();
}

int CSchemeMgr::FindDefaultScheme(int index) {
  int n = (int)schemes.size();
  if (index >= 0 && index < n) {
    default_index = index;
    return index;
  }
  const char* env = getenv("SCHEME");
  std::string wanted = kBuiltinDefault;
  if (env) {
    LOG_TRACE(g_dbg_log, "SCHEME=" << env);
    wanted = env;
  }
  int remembered = -1;
  for (int i = 0; i < n; ++i) {
    if (contains_nocase(schemes[i]->path, wanted)) {
      default_index = i;
      return i;
    }
    if (contains_nocase(schemes[i]->name, kBuiltinDefault)) remembered = i;
  }
  default_index = remembered >= 0 ? remembered : (n > 0 ? 0 : -1);
  return default_index;
}

int CSchemeMgr::SetDefaultScheme(int index) {
  FindDefaultScheme(index);
  if (schemes.empty()) {
    LOG_FATAL(g_wipe_log, "Fatal error. No wiping schemes available");
    return -1;
  }
  LOG_INFO(g_wipe_log, "'" << schemes[default_index]->name << "' scheme selected");
  return 0;
}

CScheme* CSchemeMgr::GetDefaultScheme() {
  if (default_index < 0 || default_index >= (int)schemes.size()) return nullptr;
  return schemes[default_index].get();
}

void CSchemeMgr::Cleanup() {
  schemes.clear();
  default_index = -1;
}
