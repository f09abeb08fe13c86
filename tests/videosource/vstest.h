// Helpers of the bridge and frame-server tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"
#include "videosource/bridge.h"

// A temporary folder of its own, removed at the end.
class tempfolder {
 public:
  tempfolder() {
    std::string t = (std::filesystem::temp_directory_path() / "ostrelvsXXXXXX").string();
    std::vector<char> b(t.begin(), t.end());
    b.push_back(0);
    if (!mkdtemp(b.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = b.data();
  }
  ~tempfolder() { std::filesystem::remove_all(dir_); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }
  std::string write(const std::string& name, const std::string& data) const {
    writefile(path(name), data);
    return path(name);
  }
  void copy(const std::string& from, const std::string& name) const {
    std::filesystem::copy_file(from, path(name), std::filesystem::copy_options::overwrite_existing);
  }

 private:
  std::string dir_;
};

// One frame's planes as a caller of the bridge holds them.
struct planes {
  int width, height;
  std::vector<uint8_t> y, u, v;
  planes(int w, int h, uint8_t fill = 0x55)
      : width(w), height(h), y((size_t)w * h, fill), u((size_t)w * h / 4, fill), v((size_t)w * h / 4, fill) {}
  int get(int n) { return avsgetframe(n, width, width / 2, y.data(), u.data(), v.data()); }
  bool operator==(const planes& o) const { return y == o.y && u == o.u && v == o.v; }
};

// The result of opening a script through the bridge.
struct opened {
  int code = -1;
  int width = -1, height = -1, frames = -1, fpsnum = -1, fpsden = -1, pixeltype = -1;
  std::string msg;  // the message buffer, trailing blanks removed
};

inline opened openscript(const std::string& path) {
  opened o;
  char msg[512];
  std::memset(msg, '#', sizeof msg);
  o.code = avsopen(path.c_str(), o.width, o.height, o.frames, o.fpsnum, o.fpsden, msg, (int)sizeof msg,
                   &o.pixeltype);
  std::string m(msg, sizeof msg);
  while (!m.empty() && m.back() == ' ') m.pop_back();
  o.msg = m;
  return o;
}

// Loads the frame server of the program folder for a test and closes it afterwards.
class withframeserver : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(avsload(), 0); }
  void TearDown() override { EXPECT_EQ(avsclose(), 0); }
  opened script(const std::string& text) { return openscript(dir.write("t.avs", text)); }
  tempfolder dir;
};
