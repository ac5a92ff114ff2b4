#include "tools/modem-sim/sim/modem_sim.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "testing/elapsed.h"

namespace {

using testing_time::Clock;
using std::chrono::milliseconds;

constexpr auto kPatience = milliseconds(5000);

using testing_time::MsSince;

// The program's side of a port: opened by path, as the serial layer does.
class Terminal {
 public:
  explicit Terminal(const std::string& path) : fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
  ~Terminal() {
    if (fd >= 0) close(fd);
  }
  bool Open() const { return fd >= 0; }

  void Send(const std::string& bytes) const {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads until count bytes arrived or the patience ran out; pieces records each read's time.
  std::string Receive(std::size_t count, std::vector<Clock::time_point>* pieces = nullptr) const {
    std::string bytes;
    auto start = Clock::now();
    while (bytes.size() < count && Clock::now() - start < kPatience) {
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      char buffer[4096];
      ssize_t got = read(fd, buffer, std::min(sizeof buffer, count - bytes.size()));
      if (got <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
      if (pieces != nullptr) pieces->push_back(Clock::now());
    }
    return bytes;
  }

  // True when nothing arrives for quietMs.
  bool Quiet(int quietMs) const {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, quietMs) == 0;
  }

  int fd;
};

class ModemSimTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.Ok()) << sim.Error(); }

  std::string Exchange(const Terminal& terminal, const std::string& command, std::size_t expected) {
    terminal.Send(command);
    return terminal.Receive(expected);
  }

  ModemSim sim{2};
};

TEST_F(ModemSimTest, AnswersInV250FramingWithEchoOff) {
  struct Case {
    const char* command;
    std::string answer;
  };
  const std::string model = SimPortScript{}.modelText;
  const Case cases[] = {
      {"ATQ0V1E0", "\r\nOK\r\n"},
      {"AT", "\r\nOK\r\n"},
      {"ATE0", "\r\nOK\r\n"},
      {"ATZ", "\r\nOK\r\n"},
      {"AT&F", "\r\nOK\r\n"},
      {"AT+GMM", "\r\n" + model + "\r\n\r\nOK\r\n"},
      {"AT+CGMM", "\r\n" + model + "\r\n\r\nOK\r\n"},
      {"at+gmm", "\r\n" + model + "\r\n\r\nOK\r\n"},
      {"AT+CSQ", "\r\n+CSQ: 17,99\r\n\r\nOK\r\n"},
      {"AT+GMI", "\r\nQV Simulated Modems\r\n\r\nOK\r\n"},
      {"AT+CGMI", "\r\nQV Simulated Modems\r\n\r\nOK\r\n"},
      {"AT+CGSN", "\r\n350000000001000\r\n\r\nOK\r\n"},
      {"ATI", "\r\nQV Simulated Modems\r\n" + model + "\r\nRevision 1.0\r\n\r\nOK\r\n"},
      {"AT+NOPE", "\r\nERROR\r\n"},
      {"ATD123", "\r\nERROR\r\n"},
  };
  Terminal terminal(sim.SlavePath(0));
  ASSERT_TRUE(terminal.Open());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(Exchange(terminal, std::string(c.command) + "\r", c.answer.size()), c.answer);
  }
  // Text that is not a command gets no answer.
  terminal.Send("hello\r");
  EXPECT_TRUE(terminal.Quiet(200));
}

TEST_F(ModemSimTest, RecordsEveryCommandWithItsArrival) {
  Terminal zero(sim.SlavePath(0));
  Terminal one(sim.SlavePath(1));
  ASSERT_TRUE(zero.Open() && one.Open());
  auto before = Clock::now();
  zero.Send("AT\r\nAT+GMM\r");
  ASSERT_TRUE(sim.WaitForCommands(0, 2, kPatience));
  one.Send("AT+CSQ\r");
  ASSERT_TRUE(sim.WaitForCommands(1, 1, kPatience));
  auto all = sim.Received();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].text, "AT");
  EXPECT_EQ(all[1].text, "AT+GMM");
  EXPECT_EQ(all[2].text, "AT+CSQ");
  EXPECT_EQ(all[2].port, 1);
  EXPECT_GE(all[0].arrival, before);
  EXPECT_LE(all[0].arrival, all[1].arrival);
  EXPECT_LE(all[1].arrival, all[2].arrival);
  EXPECT_EQ(sim.Received(1).size(), 1u);
  sim.ClearReceived();
  EXPECT_TRUE(sim.Received().empty());
}

TEST_F(ModemSimTest, ThePortSurvivesTheProgramsOpensAndCloses) {
  const std::string answer = SimFrame("+CSQ: 17,99");
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    Terminal terminal(sim.SlavePath(0));
    ASSERT_TRUE(terminal.Open());
    // The sim takes no lock, so the program's exclusive lock succeeds.
    EXPECT_EQ(flock(terminal.fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Exchange(terminal, "AT+CSQ\r", answer.size()), answer);
  }
  // None of the program's bytes went astray to the sim's own descriptor.
  Terminal terminal(sim.SlavePath(0));
  sim.ClearReceived();
  for (int i = 0; i < 20; ++i) terminal.Send("AT\r");
  EXPECT_TRUE(sim.WaitForCommands(0, 20, kPatience));
}

