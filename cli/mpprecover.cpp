// mpprecover: the command-line host of libmdwdll. It drives the library only
// through its exported C interface, as any other host would.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Utf.h"
#include "mdwdll.h"
#include "serve/ProjectJson.h"
#ifdef MDW_SERVE
#include "serve/Serve.h"
#endif

namespace {

constexpr const char* kUsage = R"(Usage: mpprecover [options] INPUT... [-o OUTPUT]
       mpprecover [options] INPUT OUTPUT
       mpprecover serve [--port N] [--max-size MB] [--work-dir DIR]

Recovers damaged project files (.mpp, versions 9, 12 and 14) into Project
XML documents, and says what could not be recovered.

OUTPUT is an existing folder, in which each document's name is composed
from its input's name with the extension .xml (plan.xml; plan(2).xml,
plan(3).xml... when it exists: no file is ever overwritten), or, for one
input, the path of the XML file itself (".xml" is added when it has no such
extension). Default: the folder of each INPUT. Without -o, a second
argument is the OUTPUT when it is an existing folder or ends in ".xml";
otherwise every argument is an input. A document appears under its name
only when it is complete: a run that fails or is cancelled leaves none.

Options (also as --option=value):
  -o, --output OUTPUT   the output folder, or the XML file for one input; "-"
                        writes the document of one input to standard output
  -r, --recursive       take the .mpp files inside folders given as INPUT
  -j, --jobs N          recover up to N files at once, each in a process of
                        its own (default 1)
      --force           replace an existing OUTPUT file (never a folder)
      --freeze-dates    write every task manually scheduled, its dates as the
                        file stores them (default: each task keeps its own
                        mode, and a scheduler that imports the document
                        reschedules the automatic ones)
      --log FILE        append the diagnostics log to FILE (none by default)
      --log-detail      also log every XML element written (a large log)
      --work-dir DIR    folder for intermediate files (default: $TMPDIR or /tmp)
      --keep-repaired FILE  keep the repaired compound file as FILE (one input;
                        FILE must not exist)
      --json            print the outcome as JSON on stdout: one object per
                        input, one line each
      --json-project FILE  write the outcome of one input as JSON to FILE, with
                        the recovered project read back from its document
                        ("project": header, tasks, resources, assignments,
                        links; null without a document); FILE must not exist
                        unless --force
      --progress-fd N   write "PERCENT STATUS" lines to file descriptor N as
                        the run goes (for programs that drive this one)
  -q, --quiet           print errors only
  -v, --verbose         also print the status of each pass
  -h, --help            show this text
      --version         show the versions of the tool and the library

What was recovered: after each file one line says "recovered whole",
"recovered with losses" or why nothing was; with losses, one line per kind
of data (tasks, resources, assignments, links, calendars, notes, custom
values) says how many of those the file held came back, and why the rest
did not.

A page in the browser: "mpprecover serve" starts a small web server on
127.0.0.1 (only) and prints the address to open, with a secret token that
every request must carry. Drop a damaged file on the page to see the plan
it recovers as an outline and a Gantt chart, what was lost, and download
the document. One recovery at a time per page; uploads larger than
--max-size MB (default 256) are refused; uploads and documents are kept
only in a private folder under the work folder and removed when done.
"mpprecover serve --help" says more.

Exit codes (with several inputs: 0 when every file was recovered whole,
else the code of the first failure, else 10 when any file lost data):
  0    recovered whole: the XML document holds everything the file held
  10   recovered with losses: the document was written, but data the file
       held could not be recovered (the summary and --json say what)
  1    failure: the input cannot be read, the output cannot be created
       (exists, no such folder, no permission), or the run failed (-2)
  2    usage error
  3    nothing recovered: empty input, unsalvageable container, unknown
       version, or neither tasks nor resources found (-3); no document
  4    the repaired container could not be opened (-1)
  5    the recovered data could not be written, as on a full disk (-5)
  6    the output path is too long (-31)
  130  cancelled with Ctrl-C (-1000); a second Ctrl-C stops at once
)";

