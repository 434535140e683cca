#include <gtest/gtest.h>

#include <QString>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "files/ScopedOverride.h"
#include "widgets/AnsiQt.h"
#include "widgets/HTMLShell.h"
#include "widgets/HTMLabel.h"

namespace pv {
namespace {

TShellOpenHook Answering(std::vector<std::string>& seen, bool answer) {
  return [&seen, answer](const std::string& target) {
    seen.push_back(target);
    return answer;
  };
}

TEST(ScopedOverride, NestedOverridesRestoreInTurnAndThePreviousIsSeen) {
  std::vector<std::string> outer;
  std::vector<std::string> inner;
  {
    const TScopedOverride first(SetShellOpenHook, Answering(outer, true));
    EXPECT_FALSE(first.Previous());
    {
      const TScopedOverride second(SetShellOpenHook, Answering(inner, false));
      EXPECT_TRUE(second.Previous());
      EXPECT_FALSE(ShellOpen("https://a.example/"));
    }
    EXPECT_TRUE(ShellOpen("https://b.example/"));
  }
  EXPECT_EQ(inner, std::vector<std::string>{"https://a.example/"});
  EXPECT_EQ(outer, std::vector<std::string>{"https://b.example/"});
  // Nothing is left installed.
  EXPECT_FALSE(SetShellOpenHook(nullptr));
}

TEST(ScopedOverride, RestoresWhenTheScopeIsLeftByAnException) {
  std::vector<std::string> seen;
  try {
    const TScopedOverride hook(SetShellOpenHook, Answering(seen, true));
    throw std::runtime_error("test failed half-way");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(SetShellOpenHook(nullptr));
}

TEST(ScopedOverride, ValueSeamsRestoreTheFormerValue) {
  // Forced families only, so the real choice (which loads fonts) is never made here.
  const TScopedOverride outer(SetUiFontFamily, QStringLiteral("Outer Sans"));
  {
    const TScopedOverride inner(SetUiFontFamily, QStringLiteral("Forced Sans"));
    EXPECT_EQ(inner.Previous(), "Outer Sans");
    EXPECT_EQ(UiFontFamily(), "Forced Sans");
  }
  EXPECT_EQ(UiFontFamily(), "Outer Sans");
}

// The shell hook is read by the shell pool's worker threads: installing and removing it while
// they call ShellOpen must neither race nor lose a call made while it is in place.
TEST(ScopedOverride, ShellHookIsSafeAgainstReadersOnOtherThreads) {
  std::atomic<int> outerCalls{0};
  std::atomic<int> innerCalls{0};
  std::atomic<int> calls{0};
  std::atomic<bool> stop{false};
  const TScopedOverride outer(SetShellOpenHook, [&](const std::string&) {
    ++outerCalls;
    return true;
  });
  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&] {
      while (!stop) {
        EXPECT_TRUE(ShellOpen("https://x.example/"));
        ++calls;
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    const TScopedOverride inner(SetShellOpenHook, [&](const std::string&) {
      ++innerCalls;
      return true;
    });
    std::this_thread::yield();
  }
  stop = true;
  for (std::thread& t : readers) t.join();
  // Every call reached one of the two hooks, never the desktop.
  EXPECT_EQ(outerCalls + innerCalls, calls.load());
}

TEST(OpenLinkInShell, RunsAtOnceWithoutARunnerAndHandsOverWithOne) {
  std::vector<std::string> opened;
  const TScopedOverride shell(SetShellOpenHook, Answering(opened, true));
  OpenLinkInShell("mailto:a@b.de");
  EXPECT_EQ(opened, std::vector<std::string>{"mailto:a@b.de"});

  std::vector<std::string> queued;
  {
    const TScopedOverride runner(SetShellJobRunner,
                                 [&](const std::string& t) { queued.push_back(t); });
    OpenLinkInShell("https://example.org/");
  }
  EXPECT_EQ(queued, std::vector<std::string>{"https://example.org/"});
  EXPECT_EQ(opened.size(), 1u);  // the runner decides when it opens
  OpenLinkInShell("https://example.org/2");
  EXPECT_EQ(opened.back(), "https://example.org/2");
}

TEST(AnsiQt, EveryByteGoesThereAndBack) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(QStringToAnsi(AnsiToQString(all)), all);
}

TEST(AnsiQt, CodePageCharacters) {
  const struct {
    const char* name;
    std::string ansi;
    QString qt;
  } cases[] = {
      {"ascii", "Los!", QStringLiteral("Los!")},
      {"umlauts", "\xC4nderungen \xFC\xDF", QString::fromUtf8("Änderungen üß")},
      {"euro and dashes", "\x80 \x96 \x97", QString::fromUtf8("€ – —")},
      {"undefined bytes keep their value", "\x81\x8D\x8F\x90\x9D",
       QString(QChar(0x81)) + QChar(0x8D) + QChar(0x8F) + QChar(0x90) + QChar(0x9D)},
      {"empty", "", QString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AnsiToQString(c.ansi), c.qt);
    EXPECT_EQ(QStringToAnsi(c.qt), c.ansi);
  }
}

TEST(AnsiQt, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(QStringToAnsi(QString::fromUtf8("a\u0416b\u4E2D")), "a?b?");
  // A character beyond the basic plane is two UTF-16 units.
  const std::string emoji = QStringToAnsi(QString::fromUtf8("x\U0001F600y"));
  EXPECT_EQ(emoji.front(), 'x');
  EXPECT_EQ(emoji.back(), 'y');
  EXPECT_EQ(emoji.find_first_not_of("xy?"), std::string::npos);
}

}  // namespace
}  // namespace pv
