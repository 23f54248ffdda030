// mpprecover: the command-line host of libmdwdll. It drives the library only
// through its exported C interface, as any other host would.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "mdwdll.h"
#include "platform/Text.h"

namespace {

constexpr const char* kUsage = R"(Usage: mpprecover [options] INPUT [OUTPUT]

Recovers a damaged project file (.mpp, versions 9, 12 and 14) into a
Project XML document.

OUTPUT is an existing folder, in which the file name is composed from
INPUT's name with the extension .xml (plan.xml; plan(2).xml, plan(3).xml...
when it exists: no file is ever overwritten), or the path of the XML file
itself (".xml" is added when it has no such extension). Default: the
folder of INPUT.

Options:
  --log FILE            append the diagnostics log to FILE (none by default)
  --log-detail          also log every XML element written (a large log)
  --work-dir DIR        folder for intermediate files (default: $TMPDIR or /tmp)
  --keep-repaired FILE  keep the repaired compound file as FILE (must not exist)
  --json                print the outcome as one JSON object on stdout
  -q, --quiet           no status or progress on stderr
  -h, --help            show this text
  --version             show the versions of the tool and the library

Exit codes:
  0    recovered: the XML document was written
  1    failure: the input cannot be read, the output cannot be created,
       or the run failed unexpectedly (library code -2)
  2    usage error
  3    nothing recovered: empty input, unsalvageable container, unknown
       version, or neither tasks nor resources found (-3)
  4    the repaired container could not be opened (-1)
  5    the recovered data could not be written (-5)
  6    the output path is too long (-31)
  130  cancelled with Ctrl-C (-1000)
)";

enum ExitCode {
  kExitRecovered = 0,
  kExitFailure = 1,
  kExitUsage = 2,
  kExitNothing = 3,
  kExitContainer = 4,
  kExitWrite = 5,
  kExitPathTooLong = 6,
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
    case MDW_ERR_GENERAL: return {kExitFailure, "failure: unreadable input, output not created or run failed"};
    case MDW_ERR_NOTHING: return {kExitNothing, "nothing recovered"};
    case MDW_ERR_WRITE: return {kExitWrite, "the recovered data could not be written"};
    case MDW_ERR_PATH_TOO_LONG: return {kExitPathTooLong, "the output path is too long"};
    case MDW_ERR_CANCELLED: return {kExitCancelled, "cancelled"};
    default: return {kExitFailure, "unexpected result"};
  }
}

struct Options {
  std::string input, output, log, workDir, keepRepaired;
  bool json = false, quiet = false, logDetail = false;
};

// The host's cancel byte; the signal handler sets it.
unsigned char g_cancel = 0;

void OnInterrupt(int signal) {
  g_cancel = 1;
  // SIGTERM and SIGHUP cancel the run too, so that it removes its files.
  if (signal != SIGINT) return;
  static const char kNote[] = "\nmpprecover: cancelling (press Ctrl-C again to stop at once)\n";
  ssize_t ignored = ::write(STDERR_FILENO, kNote, sizeof kNote - 1);
  (void)ignored;
  ::signal(SIGINT, SIG_DFL);
}

// Status and progress on stderr: one redrawn line with a bar on a terminal,
// plain status lines otherwise.
struct Console {
  bool quiet = false;
  bool terminal = false;
  std::string status;
  int percent = 0;
  bool lineOpen = false;

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
    } else if (done) {
      if (lineOpen) std::fprintf(stderr, " done\n");
      lineOpen = false;
    } else {
      if (lineOpen) std::fputc('\n', stderr);
      std::fprintf(stderr, "%s", text.c_str());
      lineOpen = true;
    }
  }
  void Progress(int value) {
    if (quiet || !terminal || value < 0 || value > 100) return;
    percent = value;
    Draw();
  }
  void Finish() {
    if (!quiet && lineOpen) std::fputc('\n', stderr);
    lineOpen = false;
  }
};

Console g_console;

void OnStatus(const char16_t* text) { g_console.Status(platform::Utf16ToUtf8(platform::FromWide(text))); }
void OnProgress(const char16_t*, int32_t percent) { g_console.Progress(percent); }

std::u16string Wide(const std::string& text) { return platform::Utf8ToUtf16(text); }

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EndsWithXml(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".xml";
}

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
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

int Usage(const char* problem) {
  std::fprintf(stderr, "mpprecover: %s\nTry 'mpprecover --help'.\n", problem);
  return kExitUsage;
}

