#include "tools/modem-sim/sim/modem_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr std::size_t kMaxLineBytes = 1024;
constexpr std::size_t kFloodBacklogBytes = 4096;
constexpr auto kFloodInterval = Millis(1);
constexpr auto kVanishGrace = Millis(1000);
constexpr const char* kManufacturer = "QV Simulated Modems";
constexpr const char* kRevision = "Revision 1.0";

struct Chunk {
  Clock::time_point due;
  std::string bytes;
};

struct PortState {
  int master = -1;
  int slaveHold = -1;
  std::string path;
  SimPortScript script;
  std::string line;
  bool lineTooLong = false;
  std::deque<Chunk> scheduled;  // due times never decrease
  std::string out;              // due and not yet taken by the terminal
  bool vanishing = false;
  Clock::time_point vanishAt;
  bool vanished = false;
  int64_t csqCount = 0;
  Clock::time_point nextFlood;
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The basic commands after "AT" that only change settings: E, Q, V, Z, X, L, M with an
// optional number, &-commands, and S-register assignments.
bool SettingsOnly(const std::string& body) {
  std::size_t i = 0;
  auto digits = [&] {
    while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) ++i;
  };
  while (i < body.size()) {
    char c = body[i];
    if (std::strchr("EQVZXLM", c) != nullptr) {
      ++i;
      digits();
    } else if (c == '&' && i + 1 < body.size() && std::isalpha(static_cast<unsigned char>(body[i + 1]))) {
      i += 2;
      digits();
    } else if (c == 'S' && i + 1 < body.size() && std::isdigit(static_cast<unsigned char>(body[i + 1]))) {
      ++i;
      digits();
      if (i < body.size() && body[i] == '=') {
        ++i;
        digits();
      } else if (i < body.size() && body[i] == '?') {
        ++i;
      }
    } else {
      return false;
    }
  }
  return true;
}

bool Answer(const PortState& state, int32_t port, const std::string& command, std::string& answer) {
  std::string text = Upper(command);
  text.erase(0, text.find_first_not_of(" \t\n"));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  if (text.size() < 2 || text.compare(0, 2, "AT") != 0) return false;
  const std::string body = text.substr(2);
  const std::string model = state.script.modelText;
  std::string serial = "35000000000" + std::to_string(1000 + port % 9000);
  if (body == "+GMM" || body == "+CGMM") {
    answer = SimFrame(model);
  } else if (body == "+GMI" || body == "+CGMI") {
    answer = SimFrame(kManufacturer);
  } else if (body == "+GMR" || body == "+CGMR") {
    answer = SimFrame(kRevision);
  } else if (body == "+GSN" || body == "+CGSN") {
    answer = SimFrame(serial);
  } else if (body == "I" || body == "I0") {
    answer = SimFrame(std::string(kManufacturer) + "\r\n" + model + "\r\n" + kRevision);
  } else if (body == "+CSQ") {
    int32_t value = state.script.csqPattern ? SimCsqPatternValue(state.csqCount) : state.script.csqValue;
    answer = SimFrame("+CSQ: " + std::to_string(value) + ",99");
  } else if (body == "+CSQ=?") {
    answer = SimFrame("+CSQ: (0-31,99),(0-7,99)");
  } else if (SettingsOnly(body)) {
    answer = SimFrame("");
  } else {
    answer = "\r\nERROR\r\n";
  }
  return true;
}

void CloseEnd(PortState& state) {
  if (state.master >= 0) close(state.master);
  if (state.slaveHold >= 0) close(state.slaveHold);
  state.master = -1;
  state.slaveHold = -1;
  state.scheduled.clear();
  state.out.clear();
  state.vanishing = false;
  state.vanished = true;
}

}  // namespace

std::string SimFrame(const std::string& text) {
  if (text.empty()) return "\r\nOK\r\n";
  return "\r\n" + text + "\r\n\r\nOK\r\n";
}

