// Wiping schemes: passes, schemes loaded from scheme files, and the scheme
// manager with the session-wide wipe options.
#pragma once
#include <memory>
#include <string>
#include <vector>

enum pass_type_e { PASS_ZERO = 0, PASS_TEST = 1, PASS_RANDOM = 2, PASS_COMPLEMENT = 3, PASS_PATTERN = 4 };

class CPass {
 public:
  int type = PASS_ZERO;
  int pattern_length = 0;
  bool verify = false;
  std::vector<unsigned char> pattern;
};

class CScheme {
 public:
  int Load(const char* path);
  int AddPass(char* line, int previous_weight);
  bool AddPattern(char* line, CPass& pass);
  int PrintPassName(int index, char* buffer, int size) const;

  std::string path;
  std::string name;
  int rating = 0;
  std::vector<CPass> passes;
};

bool compare(const CScheme* a, const CScheme* b);

class CSchemeMgr {
 public:
  CSchemeMgr() = default;
  virtual ~CSchemeMgr();
  int Load(const char* directory);
  void ReadEnvironment();
  void SetVerify(int v);
  void SetResetDCO(int v);
  void SetResetHPA(int v);
  void SetAtaErase(int v);
  int FindDefaultScheme(int index);
  int SetDefaultScheme(int index);
  CScheme* GetDefaultScheme();
  void Cleanup();

  std::vector<std::unique_ptr<CScheme>> schemes;
  int default_index = -1;
  int verify = 1;
  int reset_dco = 0;
  int reset_hpa = 0;
  int ata_erase = 0;
};

extern CSchemeMgr g_scheme;