enum ExitCode {
  kExitRecovered = 0,
  kExitFailure = 1,
  kExitUsage = 2,
  kExitNothing = 3,
  kExitContainer = 4,
  kExitWrite = 5,
  kExitPathTooLong = 6,
  kExitWithLosses = 10,
  kExitCancelled = 130,
};

struct Outcome {
  int exitCode;
  const char* meaning;
};

Outcome Describe(int32_t result) {
  switch (result) {
    case MDW_OK: return {kExitRecovered, "recovered"};
    case MDW_ERR_OPEN_REPAIRED: return {kExitContainer, "the repaired container could not be opened"};
    case MDW_ERR_GENERAL: return {kExitFailure, "failed"};
    case MDW_ERR_NOTHING: return {kExitNothing, "nothing recovered"};
    case MDW_ERR_WRITE: return {kExitWrite, "the recovered data could not be written"};
    case MDW_ERR_PATH_TOO_LONG: return {kExitPathTooLong, "the output path is too long"};
    case MDW_ERR_CANCELLED: return {kExitCancelled, "cancelled"};
    default: return {kExitFailure, "unexpected result"};
  }
}

// What to do about a failure, in a few words.
const char* Advice(int32_t result) {
  switch (result) {
    case MDW_ERR_NOTHING: return "the file holds no project data that could be read";
    case MDW_ERR_OPEN_REPAIRED: return "the file's container could not be rebuilt into a readable one";
    case MDW_ERR_WRITE: return "free some space (or choose another output folder) and run again";
    case MDW_ERR_PATH_TOO_LONG: return "choose a shorter output folder or name";
    default: return nullptr;
  }
}

// More processes than this only wait for the disk.
constexpr int kMaxJobs = 64;

struct Options {
  std::vector<std::string> inputs;
  std::string output, log, workDir, keepRepaired, jsonProject;
  int progressFd = -1;
  bool outputGiven = false;
  bool json = false, quiet = false, verbose = false, logDetail = false, force = false, recursive = false;
  bool freezeDates = false;
  bool toStdout = false;  // OUTPUT "-"
  int jobs = 1;
};

// The host's cancel byte; the signal handler sets it. A second signal
// removes the run's temporary files and ends the process at once.
volatile unsigned char g_cancel = 0;
volatile sig_atomic_t g_signals = 0;  // signals received

void OnInterrupt(int signal) {
  if (g_signals > 0) {
    DiscardPendingFiles();
    ::_exit(128 + signal);
  }
  g_signals = 1;
  g_cancel = 1;
  // SIGTERM and SIGHUP cancel the run too, so that it removes its files.
  if (signal != SIGINT) return;
  static const char kNote[] = "\nmpprecover: cancelling (press Ctrl-C again to stop at once)\n";
  ssize_t ignored = ::write(STDERR_FILENO, kNote, sizeof kNote - 1);
  (void)ignored;
}

// Status and progress on stderr: one redrawn line with a bar on a terminal,
// plain status lines otherwise (with -v).
struct Console {
  bool verbose = false;
  bool quiet = false;
  bool terminal = false;
  std::string status;
  int percent = 0;
  bool lineOpen = false;