std::string SimLongReply(int32_t bytes) {
  std::string reply;
  for (int32_t i = 0; i < bytes; ++i) reply.push_back(static_cast<char>('A' + i % 26));
  return reply;
}

int32_t SimCsqPatternValue(int64_t n) {
  auto k = static_cast<int32_t>(n % 40);
  return k <= 20 ? 5 + k : 45 - k;
}

struct ModemSim::Impl {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<PortState> ports;
  std::vector<SimCommand> received;
  std::function<void(const SimCommand&)> observer;
  std::string error;
  int wakeFd = -1;
  bool stopping = false;
  bool running = false;
  std::thread thread;

  void Wake() const {
    uint64_t one = 1;
    ssize_t ignored = write(wakeFd, &one, sizeof one);
    (void)ignored;
  }

  void Schedule(PortState& state, Clock::time_point due, std::string bytes) {
    if (!state.scheduled.empty()) due = std::max(due, state.scheduled.back().due);
    state.scheduled.push_back({due, std::move(bytes)});
  }

  void Respond(int32_t port, const std::string& command, Clock::time_point now) {
    PortState& state = ports[static_cast<std::size_t>(port)];
    const SimPortScript& script = state.script;
    std::string answer;
    if (!Answer(state, port, command, answer)) return;
    if (Upper(command).find("+CSQ") != std::string::npos && Upper(command).find('?') == std::string::npos) {
      ++state.csqCount;
    }
    const auto start = now + Millis(std::max(0, script.replyDelayMs));
    switch (script.behaviour) {
      case SimBehaviour::Answer:
        Schedule(state, start, answer);
        break;
      case SimBehaviour::Silent:
      case SimBehaviour::Flood:
        break;
      case SimBehaviour::Error:
        Schedule(state, start, "\r\nERROR\r\n");
        break;
      case SimBehaviour::Split: {
        auto pieces = static_cast<std::size_t>(std::max(1, script.splitPieces));
        std::size_t size = answer.size();
        for (std::size_t i = 0; i < pieces; ++i) {
          std::size_t from = size * i / pieces;
          std::size_t to = size * (i + 1) / pieces;
          Schedule(state, start + Millis(int64_t{std::max(0, script.splitGapMs)} * static_cast<int64_t>(i)),
                   answer.substr(from, to - from));
        }
        break;
      }
      case SimBehaviour::Long:
        Schedule(state, start, SimLongReply(std::max(0, script.longReplyBytes)));
        break;
      case SimBehaviour::Nul:
        answer.insert(answer.size() / 2, 1, '\0');
        Schedule(state, start, answer);
        break;
      case SimBehaviour::Vanish: {
        auto keep = std::min(answer.size(), static_cast<std::size_t>(std::max(0, script.vanishAfterBytes)));
        if (keep > 0) Schedule(state, start, answer.substr(0, keep));
        state.vanishing = true;
        state.vanishAt = start + Millis(std::max(0, script.vanishGapMs));
        break;
      }
    }
  }

  // Takes command lines out of the received bytes; returns the commands for the observer.
  void Take(int32_t port, const char* bytes, std::size_t count, Clock::time_point now,
            std::vector<SimCommand>& taken) {
    PortState& state = ports[static_cast<std::size_t>(port)];
    for (std::size_t i = 0; i < count; ++i) {
      char c = bytes[i];
      if (c == '\r') {
        bool keep = !state.lineTooLong && !state.line.empty();
        std::string text = std::move(state.line);
        state.line.clear();
        state.lineTooLong = false;
        if (!keep) continue;
        SimCommand command{port, text, now};
        received.push_back(command);
        taken.push_back(command);
        Respond(port, text, now);
      } else if (c == '\n') {
        continue;
      } else if (c == '\b' || c == 0x7f) {
        if (!state.line.empty()) state.line.pop_back();
      } else if (state.line.size() < kMaxLineBytes) {
        state.line.push_back(c);
      } else {
        state.lineTooLong = true;
      }
    }
  }

