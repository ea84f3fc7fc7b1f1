// Loads tests/scheme/data/random_vectors.txt, the output of the reference
// model in gen_random_vectors.py.
#pragma once
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct random_stream_vec {
  std::string gen;
  int seed;
  std::vector<unsigned char> bytes;
};

// Successive requests of the given sizes after one restart.
struct random_parts_vec {
  std::string gen;
  int seed;
  std::vector<int> sizes;
  std::vector<unsigned char> bytes;
};

struct random_fill_vec {
  std::string gen;
  int start;
  long long offset;
  int length;
  std::string digest_or_hex;
};

inline std::vector<unsigned char> from_hex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back((unsigned char)std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

inline std::string to_hex(const unsigned char* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

struct random_vectors {
  std::vector<random_stream_vec> streams;
  std::vector<random_parts_vec> parts;
  std::vector<random_fill_vec> fills;     // SHA-1 digest of the fill
  std::vector<random_fill_vec> fillhex;   // the fill itself
  bool loaded = false;

  static const random_vectors& Get() {
    static random_vectors v = Load();
    return v;
  }

  static random_vectors Load() {
    random_vectors v;
    std::ifstream in(ZV_SOURCE_DIR "/tests/scheme/data/random_vectors.txt");
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream ls(line);
      std::string kind;
      ls >> kind;
      if (kind == "stream") {
        random_stream_vec s;
        std::string hex;
        ls >> s.gen >> s.seed >> hex;
        s.bytes = from_hex(hex);
        v.streams.push_back(s);
      } else if (kind == "parts") {
        random_parts_vec p;
        std::string sizes, hex;
        ls >> p.gen >> p.seed >> sizes >> hex;
        std::istringstream ss(sizes);
        std::string n;
        while (std::getline(ss, n, ',')) p.sizes.push_back(std::stoi(n));
        p.bytes = from_hex(hex);
        v.parts.push_back(p);
      } else if (kind == "fill" || kind == "fillhex") {
        random_fill_vec f;
        ls >> f.gen >> f.start >> f.offset >> f.length >> f.digest_or_hex;
        (kind == "fill" ? v.fills : v.fillhex).push_back(f);
      }
    }
    v.loaded = !v.streams.empty() && !v.parts.empty() && !v.fills.empty();
    return v;
  }
};
