// The start before Qt: --help and --version, and the refusal of a window without a display, both
// as functions over a made-up environment and as the real program.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/StartOptions.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

// An environment of the given variables and accepting sockets.
struct FakeEnvironment {
  std::map<std::string, std::string> vars;
  std::set<std::string> sockets;
  TStartEnvironment Get() const {
    return {[this](const char* name) -> const char* {
              auto it = vars.find(name);
              return it == vars.end() ? nullptr : it->second.c_str();
            },
            [this](const std::string& path) { return sockets.count(path) > 0; }};
  }
};

TEST(DisplayAvailable, FromThePlatformTheDisplayAndItsSocket) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> vars;
    std::set<std::string> sockets;
    bool expected;
  } cases[] = {
      {"nothing set", {}, {}, false},
      {"X server on a file socket", {{"DISPLAY", ":0"}}, {"/tmp/.X11-unix/X0"}, true},
      {"X server on an abstract socket", {{"DISPLAY", ":7.0"}}, {"@/tmp/.X11-unix/X7"}, true},
      {"DISPLAY names a dead server", {{"DISPLAY", ":3"}}, {"/tmp/.X11-unix/X0"}, false},
      {"unix: prefix", {{"DISPLAY", "unix:1"}}, {"/tmp/.X11-unix/X1"}, true},
      {"remote display on trust", {{"DISPLAY", "localhost:10.0"}}, {}, true},
      {"empty DISPLAY", {{"DISPLAY", ""}}, {}, false},
      {"garbage DISPLAY", {{"DISPLAY", "nonsense"}}, {}, false},
      {"DISPLAY without number", {{"DISPLAY", ":"}}, {}, false},
      {"Wayland in the runtime folder",
       {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/run/user/1"}},
       {"/run/user/1/wayland-0"},
       true},
      {"Wayland socket missing",
       {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/run/user/1"}},
       {},
       false},
      {"Wayland without runtime folder", {{"WAYLAND_DISPLAY", "wayland-0"}}, {"/wayland-0"}, false},
      {"Wayland by absolute path", {{"WAYLAND_DISPLAY", "/tmp/w"}}, {"/tmp/w"}, true},
      {"offscreen platform", {{"QT_QPA_PLATFORM", "offscreen"}}, {}, true},
      {"vnc platform with options", {{"QT_QPA_PLATFORM", "vnc:size=800x600"}}, {}, true},
      {"xcb asked, no X",
       {{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "/tmp/w"}},
       {"/tmp/w"},
       false},
      {"wayland asked, only X",
       {{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":0"}},
       {"/tmp/.X11-unix/X0"},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnvironment env{c.vars, c.sockets};
    EXPECT_EQ(DisplayAvailable(env.Get()), c.expected);
  }
}

// What HandleStartOptions printed and returned.
struct Outcome {
  int code;
  std::string out, err;
};

std::string Drain(std::FILE* f) {
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  std::fclose(f);
  return text;
}

Outcome Handle(std::vector<std::string> args, const FakeEnvironment& env) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int code =
      HandleStartOptions(static_cast<int>(argv.size()), argv.data(), env.Get(), out, err);
  return {code, Drain(out), Drain(err)};
}

TEST(HandleStartOptions, HelpVersionAndTheMissingDisplay) {
  const FakeEnvironment none;
  const FakeEnvironment x11{{{"DISPLAY", ":0"}}, {"/tmp/.X11-unix/X0"}};
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const FakeEnvironment& env;
    int code;
    std::string out;  // "help", "version" or empty
    bool complains;
  } cases[] = {
      {"--help", {"vcard-parvela", "--help"}, none, 0, "help", false},
      {"-h", {"vcard-parvela", "-h", "AUTO"}, none, 0, "help", false},
      {"--version", {"vcard-parvela", "--version"}, none, 0, "version", false},
      {"-V", {"vcard-parvela", "-V"}, x11, 0, "version", false},
      {"window, no display", {"vcard-parvela"}, none, 1, "", true},
      {"lower-case auto is the window", {"vcard-parvela", "auto", "a", "b"}, none, 1, "", true},
      {"--HELP is no option", {"vcard-parvela", "--HELP"}, none, 1, "", true},
      {"AUTO needs no display", {"vcard-parvela", "AUTO", "db", "out.vcf"}, none, -1, "", false},
      {"SYNC needs no display",
       {"vcard-parvela", "SYNC", "db", "http://127.0.0.1/"},
       none,
       -1,
       "",
       false},
      {"window with a display", {"vcard-parvela"}, x11, -1, "", false},
      {"help only as the first argument", {"vcard-parvela", "AUTO", "--help"}, none, -1, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = Handle(c.args, c.env);
    EXPECT_EQ(o.code, c.code);
    const std::string expected = c.out == "help"      ? HelpText()
                                 : c.out == "version" ? VersionText()
                                                      : std::string();
    EXPECT_EQ(o.out, expected);
    if (c.complains) {
      // One line, German and English.
      EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
      EXPECT_NE(o.err.find("Keine grafische Anzeige"), std::string::npos) << o.err;
      EXPECT_NE(o.err.find("No display"), std::string::npos) << o.err;
    } else {
      EXPECT_EQ(o.err, "");
    }
  }
}

TEST(HandleStartOptions, HelpNamesEveryCommandAndOption) {
  const std::string help = HelpText();
  for (const char* word : {"AUTO", "--vcard=3.0", "--vcard=4.0", "--utf8", "--ansi", "--help",
                           "--version", "-h", "-V", "Exit-Status", "UserMode.INI"}) {
    SCOPED_TRACE(word);
    EXPECT_NE(help.find(word), std::string::npos);
  }
  EXPECT_EQ(VersionText(), std::string("vcard-parvela ") + PV_TEST_VERSION + "\n");
}

// The installed program's way: the real binary in a bare environment.
struct ProgramRun {
  int status;
  std::string out, err;
};

ProgramRun RunProgram(const std::string& args, const std::string& env) {
  test::TempDir dir;
  const std::string cmd = "env -i " + env + " " PV_BINARY_DIR "/app/vcard-parvela " + args + " > " +
                          (dir / "out") + " 2> " + (dir / "err");
  const int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc), test::ReadFile(dir / "out"),
          test::ReadFile(dir / "err")};
}

TEST(Program, HelpAndVersionWithoutDisplayAndNoAbortWithoutOne) {
  const std::string bare = "HOME=/nonexistent PATH=/usr/bin:/bin";
  const ProgramRun help = RunProgram("--help", bare);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, HelpText());
  EXPECT_EQ(help.err, "");
  const ProgramRun version = RunProgram("-V", bare);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, VersionText());

  // A window without any display: one line, exit 1, no abort.
  for (const char* env : {"", "DISPLAY=:97", "WAYLAND_DISPLAY=wayland-97 XDG_RUNTIME_DIR=/tmp"}) {
    SCOPED_TRACE(env);
    const ProgramRun window = RunProgram("", bare + " " + env);
    EXPECT_EQ(window.status, 1);
    EXPECT_EQ(window.out, "");
    EXPECT_EQ(window.err.find('\n'), window.err.size() - 1) << window.err;
  }
}

}  // namespace
}  // namespace pv
