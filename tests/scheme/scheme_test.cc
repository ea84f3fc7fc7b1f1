// Scheme files, ratings, ranking, default selection and the wipe options.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "scheme/scheme.h"
#include "support/log_capture.h"

namespace {

class SchemeDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zv-scheme-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    for (const char* v : {"SCHEME", "VERIFY", "VERIFY_LAST_PASS", "RESET_DCO", "RESET_HPA", "ATA_ERASE"}) unsetenv(v);
  }
  void TearDown() override {
    mgr.Cleanup();
    std::string cmd = "rm -rf " + dir;
    (void)!system(cmd.c_str());
    for (const char* v : {"SCHEME", "VERIFY", "VERIFY_LAST_PASS", "RESET_DCO", "RESET_HPA", "ATA_ERASE"}) unsetenv(v);
  }
  std::string Write(const std::string& name, const std::string& body) {
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << body;
    return path;
  }
  CScheme LoadOne(const std::string& body, int* rc = nullptr) {
    CScheme s;
    int r = s.Load(Write("one.txt", body).c_str());
    if (rc) *rc = r;
    return s;
  }
  std::string PassName(const CScheme& s, int i) {
    char buf[64];
    s.PrintPassName(i, buf, sizeof buf);
    return buf;
  }
  std::string dir;
  CSchemeMgr mgr;
};

