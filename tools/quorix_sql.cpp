// quorix-sql: parses SQL with libquorix_sql_parser and prints the document as JSON or
// MessagePack, or only checks it.
//
// The command is deliberately an ordinary host: it sees only the exported C interface, so
// anything it can do, an embedding application can do the same way.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostic.h"
#include "msgpack_json.h"
#include "quorix_sql_parser.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRejected = 1;  // the library (or the text itself) said no
constexpr int kExitTrouble = 2;   // bad options, unreadable input, failed output

// Bad command lines; unlike other failures of the command they earn a pointer to --help.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Mode { kParse, kHelp, kVersion };

// kAuto is pretty JSON for a person at a terminal and compact JSON for a pipe.
enum class Output { kAuto, kPretty, kCompact, kMsgpack, kCheck };

struct Options {
  Mode mode = Mode::kParse;
  Output output = Output::kAuto;
  std::vector<std::string> files;
  std::vector<std::string> words;  // SQL given directly as arguments
};

// One row per option. The parser and --help both read this table, so a new option or mode is
// one new row plus, for a mode, one new case in main.
struct OptionRow {
  const char* shortName;  // null when there is only the long name
  const char* longName;
  const char* valueName;  // null for a flag
  const char* help;
  void (*apply)(Options&, const std::string& value);
};

// "--pretty --msgpack" has no sensible reading, so a second, different output choice is an
// error rather than silently winning.
void chooseOutput(Options& options, Output output) {
  if (options.output != Output::kAuto && options.output != output) {
    throw UsageError("choose one of --pretty, --compact, --msgpack and --check");
  }
  options.output = output;
}

constexpr OptionRow kOptions[] = {
    {"-f", "--file", "FILE", "read SQL from FILE (repeatable; - is standard input)",
     [](Options& o, const std::string& v) { o.files.push_back(v); }},
    {"-c", "--compact", nullptr, "print the JSON on one line (default unless on a terminal)",
     [](Options& o, const std::string&) { chooseOutput(o, Output::kCompact); }},
    {"-p", "--pretty", nullptr, "print the JSON indented (default on a terminal)",
     [](Options& o, const std::string&) { chooseOutput(o, Output::kPretty); }},
    {nullptr, "--msgpack", nullptr, "write the MessagePack document itself",
     [](Options& o, const std::string&) { chooseOutput(o, Output::kMsgpack); }},
    {nullptr, "--check", nullptr, "only check the SQL: no output unless it is rejected",
     [](Options& o, const std::string&) { chooseOutput(o, Output::kCheck); }},
    {"-h", "--help", nullptr, "show this help and exit",
     [](Options& o, const std::string&) { o.mode = Mode::kHelp; }},
    {"-V", "--version", nullptr, "print the library version and exit",
     [](Options& o, const std::string&) { o.mode = Mode::kVersion; }},
};

const OptionRow* findOption(std::string_view name) {
  for (const OptionRow& row : kOptions) {
    if ((row.shortName != nullptr && name == row.shortName) || name == row.longName) return &row;
  }
  return nullptr;
}

Options parseArguments(int argc, char** argv) {
  Options options;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    // A lone "-" and anything after "--" is SQL, so text such as "-- note" can still be passed.
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      options.words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::optional<std::string> value;  // from --name=value
    if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    const OptionRow* row = findOption(arg);
    if (row == nullptr) throw UsageError("unknown option " + arg);
    if (row->valueName == nullptr && value) throw UsageError(arg + " takes no value");
    if (row->valueName != nullptr && !value) {
      if (++i == argc) throw UsageError(arg + " needs a " + row->valueName);
      value = argv[i];
    }
    row->apply(options, value.value_or(""));
  }
  if (!options.words.empty() && !options.files.empty()) {
    throw UsageError("give the SQL as arguments or with -f, not both");
  }
  return options;
}

void printHelp() {
  std::printf(
      "Usage: quorix-sql [OPTIONS] [SQL...]\n"
      "Parses SQL and prints its document. The SQL is the arguments joined with spaces, or\n"
      "each file given with -f on its own, or standard input. Errors are reported as\n"
      "FILE:LINE:COL: error: MESSAGE, FILE being the file, <args> or <stdin>.\n\nOptions:\n");
  for (const OptionRow& row : kOptions) {
    const std::string name = std::string(row.longName) + (row.valueName != nullptr ? " " : "") +
                             (row.valueName != nullptr ? row.valueName : "");
    std::printf("  %-4s%-14s %s\n",
                row.shortName != nullptr ? (std::string(row.shortName) + ",").c_str() : "",
                name.c_str(), row.help);
  }
  std::printf(
      "\nColour is used when standard error is a terminal and NO_COLOR is not set.\n"
      "Exit status: 0 parsed, 1 some SQL was rejected, 2 usage or I/O error.\n");
}

