// Scheme files: the passes a file's lines give, ratings and ranking, and the
// default scheme (the wipe options' texts are the program test's).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "scheme/scheme.h"

namespace {

class SchemeDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zv-scheme-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
  }
  void TearDown() override {
    mgr.Cleanup();
    (void)!system(("rm -rf " + dir).c_str());
    unsetenv("SCHEME");
  }
  std::string Write(const std::string& name, const std::string& body) {
    std::ofstream(dir + "/" + name, std::ios::binary) << body;
    return dir + "/" + name;
  }
  std::string dir;
  CSchemeMgr mgr;
};

// {file, name, passes as "type[v]:pattern", rating}.
TEST_F(SchemeDir, LinesGivePassesAndRatings) {
  const struct {
    const char* body;
    const char* name;
    std::vector<std::string> passes;
    int rating;
  } rows[] = {
      {"A description\n[My Scheme ]\n1. Random\n2. Complement verify\n3. 55, AA, +3 00\n", "My Scheme ",
       {"random", "complementary v", "55, AA, 00, 00, 00"}, 4 + 5 + 1 + 1},
      {"1. zero\n", "User-defined", {"zero"}, 1},
      {"Random verify\n[x]\nRandom verify\nthis line mentions random data\nno keywords\n", "x",
       {"random v", "random"}, 5 + 4},
      {"[c]\nzero\nignored line\ncomplement\ncomplement\n", "c", {"zero", "complementary", "complementary"}, 6},
      {"[p]\n4. ff, +3 00\n1. 0x1A2, garbage, 7 verify\ntest\n", "p", {"FF, 00, 00, 00", "A2, 07 v", "test"}, 3 + 1},
  };
  for (auto& r : rows) {
    CScheme s;
    ASSERT_EQ(0, s.Load(Write("one.txt", r.body).c_str())) << r.body;
    EXPECT_EQ(r.name, s.name);
    std::vector<std::string> passes;
    for (int i = 0; i < (int)s.passes.size(); ++i) {
      char buf[64];
      s.PrintPassName(i, buf, sizeof buf);
      passes.push_back(std::string(buf) + (s.passes[i].verify ? " v" : ""));
    }
    EXPECT_EQ(r.passes, passes) << r.body;
    EXPECT_EQ(r.rating, s.rating) << r.body;
  }
  CScheme big;
  ASSERT_EQ(0, big.Load(Write("big.txt", "[b]\nFF.+70000 AA, 55\n").c_str()));
  EXPECT_EQ(std::vector<unsigned char>(65536, 0xAA), big.passes[0].pattern);  // cut; 55 never read
}

TEST_F(SchemeDir, RankingDefaultAndOptions) {
  Write("strong.txt", "[Strongest]\nrandom verify\nrandom verify\nrandom verify\n");
  Write("DoD.txt", "[Weak one]\nzero\n");
  Write("ece.txt", "[7-pass US DoD 5220-22M(ECE)]\nzero\ncomplement\n");
  Write("empty.txt", "[Nothing here]\nno passes at all\n");
  ASSERT_EQ(0, mgr.Load(dir.c_str()));
  ASSERT_EQ(3u, mgr.schemes.size());
  EXPECT_EQ("Strongest", mgr.schemes[0]->name);
  const std::pair<const char*, const char*> picks[] = {
      {nullptr, "7-pass US DoD 5220-22M(ECE)"}, {"dod", "Weak one"}, {"no such scheme", "7-pass US DoD 5220-22M(ECE)"}};
  for (auto& p : picks) {
    if (p.first) setenv("SCHEME", p.first, 1);
    ASSERT_EQ(0, mgr.SetDefaultScheme(-1));
    EXPECT_EQ(p.second, mgr.GetDefaultScheme()->name);
  }
  mgr.SetDefaultScheme(0);  // a menu choice wins
  EXPECT_EQ("Strongest", mgr.GetDefaultScheme()->name);
}

}  // namespace
