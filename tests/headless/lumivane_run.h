// Runs the lumivane executable as a user runs it, in a temporary folder of
// its own: arguments, a scenario on standard input or in a file, and what
// comes out.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumivane::headless::test {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::string shellQuoted(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class LumivaneRunTest : public ::testing::Test {
 protected:
  using Json = nlohmann::json;

  void SetUp() override {
    char pattern[] = "/tmp/lumivane-command-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf " + shellQuoted(dir_)).c_str()); }

  std::string writeScenario(const std::string& text) {
    const std::string path = dir_ + "/scenario";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Runs the executable with `args`, `input` on its standard input.
  Outcome run(const std::vector<std::string>& args, const std::string& input = "") {
    const std::string in = dir_ + "/stdin", out = dir_ + "/stdout", err = dir_ + "/stderr";
    std::ofstream(in, std::ios::binary) << input;
    // Never on the desktop of the machine the tests run on: without a display
    // the bare command has no real desktop and runs the demo.
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + shellQuoted(LUMIVANE_EXECUTABLE);
    for (const auto& arg : args)
      command += " " + shellQuoted(arg);
    command += " <" + shellQuoted(in) + " >" + shellQuoted(out) + " 2>" + shellQuoted(err);
    const int wait = std::system(command.c_str());
    return Outcome{WIFEXITED(wait) ? WEXITSTATUS(wait) : -1, readFile(out), readFile(err)};
  }

  // The JSON lines of a run, each checked to be one object with "t" and "event".
  static std::vector<Json> events(const Outcome& run) {
    std::vector<Json> parsed;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      Json event = Json::parse(line, nullptr, false);
      EXPECT_TRUE(event.is_object() && event.contains("t") && event.contains("event")) << line;
      // Exactly three decimals, as written.
      EXPECT_EQ(line.find("{\"t\":"), 0u) << line;
      EXPECT_EQ(line[line.find(',') - 4], '.') << line;
      parsed.push_back(std::move(event));
    }
    return parsed;
  }

  static std::vector<Json> named(const std::vector<Json>& all, const std::string& name) {
    std::vector<Json> out;
    for (const auto& event : all) {
      if (event["event"] == name)
        out.push_back(event);
    }
    return out;
  }

  std::string dir_;
};

}  // namespace lumivane::headless::test