TEST_F(ModemSimTest, SignalQualityFollowsASlowPattern) {
  struct Case {
    int64_t n;
    int32_t value;
  };
  const Case cases[] = {{0, 5}, {1, 6}, {20, 25}, {21, 24}, {39, 6}, {40, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    EXPECT_EQ(SimCsqPatternValue(c.n), c.value);
  }
  SimPortScript script;
  script.csqPattern = true;
  sim.SetScript(0, script);
  Terminal terminal(sim.SlavePath(0));
  for (int32_t value : {5, 6, 7}) {
    std::string answer = SimFrame("+CSQ: " + std::to_string(value) + ",99");
    EXPECT_EQ(Exchange(terminal, "AT+CSQ\r", answer.size()), answer);
  }
}

TEST_F(ModemSimTest, ScriptedMisbehaviour) {
  struct Case {
    const char* name;
    SimPortScript script;
    std::string answer;
  };
  SimPortScript base;
  const std::string csq = SimFrame("+CSQ: 31,99");
  auto with = [&](SimBehaviour behaviour) {
    SimPortScript s = base;
    s.behaviour = behaviour;
    s.csqValue = 31;
    s.modelText = "X9";
    return s;
  };
  std::string nul = csq;
  nul.insert(nul.size() / 2, 1, '\0');
  const Case cases[] = {
      {"error", with(SimBehaviour::Error), "\r\nERROR\r\n"},
      {"long", [&] { auto s = with(SimBehaviour::Long); s.longReplyBytes = 1300; return s; }(),
       SimLongReply(1300)},
      {"nul", with(SimBehaviour::Nul), nul},
      {"fixed signal value", with(SimBehaviour::Answer), csq},
  };
  Terminal terminal(sim.SlavePath(0));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim.SetScript(0, c.script);
    EXPECT_EQ(Exchange(terminal, "AT+CSQ\r", c.answer.size()), c.answer);
    EXPECT_TRUE(terminal.Quiet(50));
  }
  EXPECT_EQ(Exchange(terminal, "AT+GMM\r", SimFrame("X9").size()), SimFrame("X9"));
  EXPECT_EQ(SimLongReply(28), "ABCDEFGHIJKLMNOPQRSTUVWXYZAB");
}

TEST_F(ModemSimTest, SilenceAndDelay) {
  SimPortScript script;
  script.behaviour = SimBehaviour::Silent;
  sim.SetScript(0, script);
  Terminal terminal(sim.SlavePath(0));
  terminal.Send("AT+CSQ\r");
  ASSERT_TRUE(sim.WaitForCommands(0, 1, kPatience));
  EXPECT_TRUE(terminal.Quiet(300));

  script.behaviour = SimBehaviour::Answer;
  script.replyDelayMs = 150;
  sim.SetScript(0, script);
  auto start = Clock::now();
  EXPECT_EQ(Exchange(terminal, "AT\r", 6), "\r\nOK\r\n");
  EXPECT_GE(MsSince(start), 150);
}

TEST_F(ModemSimTest, SplitsAReplyIntoPiecesWithGaps) {
  SimPortScript script;
  script.behaviour = SimBehaviour::Split;
  script.splitPieces = 3;
  script.splitGapMs = 100;
  sim.SetScript(0, script);
  const std::string answer = SimFrame(script.modelText);
  Terminal terminal(sim.SlavePath(0));
  std::vector<Clock::time_point> pieces;
  terminal.Send("AT+GMM\r");
  ASSERT_TRUE(sim.WaitForCommands(0, 1, kPatience));
  auto arrival = sim.Received(0).front().arrival;
  EXPECT_EQ(terminal.Receive(answer.size(), &pieces), answer);
  ASSERT_GE(pieces.size(), 3u);
  EXPECT_GE(std::chrono::duration_cast<milliseconds>(pieces.back() - arrival).count(), 200);
}

TEST_F(ModemSimTest, FloodsWithoutACommand) {
  SimPortScript script;
  script.behaviour = SimBehaviour::Flood;
  sim.SetScript(0, script);
  Terminal terminal(sim.SlavePath(0));
  EXPECT_EQ(terminal.Receive(3000).size(), 3000u);
  script.behaviour = SimBehaviour::Answer;
  sim.SetScript(0, script);
}

TEST_F(ModemSimTest, VanishingClosesTheFarEnd) {
  struct Case {
    const char* name;
    bool byScript;
  };
  for (const Case c : {Case{"by script", true}, Case{"on demand", false}}) {
    SCOPED_TRACE(c.name);
    ModemSim own(1);
    ASSERT_TRUE(own.Ok());
    Terminal terminal(own.SlavePath(0));
    std::string sent;
    if (c.byScript) {
      SimPortScript script;
      script.behaviour = SimBehaviour::Vanish;
      script.vanishAfterBytes = 4;
      script.vanishGapMs = 50;
      own.SetScript(0, script);
      terminal.Send("AT+GMM\r");
      sent = terminal.Receive(4);
      EXPECT_EQ(sent, "\r\nQV");
    } else {
      own.Vanish(0);
    }
    pollfd entry{terminal.fd, POLLIN, 0};
    ASSERT_EQ(poll(&entry, 1, static_cast<int>(kPatience.count())), 1);
    EXPECT_NE(entry.revents & POLLHUP, 0);
    EXPECT_TRUE(own.Vanished(0));
  }
}

}  // namespace