TEST_F(SchemeDir, NameLinesPassLinesAndRatings) {
  int rc;
  CScheme s = LoadOne("A description before the name\n[My Scheme ]\n1. Random\n2. Complement verify\n3. 55, AA, +510 00\n",
                      &rc);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(s.name, "My Scheme ");
  ASSERT_EQ(s.passes.size(), 3u);
  EXPECT_EQ(s.passes[0].type, PASS_RANDOM);
  EXPECT_FALSE(s.passes[0].verify);
  EXPECT_EQ(s.passes[1].type, PASS_COMPLEMENT);
  EXPECT_TRUE(s.passes[1].verify);
  EXPECT_EQ(s.passes[2].type, PASS_PATTERN);
  ASSERT_EQ(s.passes[2].pattern_length, 512);
  EXPECT_EQ(s.passes[2].pattern[0], 0x55);
  EXPECT_EQ(s.passes[2].pattern[1], 0xAA);
  EXPECT_EQ(s.passes[2].pattern[511], 0x00);
  // random 4, complement 4+1 (+1 verify), pattern 1
  EXPECT_EQ(s.rating, 4 + 5 + 1 + 1);

  // A leading number names the scheme "User-defined" and is itself a pass.
  s = LoadOne("1. zero\n", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(s.name, "User-defined");
  ASSERT_EQ(s.passes.size(), 1u);
  EXPECT_EQ(s.passes[0].type, PASS_ZERO);

  // Before the name a keyword line without a number is ignored; after it the
  // same line is a verified random pass, and so is a description with "random".
  s = LoadOne("Random verify\n[x]\nRandom verify\nthis line mentions random data\nno keywords, no dot\n", &rc);
  ASSERT_EQ(s.passes.size(), 2u);
  EXPECT_TRUE(s.passes[0].verify);
  EXPECT_EQ(s.passes[1].type, PASS_RANDOM);
  EXPECT_EQ(s.rating, 5 + 4);

  // Complements build on the weight of the last pass added; ignored lines do not count.
  s = LoadOne("[c]\nzero\nignored line\ncomplement\ncomplement\n");
  EXPECT_EQ(s.rating, 1 + 2 + 3);
  s = LoadOne("[c]\ncomplement\n");
  EXPECT_EQ(s.rating, 2);

  // 70000 complements add up to more than an int holds: the rating stops at
  // the largest one, and the scheme still ranks first.
  std::string many = "[many]\n";
  for (int i = 0; i < 70000; ++i) many += "complement\n";
  s = LoadOne(many, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(s.passes.size(), 70000u);
  EXPECT_EQ(s.rating, INT_MAX);
  CScheme weak = LoadOne("[weak]\nzero\n");
  EXPECT_TRUE(compare(&s, &weak));
}

TEST_F(SchemeDir, PatternSyntax) {
  CScheme s = LoadOne("[p]\n4. ff, +3 00\n1. 0x1A2, garbage, 7\nFF.+70000 AA, 55\n");
  ASSERT_EQ(s.passes.size(), 3u);
  EXPECT_EQ(s.passes[0].pattern, (std::vector<unsigned char>{0xFF, 0, 0, 0}));
  EXPECT_EQ(s.passes[1].pattern, (std::vector<unsigned char>{0xA2, 0x07}));  // low 8 bits; bad item skipped
  ASSERT_EQ(s.passes[2].pattern.size(), 65536u);                              // cut, 55 never read
  EXPECT_EQ(s.passes[2].pattern.back(), 0xAA);
  EXPECT_EQ(PassName(s, 0), "FF, 00, 00, 00");

  std::string sixteen = "[p]\n1. 55, AA, 55, AA, 55, AA, 55, AA, 55, AA, 55, AA, 55, AA, 55, AA\n";
  s = LoadOne(sixteen);
  EXPECT_EQ(PassName(s, 0), "55, AA, 55, AA, 55, AA, 55, AA, 55...");
  s = LoadOne("[n]\nzero\ntest\nrandom\ncomplement\n");
  EXPECT_EQ(PassName(s, 0), "zero");
  EXPECT_EQ(PassName(s, 1), "test");
  EXPECT_EQ(PassName(s, 2), "random");
  EXPECT_EQ(PassName(s, 3), "complementary");
  EXPECT_EQ(PassName(s, 4), "");
  EXPECT_EQ(s.PrintPassName(0, nullptr, 10), 0);
}

TEST_F(SchemeDir, BadFilesAreSkippedAndGoodOnesRanked) {
  Write("good-random.txt", "[Random once]\n1. Random verify\n");
  Write("Alpha.txt", "[Alpha]\nrandom\ncomplement\n");
  Write("Beta.txt", "[Beta]\nrandom\ncomplement\n");
  Write("empty.txt", "");
  Write("named-only.txt", "[Nothing here]\nno passes at all\n");
  std::string garbage;
  for (int i = 0; i < 200000; ++i) garbage += (char)((i * 7919 + 13) & 0xFF);
  Write("garbage.bin", garbage);
  Write("long-line.txt", "[Long]\n" + std::string(100000, 'x') + "zero\n1. " + std::string(100000, 'f') + "\n");
  std::string big = "[Big pattern]\n1. ";
  for (int i = 0; i < 70000; ++i) big += (i ? ", " : "") + std::string("a5");
  Write("big-pattern.txt", big + "\n");
  std::string dangling = dir + "/dangling.txt";
  ASSERT_EQ(symlink((dir + "/gone").c_str(), dangling.c_str()), 0);
  Write(".hidden", "[Hidden]\nzero\n");
  mkdir((dir + "/subdir").c_str(), 0755);

  LogCapture cap;
  ASSERT_EQ(mgr.Load(dir.c_str()), 0);
  std::vector<std::string> names;
  for (CScheme* s : mgr.schemes) names.push_back(s->name);
  // Higher rating first; equal ratings in reverse byte order of the names.
  auto at = [&](const char* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_LT(at("Beta"), at("Alpha"));
  EXPECT_LT(at("Alpha"), at("Random once"));
  EXPECT_LT(at("Random once"), (long)names.size());
  EXPECT_EQ(std::count(names.begin(), names.end(), "Random once"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "Nothing here"), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), "Hidden"), 0);
  // Lines are read 1023 characters at a time: the pattern ends with the
  // first piece, and the pieces after it carry no '.' and are ignored.
  for (CScheme* s : mgr.schemes) {
    if (s->name == "Big pattern") {
      ASSERT_EQ(s->passes.size(), 1u);
      EXPECT_EQ(s->passes[0].pattern_length, (1023 - 3) / 4);
    }
  }
  EXPECT_TRUE(cap.Has("Scheme 'Nothing here' load failed: bad file format", "debug"));
  EXPECT_TRUE(cap.Has("Scheme '' load failed: bad file format", "debug"));
  EXPECT_TRUE(cap.Has("Could not open scheme file '" + dangling + "': No such file or directory", "debug"));
  EXPECT_TRUE(cap.Has("Loaded " + std::to_string(mgr.schemes.size()) + " schemes", "debug"));

  CSchemeMgr missing;
  cap.Clear();
  EXPECT_EQ(missing.Load((dir + "/none").c_str()), ENOENT);
  EXPECT_TRUE(cap.Has("Could not open schemes dir '" + dir + "/none': No such file or directory", "debug"));
  EXPECT_EQ(missing.SetDefaultScheme(-1), -1);
  EXPECT_TRUE(cap.Has("Fatal error. No wiping schemes available", "wipe"));
}

TEST_F(SchemeDir, DefaultSelection) {
  Write("strong.txt", "[Strongest]\nrandom verify\nrandom verify\nrandom verify\n");
  Write("DoD.txt", "[Weak one]\nzero\n");
  Write("ece.txt", "[7-pass US DoD 5220-22M(ECE)]\nzero\ncomplement\n");
  ASSERT_EQ(mgr.Load(dir.c_str()), 0);
  LogCapture cap;

  // Built-in default: the scheme named after it, whatever its rank.
  ASSERT_EQ(mgr.SetDefaultScheme(-1), 0);
  EXPECT_EQ(mgr.GetDefaultScheme()->name, "7-pass US DoD 5220-22M(ECE)");
  EXPECT_TRUE(cap.Has("'7-pass US DoD 5220-22M(ECE)' scheme selected", "wipe"));

  // SCHEME is matched against the path, without regard to case.
  setenv("SCHEME", "dod", 1);
  mgr.SetDefaultScheme(-1);
  EXPECT_EQ(mgr.GetDefaultScheme()->name, "Weak one");
  setenv("SCHEME", dir.c_str(), 1);  // every path matches: the highest ranked wins
  mgr.SetDefaultScheme(-1);
  EXPECT_EQ(mgr.GetDefaultScheme()->name, "Strongest");
  setenv("SCHEME", "no such scheme", 1);  // falls back to the built-in name
  mgr.SetDefaultScheme(-1);
  EXPECT_EQ(mgr.GetDefaultScheme()->name, "7-pass US DoD 5220-22M(ECE)");

  // A menu index wins over everything.
  mgr.SetDefaultScheme(0);
  EXPECT_EQ(mgr.GetDefaultScheme()->name, "Strongest");
}

TEST_F(SchemeDir, OptionsFromTheEnvironment) {
  Write("z.txt", "[z]\nzero\n");
  LogCapture cap;
  setenv("VERIFY", "n", 1);
  setenv("VERIFY_LAST_PASS", "y", 1);
  setenv("RESET_HPA", "yes", 1);
  setenv("ATA_ERASE", "true", 1);
  mgr.Load(dir.c_str());
  EXPECT_EQ(mgr.verify, 0);
  EXPECT_EQ(mgr.reset_dco, 0);
  EXPECT_EQ(mgr.reset_hpa, 1);
  EXPECT_EQ(mgr.ata_erase, 0);
  EXPECT_EQ(cap.Texts("wipe"), (std::vector<std::string>{"Verification disabled", "DCO reset disabled",
                                                          "HPA reset enabled", "ATA ERASE disabled"}));
  unsetenv("VERIFY");
  mgr.ReadEnvironment();
  EXPECT_EQ(mgr.verify, 1);
}

}  // namespace