  void Serve() {
    std::vector<pollfd> entries;
    std::vector<int32_t> owners;
    char buffer[4096];
    std::unique_lock lock(mutex);
    while (!stopping) {
      auto now = Clock::now();
      Clock::time_point next = Clock::time_point::max();
      entries.assign(1, pollfd{wakeFd, POLLIN, 0});
      owners.assign(1, -1);
      for (std::size_t p = 0; p < ports.size(); ++p) {
        PortState& state = ports[p];
        // The end closes once what it had to send is out, or a second late at most.
        bool sent = state.scheduled.empty() && state.out.empty();
        if (state.vanishing && now >= state.vanishAt && (sent || now >= state.vanishAt + kVanishGrace)) {
          CloseEnd(state);
          changed.notify_all();
        }
        if (state.master < 0) continue;
        while (!state.scheduled.empty() && state.scheduled.front().due <= now) {
          state.out += state.scheduled.front().bytes;
          state.scheduled.pop_front();
        }
        // A flood waits for the terminal while its backlog is full, so it never spins.
        if (state.script.behaviour == SimBehaviour::Flood && state.out.size() < kFloodBacklogBytes) {
          if (now >= state.nextFlood) {
            state.out += SimFrame("+CSQ: " + std::to_string(state.script.csqValue) + ",99");
            state.nextFlood = now + kFloodInterval;
          }
          next = std::min(next, state.nextFlood);
        }
        if (!state.scheduled.empty()) next = std::min(next, state.scheduled.front().due);
        if (state.vanishing) next = std::min(next, sent ? state.vanishAt : state.vanishAt + kVanishGrace);
        short events = POLLIN;
        if (!state.out.empty()) events |= POLLOUT;
        entries.push_back(pollfd{state.master, events, 0});
        owners.push_back(static_cast<int32_t>(p));
      }
      timespec wait{};
      timespec* waitFor = nullptr;
      if (next != Clock::time_point::max()) {
        auto left = std::max(next - now, Clock::duration::zero());
        auto secs = std::chrono::duration_cast<std::chrono::seconds>(left);
        wait.tv_sec = static_cast<time_t>(secs.count());
        wait.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - secs).count());
        waitFor = &wait;
      }
      lock.unlock();
      int ready = ppoll(entries.data(), entries.size(), waitFor, nullptr);
      lock.lock();
      if (ready <= 0) continue;
      if ((entries[0].revents & POLLIN) != 0) {
        uint64_t count;
        ssize_t ignored = read(wakeFd, &count, sizeof count);
        (void)ignored;
      }
      std::vector<SimCommand> taken;
      now = Clock::now();
      for (std::size_t e = 1; e < entries.size(); ++e) {
        PortState& state = ports[static_cast<std::size_t>(owners[e])];
        // The entry may be stale: the port may have vanished while the lock was free.
        if (state.master != entries[e].fd) continue;
        if ((entries[e].revents & POLLOUT) != 0 && !state.out.empty()) {
          ssize_t put = write(state.master, state.out.data(), state.out.size());
          if (put > 0) state.out.erase(0, static_cast<std::size_t>(put));
        }
        if ((entries[e].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
          ssize_t got = read(state.master, buffer, sizeof buffer);
          if (got > 0) Take(owners[e], buffer, static_cast<std::size_t>(got), now, taken);
        }
      }
      if (!taken.empty()) {
        changed.notify_all();
        auto observe = observer;
        lock.unlock();
        if (observe) {
          for (const auto& command : taken) observe(command);
        }
        lock.lock();
      }
    }
  }
};