  void Start() { percent = 0; }
  void Draw() {
    constexpr int kWidth = 30;
    int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r\033[K[%s%s] %3d%%  %s", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '-').c_str(), percent, status.c_str());
    std::fflush(stderr);
    lineOpen = true;
  }
  void Status(const std::string& text) {
    if (quiet) return;
    bool done = text == "done" || text == "App/Resources/DllStrings/mdw/Done";
    if (terminal) {
      if (!done) status = text;
      Draw();
    } else if (!verbose) {
      return;
    } else if (done) {
      if (lineOpen) std::fprintf(stderr, " done\n");
      lineOpen = false;
    } else {
      if (lineOpen) std::fputc('\n', stderr);
      std::fprintf(stderr, "%s", text.c_str());
      lineOpen = true;
    }
  }
  // The bar only moves forward.
  void Progress(int value) {
    if (quiet || !terminal || value < 0 || value > 100 || value <= percent) return;
    percent = value;
    Draw();
  }
  void Finish() {
    if (lineOpen) {
      if (terminal) std::fputs("\r\033[K", stderr);
      else std::fputc('\n', stderr);
    }
    lineOpen = false;
  }
};

Console g_console;

// "PERCENT STATUS" lines for a program that drives this one; the percent
// only moves forward.
int g_progressFd = -1;
int g_progressPercent = 0;
std::string g_progressStatus;

void WriteProgress() {
  if (g_progressFd < 0) return;
  std::string line = std::to_string(g_progressPercent) + " " + g_progressStatus;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  line += '\n';
  if (::write(g_progressFd, line.data(), line.size()) < 0) g_progressFd = -1;  // the reader went away
}

void OnStatus(const char16_t* text) {
  const std::string status = cli::ToUtf8(text);
  g_console.Status(status);
  if (status != "done" && status != "App/Resources/DllStrings/mdw/Done") g_progressStatus = status.substr(0, 200);
  WriteProgress();
}
void OnProgress(const char16_t*, int32_t percent) {
  g_console.Progress(percent);
  if (percent > g_progressPercent && percent <= 100) {
    g_progressPercent = percent;
    WriteProgress();
  }
}

// Paths travel as the system's bytes, whatever their encoding.
std::u16string Wide(const std::string& path) { return cli::PathFromBytes(path); }
std::string Narrow(const std::u16string& path) { return cli::PathToBytes(path); }

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EndsWith(const std::string& path, const char* ending) {
  const std::size_t n = std::strlen(ending);
  if (path.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != ending[i]) return false;
  return true;
}

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  std::string base = cwd;
  std::string_view rest = path;
  while (rest.substr(0, 2) == "./") rest.remove_prefix(2);
  return base + (base == "/" ? "" : "/") + std::string(rest);
}

