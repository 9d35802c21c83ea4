#pragma once
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted SMTP server on 127.0.0.1 for tests. It listens on a port of its
// own choosing, serves the i-th accepted connection with the i-th script (an
// empty one past the last) and records every byte each client sends. Every
// wait is bounded and the destructor stops and joins everything, so a
// misbehaving client costs a failed check, never a hung test.
namespace test_support {

// What the server does on one connection, step by step, e.g.
//   Script().Send("220 ready\r\n").Reply("250 ok\r\n").Reply("221 bye\r\n")
// The server reads the client only while it awaits something and after the
// script, so during a Pause the client's bytes pile up as with a slow reader.
class Script {
 public:
  struct Step {
    enum class Kind { kSend, kPause, kAwaitLine, kAwaitData, kClose, kReset };
    Kind kind;
    std::string bytes;  // kSend
    unsigned ms = 0;    // kPause
  };

  Script& Send(std::string bytes);  // one chunk, written at once
  Script& Pause(unsigned ms);
  Script& AwaitLine();  // the client's next line ended by CR LF
  Script& AwaitData();  // the client's bytes up to the end of data, "\r\n.\r\n"
  Script& Reply(std::string bytes) { return AwaitLine().Send(std::move(bytes)); }
  Script& Close();  // an orderly close; ends the script and the recording
  Script& Reset();  // a close with RST (SO_LINGER 0); ends them too

  const std::vector<Step>& Steps() const { return steps_; }

 private:
  std::vector<Step> steps_;
};

class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<Script> scripts);
  explicit ScriptedServer(Script script = {});
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }

  // The bytes the client sent on a connection; waits (bounded) until that
  // connection has ended: the client closed it, or the script did.
  std::string Received(std::size_t connection = 0);
  // Whether the connection ended within the bounded wait.
  bool Ended(std::size_t connection = 0);
  // The connections accepted, once every one of them has ended (bounded).
  std::size_t Connections();
  // True when every script has been served to its last step (bounded wait).
  bool ScriptFinished();

 private:
  struct Connection;
  void AcceptLoop();
  void Serve(Connection& connection);
  void Finish(Connection& connection, bool complete);

  std::vector<Script> scripts_;
  int listener_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};  // written once by the destructor; wakes every wait
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::thread acceptor_;
};

// A listener whose queue of pending connections is full: a connect to it
// neither completes nor is refused, so only a connect time-out ends it.
class StalledListener {
 public:
  StalledListener();
  ~StalledListener();
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;
  int Port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  int filler_ = -1;  // the connection that fills the queue
};

}  // namespace test_support
