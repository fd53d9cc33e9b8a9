// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>
#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ticklark::endpoint::test {

// A scratch folder, removed with everything in it at the end of its scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  // Writes |text| to |name| (folders created as needed); returns the full path.
  std::string Write(const std::string& name, std::string_view text) const;

 private:
  std::string m_path;
};

// The built ticklark-endpoint executable as a child process, its standard
// error going to a file that the test reads.
class EndpointProcess {
 public:
  EndpointProcess() = default;
  ~EndpointProcess();
  EndpointProcess(const EndpointProcess&) = delete;
  EndpointProcess& operator=(const EndpointProcess&) = delete;

  // Starts the endpoint with |arguments| and XDG_CONFIG_HOME set to
  // |config_home|, and waits until it listens (true) or has exited (false).
  // A |descriptor_limit| other than 0 caps its open descriptors (soft and hard).
  bool Start(const std::vector<std::string>& arguments, const std::string& config_home,
             unsigned descriptor_limit = 0);
  // "http://127.0.0.1:<port>" once started.
  std::string BaseUrl() const;
  unsigned port() const { return m_port; }
  pid_t pid() const { return m_pid; }
  // Everything written to standard error so far.
  std::string Log() const;
  // Waits until the log holds |text|.
  bool WaitForLog(std::string_view text,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // Sends SIGTERM and returns the exit status (-1 when it did not exit normally).
  int Stop();
  // The exit status once the process has ended by itself (-1 on timeout).
  int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  pid_t m_pid = -1;
  int m_exited_status = 0;  // the wait status when Start() saw the process end
  unsigned m_port = 0;
  TempDir m_scratch;
  std::string m_log_path;
};

struct HttpReply {
  unsigned status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string error;  // set when no reply came

  std::string Header(const std::string& lower_case_name) const;
};

// One request on a fresh connection; redirects are not followed.
HttpReply Request(const std::string& method, const std::string& url);

// A plain TCP connection to 127.0.0.1:|port|, closed when it goes.
class RawConnection {
 public:
  explicit RawConnection(unsigned port);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool connected() const { return m_fd >= 0; }
  bool Send(std::string_view bytes);
  // Reads one answer (head and a Content-Length body); its status, or 0.
  unsigned ReadAnswer(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Whether the server has closed its side (after what it wrote, the end or
  // a reset is waiting).
  bool ClosedByServer();

 private:
  int m_fd = -1;
};

// A GET of |path| on a fresh connection that is closed after the answer; the
// status, or 0 without an answer, and the time the whole exchange took.
unsigned TimedGet(unsigned port, const std::string& path, std::chrono::microseconds& took);

// Of the process |pid|: open descriptors, and resident memory in KiB.
std::size_t OpenDescriptors(pid_t pid);
std::size_t ResidentKiB(pid_t pid);
// The most resident memory |pid| has had, in KiB.
std::size_t PeakResidentKiB(pid_t pid);

// Raises this process's soft descriptor limit to at least |wanted|; false when
// the hard limit does not allow it.
bool AllowDescriptors(std::size_t wanted);

// The path of the project's source folder.
std::string SourceDir();

}  // namespace ticklark::endpoint::test
