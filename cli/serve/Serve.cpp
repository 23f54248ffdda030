// The local web server. Each recovery runs in a child process (this same
// program in its batch mode, with --json-project and --progress-fd), so a
// file that upsets the library costs that run only, and the server reads
// nothing but the child's JSON.
#include "serve/Serve.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serve/ProjectJson.h"

extern char** environ;

namespace serve {

namespace {

constexpr const char* kServeUsage = R"(Usage: mpprecover serve [--port N] [--max-size MB] [--work-dir DIR]

Starts a web server on 127.0.0.1 (this computer only) and prints the address
to open in a browser. Drop a damaged project file on the page: it shows the
recovery's progress, then the recovered plan as an outline with a Gantt
chart, what could not be recovered, the project's header, and a button to
download the Project XML document.

Options (also as --option=value):
      --port N          the port to listen on (default 8080; 0 picks a free one)
      --max-size MB     refuse uploads larger than MB megabytes (default 256,
                        at most 4096)
      --work-dir DIR    where the server's private folder is made (default:
                        $TMPDIR or /tmp)
  -h, --help            show this text

Limits and privacy:
  - the server answers only on 127.0.0.1, and only requests that carry the
    secret token of the printed address (other users of this computer
    cannot read a plan); requests naming another host are refused
  - one recovery at a time per page (a second one is refused with 429 until
    the first ends), and at most 4 at once in all (503)
  - uploads and documents live only in a folder of their own (mode 0700)
    under the work folder: an upload is removed as soon as its recovery
    ends, a document after an hour or when 32 newer ones exist, and the
    whole folder when the server stops (Ctrl-C)
  - a recovery that runs longer than 15 minutes is stopped

The API (every request with ?token=TOKEN):
  POST /api/recover?name=FILE&client=ID   the file as the request body; the
        answer is JSON: result, exit, meaning, error, report, losses,
        project (header, tasks, resources, assignments, links), download
  GET  /api/progress?client=ID            state, received, size, percent, status
  GET  /api/document/ID                   the recovered Project XML document
)";

// With a charset, the HTTP library leaves answers uncompressed: on loopback
// compressing a large plan's JSON would cost seconds and save nothing.
constexpr const char* kJson = "application/json; charset=utf-8";
constexpr int kMaxRunning = 4;
constexpr std::size_t kMaxDocuments = 32;
constexpr auto kDocumentLifetime = std::chrono::hours(1);
constexpr auto kRecoveryLimit = std::chrono::minutes(15);
constexpr std::size_t kMaxResultBytes = std::size_t(1) << 30;

std::string RandomHex(std::size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  std::size_t got = 0;
  while (got < bytes) {
    const ssize_t n = ::getrandom(raw.data() + got, bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) std::abort();  // no randomness: no safe token either
    got += static_cast<std::size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) {
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  }
  return out;
}

bool SameSecret(const std::string& given, const std::string& secret) {
  if (given.size() != secret.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < secret.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ secret[i]);
  return diff == 0;
}

// A client's id as the page makes it: letters, digits, '-' and '_'.
bool IsClientId(const std::string& text) {
  if (text.empty() || text.size() > 64) return false;
  for (char c : text)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  return true;
}

// The upload's own name as the page shows it: without its folders or
// control characters.
std::string UploadName(std::string name) {
  if (auto slash = name.find_last_of("/\\"); slash != std::string::npos) name.erase(0, slash + 1);
  name.erase(std::remove_if(name.begin(), name.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '"'; }),
             name.end());
  if (name.size() > 200) name.resize(200);
  return name;
}

// The name of the document to download: the upload's, ".mpp" replaced by
// ".xml".
std::string DocumentName(std::string name) {
  name = UploadName(name);
  if (name.size() >= 4) {
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail == ".mpp") name.resize(name.size() - 4);
  }
  while (!name.empty() && (name[0] == '.' || name[0] == ' ')) name.erase(0, 1);
  if (name.empty()) name = "recovered";
  return name + ".xml";
}

std::string PercentEncode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

std::string ErrorJson(const std::string& message) { return "{\"error\":" + JsonQuote(message) + "}"; }

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
  return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
}

// Removes a folder of ours and everything in it, never following a link.
void RemoveTree(const std::string& path) {
  if (!path.empty()) ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool ReadSmallFile(const std::string& path, std::string& text, std::size_t limit) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[1 << 16];
  text.clear();
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text.size() + static_cast<std::size_t>(n) > limit) ok = false;
    if (n <= 0 || !ok) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ok;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