// JSON wants UTF-8: a name that is not UTF-8 shows its odd bytes as U+FFFD.
std::string JsonString(const std::string& text) {
  const std::string utf8 = cli::SanitizeUtf8(text);
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

bool g_jsonUsage = false;

int Usage(const std::string& problem) {
  std::fprintf(stderr, "mpprecover: %s\nTry 'mpprecover --help'.\n", problem.c_str());
  if (g_jsonUsage)
    std::printf("{\"result\":null,\"exit\":%d,\"meaning\":\"usage error\",\"error\":%s}\n", kExitUsage,
                JsonString(problem).c_str());
  return kExitUsage;
}

// The .mpp files inside a folder, in name order, and in its subfolders.
void CollectFolder(const std::string& folder, std::vector<std::string>& into) {
  std::vector<std::string> names;
  if (auto* dir = ::opendir(folder.c_str())) {
    while (auto* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + (folder.back() == '/' ? "" : "/") + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) CollectFolder(path, into);
    else if (S_ISREG(st.st_mode) && EndsWith(name, ".mpp")) into.push_back(path);
  }
}

// Parses the command line; returns -1 to go on, or the exit code.
int ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]) == "--json") g_jsonUsage = true;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string inlineValue;
    bool hasInline = false;
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      if (auto eq = arg.find('='); eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
        hasInline = true;
      }
    }
    auto value = [&](std::string& into) {
      if (hasInline) {
        into = inlineValue;
        return true;
      }
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    auto flag = [&]() { return !hasInline; };
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitRecovered;
    } else if (arg == "--version") {
      std::printf("mpprecover %s (library interface version %d)\n", MDW_VERSION_TEXT, GetDllVersion());
      return kExitRecovered;
    } else if (arg == "--json" && flag()) {
      options.json = true;
    } else if ((arg == "-q" || arg == "--quiet") && flag()) {
      options.quiet = true;
    } else if ((arg == "-v" || arg == "--verbose") && flag()) {
      options.verbose = true;
    } else if (arg == "--force" && flag()) {
      options.force = true;
    } else if ((arg == "-r" || arg == "--recursive") && flag()) {
      options.recursive = true;
    } else if (arg == "--log-detail" && flag()) {
      options.logDetail = true;
    } else if (arg == "--freeze-dates" && flag()) {
      options.freezeDates = true;
    } else if (arg == "-o" || arg == "--output") {
      if (!value(options.output) || options.output.empty()) return Usage(arg + " needs a folder or file");
      options.outputGiven = true;
    } else if (arg == "-j" || arg == "--jobs") {
      std::string jobs;
      if (!value(jobs)) return Usage(arg + " needs a number");
      char* end = nullptr;
      const long n = std::strtol(jobs.c_str(), &end, 10);
      if (jobs.empty() || *end != '\0' || n < 1 || n > kMaxJobs)
        return Usage(arg + " takes a number from 1 to " + std::to_string(kMaxJobs));
      options.jobs = static_cast<int>(n);
    } else if (arg == "--log") {
      if (!value(options.log) || options.log.empty()) return Usage("--log needs a file");
    } else if (arg == "--work-dir") {
      if (!value(options.workDir) || options.workDir.empty()) return Usage("--work-dir needs a folder");
    } else if (arg == "--keep-repaired") {
      if (!value(options.keepRepaired) || options.keepRepaired.empty()) return Usage("--keep-repaired needs a file");
    } else if (arg == "--json-project") {
      if (!value(options.jsonProject) || options.jsonProject.empty()) return Usage("--json-project needs a file");
    } else if (arg == "--progress-fd") {
      std::string fd;
      if (!value(fd) || fd.empty() || fd.size() > 6 || fd.find_first_not_of("0123456789") != std::string::npos)
        return Usage("--progress-fd needs a file descriptor number");
      options.progressFd = std::atoi(fd.c_str());
      if (::fcntl(options.progressFd, F_GETFD) < 0 || options.progressFd <= STDERR_FILENO)
        return Usage("--progress-fd " + fd + " is not an open file descriptor");
    } else if (arg == "--") {
      for (++i; i < argc; ++i) positional.emplace_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(hasInline ? arg + " takes no value" : "unknown option " + arg);
    } else {
      positional.emplace_back(arg);
    }
  }
  if (positional.empty()) return Usage("no input file given");
  // The older form: INPUT OUTPUT.
  if (!options.outputGiven && positional.size() == 2 &&
      (IsFolder(positional[1]) || EndsWith(positional[1], ".xml") || positional[1].back() == '/')) {
    options.output = positional[1];
    options.outputGiven = true;
    positional.pop_back();
  }
  for (const std::string& input : positional) {
    if (options.recursive && IsFolder(input)) {
      const std::size_t before = options.inputs.size();
      CollectFolder(input, options.inputs);
      if (options.inputs.size() == before) return Usage("no .mpp file in " + input);
    } else {
      options.inputs.push_back(input);
    }
  }
  if (options.outputGiven && options.output == "-") {
    if (options.inputs.size() != 1) return Usage("standard output takes the document of one input");
    if (options.json) return Usage("--json and a document on standard output would mix");
    options.toStdout = true;
  } else if (options.outputGiven) {
    if (!IsFolder(options.output)) {
      if (options.output.back() == '/') return Usage("no such folder: " + options.output);
      if (options.inputs.size() > 1) return Usage("with several inputs, OUTPUT must be an existing folder");
      if (!EndsWith(options.output, ".xml")) options.output += ".xml";
    }
  }
  if (!options.workDir.empty() && !IsFolder(options.workDir)) return Usage("no such folder: " + options.workDir);
  if (!options.keepRepaired.empty()) {
    if (options.inputs.size() > 1) return Usage("--keep-repaired takes one input");
    if (::access(options.keepRepaired.c_str(), F_OK) == 0) return Usage("will not overwrite " + options.keepRepaired);
  }
  if (!options.jsonProject.empty()) {
    if (options.inputs.size() > 1) return Usage("--json-project takes one input");
    if (!options.force && ::access(options.jsonProject.c_str(), F_OK) == 0)
      return Usage("will not overwrite " + options.jsonProject + " (use --force)");
  }
  return -1;
}

