// The front end driven in-process, headless: a program folder of its own for KJ.ini, the
// start-up chain of guimain, the status lines as the layer prints them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct dialogrecord;

class frontfixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Ends the front end and begins afresh with a new program folder (tables of cases).
  void again();
  // Runs the start-up chain; kjini is the KJ.ini of the program folder ("" none).
  void start(const std::string& kjini);
  // A script of the frame server in the program folder, its full path.
  std::string script(const std::string& name, const std::string& text);
  // Names the three files of an encode as a user's choices leave them: a script "My Clip.avs"
  // in the program folder, an output and a log with blanks and upper case in their names.
  void namefiles();
  dialogrecord& dlg(int id);
  std::string text(int dialog, int id);
  std::string dir;                   // the program folder, with its '/'
  std::vector<std::string> printed;  // the status lines printed
  bool started = false;
};

// A small clip of our frame server: 30 frames of 176 x 144 at 25 frames a second.
constexpr const char* smallclip = "TestPattern(length=30, width=176, height=144, fps=25)\n";