struct Progress {
  std::string state = "idle";  // idle, receiving, recovering, done
  std::uint64_t received = 0, size = 0;
  int percent = 0;
  std::string status;
};

struct Document {
  std::string folder, path, name;
  std::chrono::steady_clock::time_point made;
};

class Server {
 public:
  Server(std::string self, std::string root, std::string token, std::size_t maxBytes)
      : self_(std::move(self)), root_(std::move(root)), token_(std::move(token)), maxBytes_(maxBytes) {}

  void Install(httplib::Server& http, int port) {
    port_ = port;
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      return Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled : httplib::Server::HandlerResponse::Handled;
    });
    http.Get("/", [this](const httplib::Request&, httplib::Response& res) {
      // Nothing but the page's own script and styles, and requests to
      // this server.
      res.set_header("Content-Security-Policy",
                     "default-src 'none'; script-src 'nonce-" + nonce_ + "'; style-src 'unsafe-inline'; "
                     "img-src data:; connect-src 'self'; base-uri 'none'; form-action 'none'; "
                     "frame-ancestors 'none'");
      res.set_content(page_, "text/html; charset=utf-8");
    });
    http.Post("/api/recover", [this](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader& reader) { Recover(req, res, reader); });
    http.Get("/api/progress", [this](const httplib::Request& req, httplib::Response& res) { ProgressOf(req, res); });
    http.Get(R"(/api/document/([0-9a-f]{32}))",
             [this](const httplib::Request& req, httplib::Response& res) { Download(req, res); });
    http.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
      if (res.body.empty())
        res.set_content(ErrorJson(res.status == 404 ? "no such page" : "the request could not be served"),
                        kJson);
      return httplib::Server::HandlerResponse::Handled;
    }));
  }

  void SetPage(const std::string& page, std::size_t maxBytes) {
    nonce_ = RandomHex(16);
    page_ = Replace(Replace(page, "__NONCE__", nonce_), "__MAX_BYTES__", std::to_string(maxBytes));
  }

  // Ends every running recovery (at shutdown).
  void StopChildren() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (pid_t pid : children_) ::kill(pid, SIGKILL);
  }

 private:
  static void Headers(httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
  }

  // Only requests to this server by its own address, with the token.
  bool Admit(const httplib::Request& req, httplib::Response& res) {
    Headers(res);
    const std::string host = req.get_header_value("Host");
    const std::string port = ":" + std::to_string(port_);
    if (host != "127.0.0.1" + port && host != "localhost" + port) {
      res.status = 403;
      res.set_header("Connection", "close");
      res.set_content(ErrorJson("requests must name this server as 127.0.0.1" + port), kJson);
      return false;
    }
    std::string token = req.get_param_value("token");
    if (token.empty()) token = req.get_header_value("X-Token");
    if (!SameSecret(token, token_)) {
      res.status = 403;
      res.set_header("Connection", "close");
      if (req.path == "/")
        res.set_content("<!doctype html><meta charset=utf-8><title>mpprecover</title><p>Open the address that "
                        "<code>mpprecover serve</code> printed: it carries the token that keeps your plans "
                        "private.</p>",
                        "text/html; charset=utf-8");
      else
        res.set_content(ErrorJson("a valid token is needed"), kJson);
      return false;
    }
    return true;
  }

  void ProgressOf(const httplib::Request& req, httplib::Response& res) {
    const std::string client = req.has_param("client") ? req.get_param_value("client") : "default";
    if (!IsClientId(client)) {
      res.status = 400;
      res.set_content(ErrorJson("a bad client id"), kJson);
      return;
    }
    Progress p;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (auto it = progress_.find(client); it != progress_.end()) p = it->second;
    }
    res.set_content("{\"state\":" + JsonQuote(p.state) + ",\"received\":" + std::to_string(p.received) +
                        ",\"size\":" + std::to_string(p.size) + ",\"percent\":" + std::to_string(p.percent) +
                        ",\"status\":" + JsonQuote(p.status) + "}",
                    kJson);
  }

  void Download(const httplib::Request& req, httplib::Response& res) {
    const std::string id = req.matches[1];
    Document doc;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Expire();
      auto it = documents_.find(id);
      if (it == documents_.end()) {
        res.status = 404;
        res.set_content(ErrorJson("no such document (documents are kept for an hour)"), kJson);
        return;
      }
      doc = it->second;
    }
    std::string xml;
    if (!ReadSmallFile(doc.path, xml, SIZE_MAX / 2)) {
      res.status = 404;
      res.set_content(ErrorJson("the document is gone"), kJson);
      return;
    }
    std::string ascii;
    for (char c : doc.name) ascii.push_back(static_cast<unsigned char>(c) < 0x80 && c != '\\' ? c : '_');
    res.set_header("Content-Disposition",
                   "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + PercentEncode(doc.name));
    res.set_content(std::move(xml), "application/xml; charset=utf-8");
  }

  // Documents older than an hour, and beyond the newest kMaxDocuments, go.
  void Expire() {
    const auto now = std::chrono::steady_clock::now();
    for (auto it = documents_.begin(); it != documents_.end();) {
      if (now - it->second.made > kDocumentLifetime) {
        RemoveTree(it->second.folder);
        it = documents_.erase(it);
      } else {
        ++it;
      }
    }
    while (documents_.size() > kMaxDocuments) {
      auto oldest = std::min_element(documents_.begin(), documents_.end(),
                                     [](const auto& a, const auto& b) { return a.second.made < b.second.made; });
      RemoveTree(oldest->second.folder);
      documents_.erase(oldest);
    }
  }

  void Answer(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    res.set_header("Connection", "close");
    res.set_content(ErrorJson(message), kJson);
  }

  void Recover(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    const std::string client = req.has_param("client") ? req.get_param_value("client") : "default";
    if (!IsClientId(client)) return Answer(res, 400, "a bad client id");
    const std::string name = DocumentName(req.get_param_value("name"));
    std::string uploadName = UploadName(req.get_param_value("name"));
    if (uploadName.empty()) uploadName = "the upload";
    const std::uint64_t declared =
        req.has_header("Content-Length") ? req.get_header_value<std::uint64_t>("Content-Length") : 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Progress& p = progress_[client];
      if (p.state == "receiving" || p.state == "recovering")
        return Answer(res, 429, "a recovery of this page is running: wait for it to end");
      if (running_ >= kMaxRunning) {
        res.set_header("Retry-After", "5");
        return Answer(res, 503, "the server is busy with other recoveries: try again in a moment");
      }
      ++running_;
      p = Progress{};
      p.state = "receiving";
      p.size = declared;
    }
    std::string folder;
    std::string answer;
    int status = Run(client, uploadName, name, declared, reader, res, folder, answer);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --running_;
      Progress& p = progress_[client];
      p.state = "done";
      p.percent = 100;
      // Page ids are cheap to make: the table keeps only the running ones
      // once it grows large.
      if (progress_.size() > 4096)
        for (auto it = progress_.begin(); it != progress_.end();)
          it = it->second.state == "done" || it->second.state == "idle" ? progress_.erase(it) : std::next(it);
    }
    if (status != 200) {
      RemoveTree(folder);
      return Answer(res, status, answer);
    }
    res.set_content(answer, kJson);
  }

  // Receives the upload into a folder of its own and recovers it; returns
  // the HTTP status, with the JSON answer (or the error's message).
  int Run(const std::string& client, const std::string& uploadName, const std::string& name, std::uint64_t declared,
          const httplib::ContentReader& reader, httplib::Response& res, std::string& folder, std::string& answer) {
    if (declared > maxBytes_) {
      reader([](const char*, std::size_t) { return true; });  // the library skips what is over its limit
      answer = "the file is larger than this server takes (" + std::to_string(maxBytes_ >> 20) + " MB)";
      return 413;
    }
    const std::string id = RandomHex(16);
    folder = root_ + "/" + id;
    if (::mkdir(folder.c_str(), 0700) != 0) {
      folder.clear();
      answer = std::string("cannot make a work folder: ") + std::strerror(errno);
      return 500;
    }
    const std::string upload = folder + "/upload.mpp";
    int fd = ::open(upload.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      answer = std::string("cannot store the upload: ") + std::strerror(errno);
      return 500;
    }
    std::uint64_t received = 0;
    bool tooLarge = false;
    int writeError = 0;
    const bool whole = reader([&](const char* data, std::size_t size) {
      if (received + size > maxBytes_) {
        tooLarge = true;
        return false;
      }
      for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          writeError = n < 0 ? errno : ENOSPC;
          return false;
        }
        done += static_cast<std::size_t>(n);
      }
      received += size;
      std::lock_guard<std::mutex> lock(mutex_);
      progress_[client].received = received;
      return true;
    });
    ::close(fd);
    if (tooLarge || res.status == 413) {
      answer = "the file is larger than this server takes (" + std::to_string(maxBytes_ >> 20) + " MB)";
      return 413;
    }
    if (writeError) {
      answer = std::string("cannot store the upload: ") + std::strerror(writeError);
      return 507;
    }
    if (!whole) {
      answer = "the upload did not arrive whole";
      return 400;
    }
    if (received == 0) {
      answer = "the request holds no file";
      return 400;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Progress& p = progress_[client];
      p.state = "recovering";
      p.size = received;
    }
    const std::string result = folder + "/result.json";
    const std::string document = folder + "/document.xml";
    std::string error;
    const bool ran = RunChild(client, {self_, "--quiet", "--work-dir", folder, "--json-project", result,
                                       "--progress-fd", "3", "-o", document, upload},
                              error);
    ::unlink(upload.c_str());
    if (!ran) {
      answer = error;
      return 500;
    }
    std::string json;
    if (!ReadSmallFile(result, json, kMaxResultBytes) || json.size() < 2) {
      answer = "the recovery ended without an answer";
      return 500;
    }
    ::unlink(result.c_str());
    // The page sees the file's own name, not where the server kept it.
    auto inner = [](const std::string& text) {
      const std::string quoted = JsonQuote(text);
      return quoted.substr(1, quoted.size() - 2);
    };
    json = Replace(json, inner(upload), inner(uploadName));
    json = Replace(json, inner(document), inner(name));
    json = Replace(json, inner(folder), "(the server's work folder)");
    while (!json.empty() && (json.back() == '\n' || json.back() == '}')) {
      const bool brace = json.back() == '}';
      json.pop_back();
      if (brace) break;
    }
    const bool hasDocument = ::access(document.c_str(), F_OK) == 0;
    json += ",\"id\":" + JsonQuote(id) + ",\"name\":" + JsonQuote(name) + ",\"size\":" + std::to_string(received) +
            ",\"download\":" +
            (hasDocument ? JsonQuote("/api/document/" + id + "?token=" + token_) : std::string("null")) + "}";
    std::lock_guard<std::mutex> lock(mutex_);
    if (hasDocument) {
      documents_[id] = Document{folder, document, name, std::chrono::steady_clock::now()};
      Expire();
    } else {
      RemoveTree(folder);
    }
    answer = std::move(json);
    return 200;
  }

  // Runs this program in its batch mode; its progress lines arrive on fd 3.
  bool RunChild(const std::string& client, const std::vector<std::string>& args, std::string& error) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
      error = std::string("cannot start the recovery: ") + std::strerror(errno);
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
    posix_spawn_file_actions_addclosefrom_np(&actions, 4);  // no socket of the server's goes along
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("mpprecover"));
    for (std::size_t i = 1; i < args.size(); ++i) argv.push_back(const_cast<char*>(args[i].c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned;
    {
      // Registered under the lock so that a shutdown cannot miss it.
      std::lock_guard<std::mutex> lock(mutex_);
      spawned = ::posix_spawn(&pid, args[0].c_str(), &actions, &attributes, argv.data(), environ);
      if (spawned == 0) children_.push_back(pid);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (spawned != 0) {
      ::close(pipeFds[0]);
      error = std::string("cannot start the recovery: ") + std::strerror(spawned);
      return false;
    }
    // Progress lines until the child closes its end, within the time limit.
    const auto deadline = std::chrono::steady_clock::now() + kRecoveryLimit;
    std::string pending;
    bool killed = false;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        ::kill(pid, SIGKILL);
        killed = true;
        break;
      }
      struct pollfd p {pipeFds[0], POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(n));
      std::size_t newline;
      while ((newline = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, newline);
        pending.erase(0, newline + 1);
        const int percent = std::atoi(line.c_str());
        const auto space = line.find(' ');
        std::lock_guard<std::mutex> lock(mutex_);
        Progress& state = progress_[client];
        if (percent >= state.percent && percent <= 100) state.percent = percent;
        if (space != std::string::npos) state.status = line.substr(space + 1, 200);
      }
      if (pending.size() > 4096) pending.clear();  // no line is that long
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      children_.erase(std::remove(children_.begin(), children_.end(), pid), children_.end());
    }
    if (killed) {
      error = "the recovery took too long and was stopped";
      return false;
    }
    if (WIFSIGNALED(status)) {
      error = "the recovery ended abnormally (signal " + std::to_string(WTERMSIG(status)) + ")";
      return false;
    }
    return true;
  }

  const std::string self_, root_, token_;
  const std::size_t maxBytes_;
  int port_ = 0;
  std::string page_, nonce_;
  std::mutex mutex_;
  std::map<std::string, Progress> progress_;
  std::map<std::string, Document> documents_;
  std::vector<pid_t> children_;
  int running_ = 0;
};