struct ReportRow {
  std::string name, value, status, note;
};

// The rows of the report from row `from` on (rows accumulate over the
// runs of a process) and the level.
int ReadReport(std::size_t from, std::vector<ReportRow>& rows, std::size_t& total) {
  char16_t **c0 = nullptr, **c1 = nullptr, **c2 = nullptr, **c3 = nullptr;
  RecoveryReport(&c0, &c1, &c2, &c3);
  int level = 1;
  total = 0;
  if (!c0 || !c2) return level;
  if (c2[0] && c2[0][0]) level = c2[0][0] - u'0';
  auto text = [](char16_t* t) { return cli::ToUtf8(t); };
  for (std::size_t row = 1; c0[row]; ++row) {
    ++total;
    if (total > from) rows.push_back({text(c0[row]), text(c1[row]), text(c2[row]), text(c3[row])});
  }
  return level;
}

struct FileResult {
  std::string input;
  int32_t result = MDW_ERR_GENERAL;
  int exitCode = kExitFailure;
  std::string output;  // the document written, if any
  std::string error;
  int level = 1;
  bool losses = false;
  std::vector<ReportRow> rows;
  long long elapsedMs = 0;
};

// The output to hand the library for one input. For standard output the
// document goes to the work folder first, under a name of this process.
std::string OutputFor(const Options& options, const std::string& input) {
  if (options.toStdout) return options.workDir + "/mdw-stdout-" + std::to_string(::getpid()) + ".xml";
  if (options.outputGiven) return options.output;
  return FolderOf(input);
}

// Copies the finished document to standard output and removes it; false
// when a read or write failed.
bool SendToStdout(const std::string& path) {
  const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = in >= 0;
  char buffer[1 << 16];
  while (ok) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < got;) {
      const ssize_t put = ::write(STDOUT_FILENO, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      ok = put > 0;
      done += put > 0 ? put : 0;
    }
  }
  if (in >= 0) ::close(in);
  ::unlink(path.c_str());
  return ok;
}

FileResult RecoverOne(const Options& options, const std::string& input, std::size_t& reportRows) {
  FileResult file;
  file.input = input;
  g_console.Start();
  auto started = std::chrono::steady_clock::now();
  int32_t result = FileRecover(Wide(input).c_str(), Wide(OutputFor(options, input)).c_str());
  // The library clears the byte when a run starts: a Ctrl-C that came
  // before that still cancels.
  if (g_cancel && result != MDW_ERR_CANCELLED && result != MDW_OK) result = MDW_ERR_CANCELLED;
  file.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - started).count();
  g_console.Finish();

  char16_t buffer[PATH_MAX + 1];
  if (result == MDW_OK && GetLastOutputPath(buffer, PATH_MAX + 1) > 0) file.output = Narrow(buffer);
  if (options.toStdout && !file.output.empty()) {
    if (!SendToStdout(file.output)) {
      result = MDW_ERR_WRITE;
      file.error = std::string("write standard output: ") + std::strerror(errno);
    }
    file.output = "-";
  }
  file.result = result;
  if (file.error.empty() && GetLastErrorText(buffer, PATH_MAX + 1) > 0) file.error = Narrow(buffer);
  std::size_t total = 0;
  file.level = ReadReport(reportRows, file.rows, total);
  reportRows = total;
  for (const ReportRow& row : file.rows) file.losses = file.losses || row.status == "lost";
  file.exitCode = Describe(result).exitCode;
  if (result == MDW_OK && file.losses) file.exitCode = kExitWithLosses;
  return file;
}