// Parses the command line; returns -1 to go on, or the exit code.
int ParseArguments(int argc, char** argv, Options& options) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitRecovered;
    } else if (arg == "--version") {
      std::printf("mpprecover %s (library interface version %d)\n", MDW_VERSION_TEXT, GetDllVersion());
      return kExitRecovered;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--log") {
      if (!value(options.log)) return Usage("--log needs a file");
    } else if (arg == "--log-detail") {
      options.logDetail = true;
    } else if (arg == "--work-dir") {
      if (!value(options.workDir)) return Usage("--work-dir needs a folder");
    } else if (arg == "--keep-repaired") {
      if (!value(options.keepRepaired)) return Usage("--keep-repaired needs a file");
    } else if (arg == "--") {
      for (++i; i < argc; ++i) positional.emplace_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + std::string(arg)).c_str());
    } else {
      positional.emplace_back(arg);
    }
  }
  if (positional.empty()) return Usage("no input file given");
  if (positional.size() > 2) return Usage("too many arguments");
  options.input = positional[0];
  options.output = positional.size() == 2 ? positional[1] : FolderOf(options.input);
  if (!IsFolder(options.output)) {
    if (!options.output.empty() && options.output.back() == '/')
      return Usage(("no such folder: " + options.output).c_str());
    if (!EndsWithXml(options.output)) options.output += ".xml";
  }
  if (!options.workDir.empty() && !IsFolder(options.workDir))
    return Usage(("no such folder: " + options.workDir).c_str());
  if (!options.keepRepaired.empty() && ::access(options.keepRepaired.c_str(), F_OK) == 0)
    return Usage(("will not overwrite " + options.keepRepaired).c_str());
  return -1;
}

struct ReportRow {
  std::string name, value;
};

int ReadReport(std::vector<ReportRow>& rows) {
  char16_t **c0 = nullptr, **c1 = nullptr, **c2 = nullptr, **c3 = nullptr;
  RecoveryReport(&c0, &c1, &c2, &c3);
  int level = 1;
  if (!c0 || !c2) return level;
  if (c2[0] && c2[0][0]) level = c2[0][0] - u'0';
  for (int row = 1; c0[row]; ++row)
    rows.push_back({platform::Utf16ToUtf8(platform::FromWide(c0[row])),
                    platform::Utf16ToUtf8(platform::FromWide(c1[row]))});
  return level;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int code = ParseArguments(argc, argv, options); code >= 0) return code;

  g_console.quiet = options.quiet;
  g_console.terminal = ::isatty(STDERR_FILENO);

  std::string workDir = options.workDir;
  if (workDir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    workDir = tmp && *tmp ? tmp : "/tmp";
  }
  while (workDir.size() > 1 && workDir.back() == '/') workDir.pop_back();

  DllInitialize(Wide(workDir).c_str(), &OnStatus, &OnProgress);
  SetLogPath(Wide(options.log).c_str());
  SetOutputFormat(u"*.xml");
  SetKeepRepairedPath(Wide(options.keepRepaired).c_str());
  SetXmlDetailLog(options.logDetail ? 1 : 0);
  SetBreakFlag(&g_cancel);

  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);

  // A file OUTPUT that is already there is never overwritten by the library;
  // remember it so that it is not reported as this run's output.
  const bool outputExisted = !IsFolder(options.output) && ::access(options.output.c_str(), F_OK) == 0;
  auto started = std::chrono::steady_clock::now();
  int32_t result = FileRecover(Wide(options.input).c_str(), Wide(options.output).c_str());
  // The library clears the byte when a run starts: a Ctrl-C that came
  // before that still cancels.
  if (g_cancel && result != MDW_ERR_CANCELLED) result = MDW_ERR_CANCELLED;
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - started).count();
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGHUP, SIG_DFL);
  g_console.Finish();

  Outcome outcome = Describe(result);
  char16_t pathBuffer[4096];
  std::string output;
  if (GetLastOutputPath(pathBuffer, 4096) > 0) output = platform::Utf16ToUtf8(pathBuffer);
  // The XML document written by this run: on success, and also when nothing
  // was recovered but the generator still wrote its (empty) document.
  const bool wrote = !output.empty() && ::access(output.c_str(), F_OK) == 0 &&
                     !(outputExisted && output == options.output);
  std::vector<ReportRow> rows;
  int level = ReadReport(rows);
  bool kept = !options.keepRepaired.empty() && ::access(options.keepRepaired.c_str(), F_OK) == 0;

  if (options.json) {
    std::string json = "{\"result\":" + std::to_string(result) +
                       ",\"meaning\":" + JsonString(outcome.meaning) +
                       ",\"output\":" + (wrote ? JsonString(output) : "null") +
                       ",\"repaired\":" + (kept ? JsonString(options.keepRepaired) : "null") +
                       ",\"report\":{\"level\":" + std::to_string(level) + ",\"rows\":[";
    for (std::size_t i = 0; i < rows.size(); ++i)
      json += (i ? "," : "") + std::string("{\"name\":") + JsonString(rows[i].name) +
              ",\"value\":" + JsonString(rows[i].value) + "}";
    json += "]},\"elapsed_ms\":" + std::to_string(elapsed) + "}";
    std::printf("%s\n", json.c_str());
  }
  if (!options.quiet) {
    if (result == MDW_OK)
      std::fprintf(stderr, "mpprecover: recovered into %s\n", output.c_str());
    else
      std::fprintf(stderr, "mpprecover: %s (code %d)%s%s\n", outcome.meaning, result,
                   wrote ? "; document written to " : "", wrote ? output.c_str() : "");
    for (const ReportRow& row : rows) std::fprintf(stderr, "  %-12s %s\n", row.name.c_str(), row.value.c_str());
    if (!rows.empty()) std::fprintf(stderr, "  recovery level %d of 3\n", level);
    if (!options.keepRepaired.empty() && !kept)
      std::fprintf(stderr, "mpprecover: no repaired file was kept (the container was not rebuilt)\n");
  }
  return outcome.exitCode;
}