bool ParseNumber(const std::string& text, long long limit, long long& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::atoll(text.c_str());
  return value <= limit;
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "mpprecover serve: %s\nTry 'mpprecover serve --help'.\n", problem.c_str());
  return 2;
}

}  // namespace

int Main(int argc, char** argv) {
  long long port = 8080, maxMb = 256;
  std::string workDir;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i], value;
    bool hasInline = false;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      hasInline = true;
    }
    auto take = [&]() {
      if (hasInline) return true;
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    if ((arg == "-h" || arg == "--help") && !hasInline) {
      std::fputs(kServeUsage, stdout);
      return 0;
    } else if (arg == "--port") {
      if (!take() || !ParseNumber(value, 65535, port)) return Usage("--port needs a port number (0-65535)");
    } else if (arg == "--max-size") {
      if (!take() || !ParseNumber(value, 4096, maxMb) || maxMb < 1) return Usage("--max-size needs megabytes (1-4096)");
    } else if (arg == "--work-dir") {
      if (!take() || value.empty()) return Usage("--work-dir needs a folder");
      workDir = value;
    } else {
      return Usage("unknown argument " + arg);
    }
  }
  if (workDir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    workDir = tmp && *tmp ? tmp : "/tmp";
  }
  while (workDir.size() > 1 && workDir.back() == '/') workDir.pop_back();

  char self[PATH_MAX + 1];
  const ssize_t selfLength = ::readlink("/proc/self/exe", self, PATH_MAX);
  if (selfLength <= 0) {
    std::fprintf(stderr, "mpprecover serve: cannot find this program: %s\n", std::strerror(errno));
    return 1;
  }
  self[selfLength] = '\0';

  std::string root = workDir + "/mpprecover-serve-XXXXXX";
  if (!::mkdtemp(root.data())) {
    std::fprintf(stderr, "mpprecover serve: cannot make a folder in %s: %s\n", workDir.c_str(), std::strerror(errno));
    return 1;
  }

  // Ctrl-C and SIGTERM are taken by one thread, which stops the server;
  // every other thread (and so every request) has them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  const std::string token = RandomHex(16);
  const std::size_t maxBytes = static_cast<std::size_t>(maxMb) << 20;
  Server server(self, root, token, maxBytes);
  server.SetPage(kPageHtml, maxBytes);

  httplib::Server http;
  // Recoveries block their request's thread; progress and the page need
  // threads of their own meanwhile.
  http.new_task_queue = [] { return new httplib::ThreadPool(16); };
  http.set_payload_max_length(maxBytes);
  http.set_read_timeout(30);
  http.set_write_timeout(30);
  http.set_keep_alive_timeout(5);
  http.set_keep_alive_max_count(100);
  // The listening socket is this server's alone: no SO_REUSEPORT, under
  // which a second server on the same port would share its requests.
  http.set_socket_options([](int sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    ::fcntl(sock, F_SETFD, FD_CLOEXEC);
  });

  int bound = port == 0 ? http.bind_to_any_port("127.0.0.1")
                        : (http.bind_to_port("127.0.0.1", static_cast<int>(port)) ? static_cast<int>(port) : -1);
  if (bound <= 0) {
    std::fprintf(stderr, "mpprecover serve: cannot listen on 127.0.0.1:%lld: %s\n", port,
                 port ? "the port is in use or not allowed" : "no free port");
    RemoveTree(root);
    return 1;
  }
  server.Install(http, bound);
  std::printf("mpprecover: serving on http://127.0.0.1:%d/?token=%s\n", bound, token.c_str());
  std::printf("mpprecover: open that address in a browser; Ctrl-C stops the server\n");
  std::fflush(stdout);

  std::atomic<bool> stopping{false};
  std::thread waiter([&] {
    int signal = 0;
    ::sigwait(&stopSignals, &signal);
    stopping = true;
    server.StopChildren();
    http.stop();
  });
  const bool listened = http.listen_after_bind();
  if (!stopping) {
    // The server ended by itself: wake the waiter so that it ends too.
    ::kill(::getpid(), SIGTERM);
  }
  waiter.join();
  server.StopChildren();
  RemoveTree(root);
  std::fprintf(stderr, "mpprecover: server stopped\n");
  return listened || stopping ? 0 : 1;
}

}  // namespace serve