// "Tasks recovered" -> "tasks".
std::string KindOf(const ReportRow& row) {
  std::string kind = row.name.substr(0, row.name.size() - std::strlen(" recovered"));
  for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return kind;
}

bool IsLossRow(const ReportRow& row) { return !row.status.empty() && EndsWith(row.name, " recovered"); }

void PrintSummary(const Options& options, const FileResult& file) {
  if (file.result != MDW_OK) {
    // Errors are printed even under -q.
    std::string line = "mpprecover: " + file.input + ": " + Describe(file.result).meaning;
    if (!file.error.empty()) line = "mpprecover: " + file.error;
    if (file.result == MDW_ERR_NOTHING && !file.error.empty()) line += " (nothing recovered)";
    std::fprintf(stderr, "%s\n", line.c_str());
    if (const char* advice = Advice(file.result)) std::fprintf(stderr, "  %s\n", advice);
    if (file.result != MDW_ERR_CANCELLED && file.result != MDW_ERR_GENERAL)
      std::fprintf(stderr, "  no document was written\n");
    return;
  }
  if (options.quiet && !file.losses) return;
  std::fprintf(stderr, "%s: %s -> %s\n", file.input.c_str(),
               file.losses ? "recovered with losses" : "recovered whole", file.output.c_str());
  // Findings about the file itself (a cut file), before the kinds of data.
  for (const ReportRow& row : file.rows) {
    if (IsLossRow(row) || row.status != "lost") continue;
    std::string name = row.name;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::fprintf(stderr, "  %-14s %s%s%s\n", (name + ":").c_str(), row.value.c_str(), row.note != " " ? " - " : "",
                 row.note != " " ? row.note.c_str() : "");
  }
  for (const ReportRow& row : file.rows) {
    if (!IsLossRow(row)) continue;
    const bool lost = row.status == "lost";
    if (!lost && !options.verbose) {
      continue;
    }
    std::string value = row.value;
    if (value.rfind("0", 0) == 0 && (value.size() == 1 || value[1] == ' ')) value.replace(0, 1, "none");
    value += " recovered";
    std::fprintf(stderr, "  %-14s %s%s%s\n", (KindOf(row) + ":").c_str(), value.c_str(),
                 lost && row.note != " " ? " - " : "", lost && row.note != " " ? row.note.c_str() : "");
  }
  if (!file.losses && !options.quiet) {
    std::string counts;
    for (const ReportRow& row : file.rows) {
      if (!IsLossRow(row) || row.value.rfind("0", 0) == 0) continue;
      std::string n = row.value.substr(0, row.value.find(' '));
      counts += (counts.empty() ? "" : ", ") + n + " " + KindOf(row);
    }
    if (!counts.empty() && !options.verbose) std::fprintf(stderr, "  %s\n", counts.c_str());
  }
}