std::string readAll(const std::string& path) {
  const bool isStdin = path == "-";
  std::FILE* in = isStdin ? stdin : std::fopen(path.c_str(), "rb");
  if (in == nullptr) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  std::string text;
  char chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, n);
  const bool failed = std::ferror(in) != 0;
  if (!isStdin) std::fclose(in);
  if (failed) throw std::runtime_error("cannot read " + (isStdin ? "standard input" : path));
  return text;
}

// One text to parse and the name its errors are reported under.
struct Source {
  std::string name;
  std::string path;  // empty for SQL given as arguments
};

// Files are parsed one by one, so each error is placed within its own file.
std::vector<Source> listSources(const Options& options) {
  if (!options.words.empty()) return {{"<args>", ""}};
  if (options.files.empty()) return {{"<stdin>", "-"}};
  std::vector<Source> sources;
  for (const std::string& path : options.files) {
    sources.push_back({path == "-" ? "<stdin>" : path, path});
  }
  return sources;
}

std::string joinWords(const std::vector<std::string>& words) {
  std::string text = words.front();
  for (size_t i = 1; i < words.size(); ++i) text += ' ' + words[i];
  return text;
}

// Every block of a ParseResult goes back to the library, also when rendering throws.
struct LibraryFree {
  void operator()(void* block) const { quorix_free_buffer(block); }
};

void writeOut(std::FILE* stream, const char* bytes, size_t size) {
  if (std::fwrite(bytes, 1, size, stream) != size || std::fflush(stream) != 0) {
    throw std::runtime_error("cannot write the output");
  }
}

bool colourWanted() {
  const char* noColour = std::getenv("NO_COLOR");
  return isatty(STDERR_FILENO) != 0 && (noColour == nullptr || *noColour == '\0');
}

void reportError(const Source& source, std::string_view sql, std::string_view message) {
  const std::string text =
      quorix::tools::formatDiagnostic(source.name, sql, message, {.colour = colourWanted()});
  writeOut(stderr, text.data(), text.size());
}

int parseOne(const Source& source, const std::string& sql, Output output) {
  // The library reads C-string text even when given a length, so an embedded NUL would come
  // back as an internal fault; say what is really wrong instead.
  const char* unfit = sql.find('\0') != std::string::npos ? "the SQL text contains a NUL byte"
                      : sql.size() > INT32_MAX            ? "the SQL text is larger than 2 GiB"
                                                          : nullptr;
  if (unfit != nullptr) {
    reportError(source, sql, unfit);
    return kExitRejected;
  }
  const ParseResult result = quorix_parse_sql(sql.c_str(), static_cast<int32_t>(sql.size()));
  const std::unique_ptr<uint8_t, LibraryFree> data(result.data);
  const std::unique_ptr<char, LibraryFree> error(result.error);
  if (result.status != 0) {
    reportError(source, sql, {result.error, static_cast<size_t>(result.error_len)});
    return kExitRejected;
  }
  const size_t size = static_cast<size_t>(result.data_len);
  if (output == Output::kMsgpack) {
    writeOut(stdout, reinterpret_cast<const char*>(result.data), size);
  } else if (output != Output::kCheck) {
    const quorix::tools::JsonStyle style{.pretty = output == Output::kPretty};
    const std::string json = quorix::tools::msgpackToJson(result.data, size, style) + '\n';
    writeOut(stdout, json.data(), json.size());
  }
  return kExitOk;
}

// Every source gets its own report; the exit status is that of the worst outcome.
int runParse(const Options& options) {
  Output output = options.output;
  if (output == Output::kAuto) {
    output = isatty(STDOUT_FILENO) != 0 ? Output::kPretty : Output::kCompact;
  }
  int status = kExitOk;
  for (const Source& source : listSources(options)) {
    std::string sql;
    try {
      sql = source.path.empty() ? joinWords(options.words) : readAll(source.path);
    } catch (const std::runtime_error& e) {
      std::fprintf(stderr, "quorix-sql: %s\n", e.what());
      status = kExitTrouble;
      continue;
    }
    status = std::max(status, parseOne(source, sql, output));
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parseArguments(argc, argv);
    switch (options.mode) {
      case Mode::kHelp:
        printHelp();
        return kExitOk;
      case Mode::kVersion:
        std::printf("%s\n", quorix_parser_version());
        return kExitOk;
      case Mode::kParse:
        return runParse(options);
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quorix-sql: %s\nTry 'quorix-sql --help'.\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorix-sql: %s\n", e.what());
  }
  return kExitTrouble;
}