ModemSim::ModemSim(int32_t portCount) : impl(std::make_unique<Impl>()) {
  impl->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl->wakeFd < 0) {
    impl->error = std::string("eventfd: ") + std::strerror(errno);
    return;
  }
  impl->ports.resize(static_cast<std::size_t>(std::max(0, portCount)));
  for (auto& state : impl->ports) {
    char name[256] = {};
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
      impl->error = std::string("openpty: ") + std::strerror(errno);
      return;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(slave, TCSANOW, &tio);
    state.master = master;
    state.slaveHold = slave;
    state.path = name;
  }
  impl->running = true;
  impl->thread = std::thread([this] { impl->Serve(); });
}

ModemSim::~ModemSim() {
  {
    std::lock_guard lock(impl->mutex);
    impl->stopping = true;
  }
  if (impl->thread.joinable()) {
    impl->Wake();
    impl->thread.join();
  }
  for (auto& state : impl->ports) {
    if (state.master >= 0) close(state.master);
    if (state.slaveHold >= 0) close(state.slaveHold);
  }
  if (impl->wakeFd >= 0) close(impl->wakeFd);
}

bool ModemSim::Ok() const { return impl->running && impl->error.empty(); }

const std::string& ModemSim::Error() const { return impl->error; }

int32_t ModemSim::PortCount() const { return static_cast<int32_t>(impl->ports.size()); }

const std::string& ModemSim::SlavePath(int32_t port) const {
  return impl->ports.at(static_cast<std::size_t>(port)).path;
}

void ModemSim::SetScript(int32_t port, const SimPortScript& script) {
  {
    std::lock_guard lock(impl->mutex);
    impl->ports.at(static_cast<std::size_t>(port)).script = script;
  }
  impl->Wake();
}

SimPortScript ModemSim::Script(int32_t port) const {
  std::lock_guard lock(impl->mutex);
  return impl->ports.at(static_cast<std::size_t>(port)).script;
}

bool ModemSim::AnswerFor(int32_t port, const std::string& command, std::string& answer) {
  std::lock_guard lock(impl->mutex);
  return Answer(impl->ports.at(static_cast<std::size_t>(port)), port, command, answer);
}

std::vector<SimCommand> ModemSim::Received() const {
  std::lock_guard lock(impl->mutex);
  return impl->received;
}

std::vector<SimCommand> ModemSim::Received(int32_t port) const {
  std::lock_guard lock(impl->mutex);
  std::vector<SimCommand> mine;
  for (const auto& command : impl->received) {
    if (command.port == port) mine.push_back(command);
  }
  return mine;
}

bool ModemSim::WaitForCommands(int32_t port, std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(impl->mutex);
  return impl->changed.wait_for(lock, limit, [&] {
    return std::count_if(impl->received.begin(), impl->received.end(),
                         [&](const SimCommand& c) { return c.port == port; }) >= static_cast<std::ptrdiff_t>(count);
  });
}

void ModemSim::ClearReceived() {
  std::lock_guard lock(impl->mutex);
  impl->received.clear();
}

void ModemSim::Send(int32_t port, const std::string& bytes) {
  {
    std::lock_guard lock(impl->mutex);
    auto& state = impl->ports.at(static_cast<std::size_t>(port));
    if (state.master < 0) return;
    impl->Schedule(state, Clock::now(), bytes);
  }
  impl->Wake();
}

void ModemSim::Vanish(int32_t port) {
  std::unique_lock lock(impl->mutex);
  auto& state = impl->ports.at(static_cast<std::size_t>(port));
  if (state.vanished) return;
  if (!impl->running) {
    CloseEnd(state);
    return;
  }
  state.scheduled.clear();
  state.out.clear();
  state.vanishing = true;
  state.vanishAt = Clock::now();
  impl->Wake();
  impl->changed.wait(lock, [&] { return state.vanished; });
}

bool ModemSim::Vanished(int32_t port) const {
  std::lock_guard lock(impl->mutex);
  return impl->ports.at(static_cast<std::size_t>(port)).vanished;
}

void ModemSim::OnCommand(std::function<void(const SimCommand&)> observer) {
  std::lock_guard lock(impl->mutex);
  impl->observer = std::move(observer);
}
