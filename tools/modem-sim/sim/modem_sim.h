#pragma once
// A simulated modem on pseudo-terminals: answers AT commands in V.250 framing with echo off,
// and can be told per port to misbehave. Each port keeps its master and one slave descriptor
// open for the sim's whole life, so the terminal survives the program's opens and closes.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class SimBehaviour {
  Answer,  // normal answers
  Silent,  // never answers
  Error,   // answers every command with ERROR
  Split,   // the normal answer in splitPieces pieces, splitGapMs apart
  Long,    // answers with longReplyBytes bytes of pattern text (SimLongReply)
  Nul,     // the normal answer with a NUL byte inserted at position size / 2
  Flood,   // sends without pause, commands or not
  Vanish,  // sends the first vanishAfterBytes of the answer, waits vanishGapMs, closes its end
};

struct SimPortScript {
  SimBehaviour behaviour = SimBehaviour::Answer;
  std::string modelText = "QV-2 Cellular Modem";
  int32_t csqValue = 17;
  bool csqPattern = false;  // the value walks 5..25 and back, one step per AT+CSQ
  int32_t replyDelayMs = 0;  // before the first byte of every answer
  int32_t splitPieces = 3;
  int32_t splitGapMs = 100;
  int32_t longReplyBytes = 1500;
  int32_t vanishAfterBytes = 0;
  int32_t vanishGapMs = 0;
};

struct SimCommand {
  int32_t port = 0;
  std::string text;  // without its carriage return
  std::chrono::steady_clock::time_point arrival;
};

// "\r\n<text>\r\n\r\nOK\r\n", or "\r\nOK\r\n" for an empty text.
std::string SimFrame(const std::string& text);
// A long reply: byte i is 'A' + i % 26.
std::string SimLongReply(int32_t bytes);
// The value AT+CSQ gives the n-th time (from 0) when it follows the slow pattern.
int32_t SimCsqPatternValue(int64_t n);

class ModemSim {
 public:
  explicit ModemSim(int32_t portCount = 1);
  ~ModemSim();
  ModemSim(const ModemSim&) = delete;
  ModemSim& operator=(const ModemSim&) = delete;

  bool Ok() const;                 // every port created and the serving thread running
  const std::string& Error() const;
  int32_t PortCount() const;
  const std::string& SlavePath(int32_t port) const;

  void SetScript(int32_t port, const SimPortScript& script);
  SimPortScript Script(int32_t port) const;

  // The answer the sim gives a command under the Answer behaviour, and whether it gives one.
  bool AnswerFor(int32_t port, const std::string& command, std::string& answer);

  std::vector<SimCommand> Received() const;  // every port, in order of arrival
  std::vector<SimCommand> Received(int32_t port) const;
  bool WaitForCommands(int32_t port, std::size_t count, std::chrono::milliseconds limit) const;
  void ClearReceived();

  void Send(int32_t port, const std::string& bytes);  // unsolicited bytes, at once
  void Vanish(int32_t port);                           // closes the port's end now
  bool Vanished(int32_t port) const;

  // Called on the serving thread for every command line received.
  void OnCommand(std::function<void(const SimCommand&)> observer);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};