std::string Json(const FileResult& file, const std::string& kept) {
  std::string json = "{\"input\":" + JsonString(Absolute(file.input)) + ",\"result\":" + std::to_string(file.result) +
                     ",\"exit\":" + std::to_string(file.exitCode) +
                     ",\"meaning\":" + JsonString(file.result == MDW_OK
                                                      ? (file.losses ? "recovered with losses" : "recovered whole")
                                                      : Describe(file.result).meaning) +
                     ",\"error\":" + (file.error.empty() ? "null" : JsonString(file.error)) +
                     ",\"output\":" + (file.output.empty() ? "null" : JsonString(Absolute(file.output))) +
                     ",\"repaired\":" + (kept.empty() ? "null" : JsonString(Absolute(kept))) +
                     ",\"report\":{\"level\":" + std::to_string(file.level) + ",\"rows\":[";
  bool first = true;
  for (const ReportRow& row : file.rows) {
    if (IsLossRow(row)) continue;
    json += (first ? "" : ",") + std::string("{\"name\":") + JsonString(row.name) + ",\"value\":" +
            JsonString(row.value);
    if (!row.status.empty()) json += ",\"status\":" + JsonString(row.status);
    if (!row.note.empty() && row.note != " ") json += ",\"note\":" + JsonString(row.note);
    json += "}";
    first = false;
  }
  json += "]},\"losses\":[";
  first = true;
  for (const ReportRow& row : file.rows) {
    if (!IsLossRow(row)) continue;
    const auto of = row.value.find(" of ");
    const std::string recovered = row.value.substr(0, of);
    const std::string held = of == std::string::npos ? "null" : row.value.substr(of + 4);
    json += (first ? "" : ",") + std::string("{\"kind\":") + JsonString(KindOf(row)) + ",\"held\":" + held +
            ",\"recovered\":" + recovered + ",\"lost\":" + (row.status == "lost" ? "true" : "false") +
            ",\"reason\":" + (row.note == " " ? "null" : JsonString(row.note)) + "}";
    first = false;
  }
  json += "],\"elapsed_ms\":" + std::to_string(file.elapsedMs) + "}";
  return json;
}

// Writes --json-project FILE: the outcome with the project read back from
// the document, under a temporary name first so that FILE is whole.
bool WriteJsonProject(const Options& options, const FileResult& file, const std::string& kept) {
  std::string project = "null", error;
  if (!file.output.empty() && !serve::ProjectJsonFromFile(file.output, project, error)) {
    std::fprintf(stderr, "mpprecover: %s: %s\n", file.output.c_str(), error.c_str());
    project = "null";
  }
  std::string json = Json(file, kept);
  json.pop_back();
  json += ",\"project\":" + project + "}\n";
  const std::string temporary = options.jsonProject + ".part" + std::to_string(::getpid());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  for (std::size_t done = 0; ok && done < json.size();) {
    const ssize_t n = ::write(fd, json.data() + done, json.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  if (ok && options.force) ok = ::rename(temporary.c_str(), options.jsonProject.c_str()) == 0;
  else if (ok) ok = ::link(temporary.c_str(), options.jsonProject.c_str()) == 0;  // never over a file
  const int saved = errno;
  if (fd >= 0) ::unlink(temporary.c_str());
  if (!ok) std::fprintf(stderr, "mpprecover: %s: %s\n", options.jsonProject.c_str(), std::strerror(saved));
  return ok;
}

// A log the library could not open would be ignored: refuse it here, with
// the reason. A symbolic link in its place is not followed.
bool CheckLog(const std::string& log) {
  int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "mpprecover: log %s: %s\n", log.c_str(), std::strerror(errno));
    return false;
  }
  ::close(fd);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "serve") {
#ifdef MDW_SERVE
    return serve::Main(argc - 1, argv + 1);
#else
    std::fprintf(stderr, "mpprecover: this build has no web server (it was built without cpp-httplib)\n");
    return kExitUsage;
#endif
  }
  Options options;
  if (int code = ParseArguments(argc, argv, options); code >= 0) return code;

  g_console.quiet = options.quiet;
  g_console.verbose = options.verbose;
  g_console.terminal = !options.quiet && ::isatty(STDERR_FILENO);
  g_progressFd = options.progressFd;
  if (g_progressFd >= 0) ::signal(SIGPIPE, SIG_IGN);  // a reader that goes away ends the lines, not the run

  if (!options.log.empty() && !CheckLog(options.log)) {
    if (options.json)
      std::printf("{\"result\":null,\"exit\":%d,\"meaning\":\"failed\",\"error\":%s}\n", kExitFailure,
                  JsonString("log " + options.log + ": " + std::strerror(errno)).c_str());
    return kExitFailure;
  }

  std::string workDir = options.workDir;
  if (workDir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    workDir = tmp && *tmp ? tmp : "/tmp";
  }
  while (workDir.size() > 1 && workDir.back() == '/') workDir.pop_back();
  options.workDir = workDir;

  DllInitialize(Wide(workDir).c_str(), &OnStatus, &OnProgress);
  SetLogPath(Wide(options.log).c_str());
  SetOutputFormat(u"*.xml");
  SetKeepRepairedPath(Wide(options.keepRepaired).c_str());
  SetXmlDetailLog(options.logDetail ? 1 : 0);
  SetFreezeDates(options.freezeDates ? 1 : 0);
  SetReplaceOutput(options.force ? 1 : 0);
  SetBreakFlag(const_cast<unsigned char*>(&g_cancel));

  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);

  // Each file's outcome in turn: the summary (and JSON) printed, then its
  // exit code folded into the overall one.
  int overall = kExitRecovered;
  bool failed = false, stop = false;
  auto fold = [&](int exitCode) {
    if (exitCode == kExitCancelled) {
      overall = kExitCancelled;
      stop = true;
    } else if (exitCode != kExitRecovered && exitCode != kExitWithLosses) {
      if (!failed) overall = exitCode;
      failed = true;
    } else if (exitCode == kExitWithLosses && !failed) {
      overall = kExitWithLosses;
    }
  };
  std::size_t reportRows = 0;
  auto recoverAndPrint = [&](const std::string& input) -> int {
    FileResult file = RecoverOne(options, input, reportRows);
    std::string kept;
    if (!options.keepRepaired.empty() && ::access(options.keepRepaired.c_str(), F_OK) == 0) kept = options.keepRepaired;
    PrintSummary(options, file);
    if (options.json) {
      std::printf("%s\n", Json(file, kept).c_str());
      std::fflush(stdout);
    }
    const bool projectWritten = options.jsonProject.empty() || WriteJsonProject(options, file, kept);
    if (!options.keepRepaired.empty() && kept.empty() && !options.quiet)
      std::fprintf(stderr, "mpprecover: no repaired file was kept (the container was not rebuilt)\n");
    if (!projectWritten && (file.exitCode == kExitRecovered || file.exitCode == kExitWithLosses)) return kExitFailure;
    return file.exitCode;
  };

  if (options.jobs <= 1 || options.inputs.size() <= 1) {
    for (const std::string& input : options.inputs) {
      if (g_cancel || stop) break;
      fold(recoverAndPrint(input));
    }
    return overall;
  }

  // Several at once: a process per file (the library keeps one run's state
  // per process), at most jobs of them; a cancel reaches every one.
  g_console.terminal = false;
  std::vector<pid_t> running;
  std::size_t next = 0;
  bool forwarded = false;
  while (next < options.inputs.size() || !running.empty()) {
    if (g_cancel && !forwarded) {
      for (pid_t child : running) ::kill(child, SIGTERM);
      forwarded = true;
    }
    if (!g_cancel && !stop && next < options.inputs.size() && running.size() < static_cast<std::size_t>(options.jobs)) {
      std::fflush(stdout);
      std::fflush(stderr);
      const pid_t child = ::fork();
      if (child == 0) {
        const int code = recoverAndPrint(options.inputs[next]);
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(code);
      }
      if (child < 0) {
        std::fprintf(stderr, "mpprecover: fork: %s\n", std::strerror(errno));
        fold(kExitFailure);
        stop = true;
        continue;
      }
      running.push_back(child);
      ++next;
      continue;
    }
    if (running.empty()) break;
    int status = 0;
    const pid_t done = ::waitpid(-1, &status, 0);
    if (done < 0) {
      if (errno == EINTR) continue;
      break;
    }
    running.erase(std::remove(running.begin(), running.end(), done), running.end());
    fold(WIFEXITED(status) ? WEXITSTATUS(status) : kExitCancelled);
  }
  if (g_cancel) overall = kExitCancelled;
  return overall;
}
