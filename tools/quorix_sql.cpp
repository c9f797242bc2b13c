// quorix-sql: parses SQL with libquorix_sql_parser and prints the document as JSON or
// MessagePack, or only checks it; formats, normalizes, fingerprints, splits and tokenizes it
// with libquorix_sql_tools.
//
// The command is deliberately an ordinary host: it sees only the exported C interfaces, so
// anything it can do, an embedding application can do the same way.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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
#include "quorix_sql_tools.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRejected = 1;  // the library (or the text itself) said no
constexpr int kExitTrouble = 2;   // bad options, unreadable input, failed output

// Bad command lines; unlike other failures of the command they earn a pointer to --help.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Mode { kRun, kHelp, kVersion };

// The subcommands; parse is the default, so that every invocation without one keeps working.
enum class Command : unsigned {
  kParse,
  kCheck,
  kFormat,
  kNormalize,
  kFingerprint,
  kSplit,
  kTokens
};

struct CommandRow {
  Command command;
  const char* name;
  const char* help;
};

constexpr CommandRow kCommands[] = {
    {Command::kParse, "parse", "print the document as JSON (the default)"},
    {Command::kCheck, "check", "only check the SQL: no output unless it is rejected"},
    {Command::kFormat, "format", "print the SQL in the house style, or rewrite files with -i"},
    {Command::kNormalize, "normalize", "replace the constants of queries by $1, $2, ..."},
    {Command::kFingerprint, "fingerprint", "print one fingerprint per statement"},
    {Command::kSplit, "split", "print where each statement starts and ends, as JSON"},
    {Command::kTokens, "tokens", "print every token, comments included, as JSON"},
};

constexpr unsigned bit(Command c) { return 1u << static_cast<unsigned>(c); }
constexpr unsigned kAllCommands = (1u << std::size(kCommands)) - 1;
constexpr unsigned kJsonCommands =
    bit(Command::kParse) | bit(Command::kSplit) | bit(Command::kTokens);

// kAuto is pretty JSON for a person at a terminal and compact JSON for a pipe.
enum class Output { kAuto, kPretty, kCompact, kMsgpack, kCheck };

struct Options {
  Mode mode = Mode::kRun;
  Command command = Command::kParse;
  Output output = Output::kAuto;
  bool inPlace = false;  // format -i
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
  unsigned commands;  // the commands that take it
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

constexpr unsigned kFormat = bit(Command::kFormat);

constexpr OptionRow kOptions[] = {
    {"-f", "--file", "FILE", "read SQL from FILE (repeatable; - is standard input)", kAllCommands,
     [](Options& o, const std::string& v) { o.files.push_back(v); }},
    {"-c", "--compact", nullptr, "print the JSON on one line (default unless on a terminal)",
     kJsonCommands, [](Options& o, const std::string&) { chooseOutput(o, Output::kCompact); }},
    {"-p", "--pretty", nullptr, "print the JSON indented (default on a terminal)", kJsonCommands,
     [](Options& o, const std::string&) { chooseOutput(o, Output::kPretty); }},
    {nullptr, "--msgpack", nullptr, "write the MessagePack document itself", bit(Command::kParse),
     [](Options& o, const std::string&) { chooseOutput(o, Output::kMsgpack); }},
    {nullptr, "--check", nullptr, "only check the SQL: no output unless it is rejected",
     bit(Command::kParse), [](Options& o, const std::string&) { chooseOutput(o, Output::kCheck); }},
    {nullptr, "--pretty", nullptr, "clauses on lines of their own, long lists broken", kFormat,
     [](Options& o, const std::string&) { chooseOutput(o, Output::kPretty); }},
    {"-i", "--in-place", nullptr, "rewrite each -f file that is not formatted yet", kFormat,
     [](Options& o, const std::string&) { o.inPlace = true; }},
    {nullptr, "--check", nullptr, "only name the files that are not formatted (exit status 1)",
     kFormat, [](Options& o, const std::string&) { chooseOutput(o, Output::kCheck); }},
    {"-h", "--help", nullptr, "show this help and exit", kAllCommands,
     [](Options& o, const std::string&) { o.mode = Mode::kHelp; }},
    {"-V", "--version", nullptr, "print the library version and exit", kAllCommands,
     [](Options& o, const std::string&) { o.mode = Mode::kVersion; }},
};

const OptionRow* findOption(std::string_view name, Command command) {
  for (const OptionRow& row : kOptions) {
    if ((row.commands & bit(command)) == 0) continue;
    if ((row.shortName != nullptr && name == row.shortName) || name == row.longName) return &row;
  }
  return nullptr;
}

const CommandRow& commandRow(Command command) { return kCommands[static_cast<unsigned>(command)]; }

bool namesAFile(const std::string& word) {
  struct stat st;
  return ::stat(word.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Arguments are files, not SQL, when every one of them names a file.
bool argumentsAreFiles(const std::vector<std::string>& words) {
  return !words.empty() && std::all_of(words.begin(), words.end(), namesAFile);
}

Options parseArguments(int argc, char** argv) {
  Options options;
  bool optionsEnded = false;
  int i = 1;
  if (argc > 1) {
    for (const CommandRow& row : kCommands) {
      if (argv[1] == std::string_view(row.name)) {
        options.command = row.command;
        ++i;
      }
    }
  }
  for (; i < argc; ++i) {
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
    const OptionRow* row = findOption(arg, options.command);
    if (row == nullptr) {
      throw UsageError(findOption(arg, Command::kParse) != nullptr || arg == "-i"
                           ? std::string(commandRow(options.command).name) + " takes no " + arg
                           : "unknown option " + arg);
    }
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
  const bool files = !options.files.empty() || argumentsAreFiles(options.words);
  if (options.inPlace && (!files || options.output == Output::kCheck)) {
    throw UsageError("-i rewrites files: give them with -f, and leave out --check");
  }
  return options;
}

void printHelp(Command command) {
  const CommandRow& c = commandRow(command);
  if (command == Command::kParse) {
    std::printf("Usage: quorix-sql [COMMAND] [OPTIONS] [SQL...]\n");
  } else {
    std::printf("Usage: quorix-sql %s [OPTIONS] [SQL...]\n", c.name);
  }
  std::printf(
      "%c%s.\n\n"
      "The SQL is the arguments joined with spaces (or, when every argument names a file, those\n"
      "files), or each file given with -f on its own, or standard input. Errors are reported as\n"
      "FILE:LINE:COL: error: MESSAGE, FILE being the file, <args> or <stdin>. With several\n"
      "files, each JSON result is one object naming its file, {\"file\": F, \"document\" (or\n"
      "\"statements\", \"tokens\"): ...}, or {\"file\": F, \"error\": M, \"line\": L, \"column\": "
      "C}.\n",
      std::toupper(static_cast<unsigned char>(c.help[0])), c.help + 1);
  if (command == Command::kParse) {
    std::printf("\nCommands:\n");
    for (const CommandRow& row : kCommands) std::printf("  %-12s %s\n", row.name, row.help);
    std::printf("Run 'quorix-sql COMMAND --help' for the options of a command.\n");
  }
  std::printf("\nOptions:\n");
  for (const OptionRow& row : kOptions) {
    if ((row.commands & bit(command)) == 0) continue;
    const std::string name = std::string(row.longName) + (row.valueName != nullptr ? " " : "") +
                             (row.valueName != nullptr ? row.valueName : "");
    std::printf("  %-4s%-14s %s\n",
                row.shortName != nullptr ? (std::string(row.shortName) + ",").c_str() : "",
                name.c_str(), row.help);
  }
  std::printf(
      "\nColour is used when standard error is a terminal and NO_COLOR is not set.\n"
      "Exit status: 0 done, 1 some SQL was rejected (for format --check: is not formatted),\n"
      "2 usage or I/O error.\n");
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

// Files are parsed one by one, so each error is placed within its own file. Arguments that all
// name files are those files, as in `quorix-sql --check *.sql`; otherwise they are SQL.
std::vector<Source> listSources(const Options& options) {
  if (!options.words.empty() && !argumentsAreFiles(options.words)) return {{"<args>", ""}};
  if (options.files.empty() && options.words.empty()) return {{"<stdin>", "-"}};
  std::vector<Source> sources;
  for (const std::string& path : options.words.empty() ? options.files : options.words) {
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

// The library reads C-string text even when given a length, so an embedded NUL would come
// back as an internal fault; say what is really wrong instead.
bool fitsTheLibrary(const Source& source, const std::string& sql) {
  const char* unfit = sql.find('\0') != std::string::npos ? "the SQL text contains a NUL byte"
                      : sql.size() > INT32_MAX            ? "the SQL text is larger than 2 GiB"
                                                          : nullptr;
  if (unfit != nullptr) reportError(source, sql, unfit);
  return unfit == nullptr;
}

// With several files, each JSON result goes out inside an object that names its file, and a
// failure as an object with the message and its place (null where the message has none), so
// that every file's outcome can be told apart in the stream. One source prints the bare result.
struct JsonLabel {
  bool wanted = false;
  const char* key = "";  // the result's key: "document", "statements" or "tokens"
};

void writeResult(const Source& source, const JsonLabel& label, std::string json) {
  if (label.wanted) {
    std::string out = "{\"file\":";
    quorix::tools::appendJsonString(out, source.name);
    out.append(",\"").append(label.key).append("\":");
    if (json.ends_with('\n')) json.pop_back();
    json = out + json + "}\n";
  } else if (!json.ends_with('\n')) {
    json += '\n';
  }
  writeOut(stdout, json.data(), json.size());
}

// The diagnostic on standard error, and with several files the failure in the stream as well.
void reject(const Source& source, std::string_view sql, std::string_view message,
            const JsonLabel& label) {
  reportError(source, sql, message);
  if (!label.wanted) return;
  std::string out = "{\"file\":";
  quorix::tools::appendJsonString(out, source.name);
  out += ",\"error\":";
  quorix::tools::appendJsonString(out, message);
  const auto at = quorix::tools::errorPosition(sql, message);
  out += ",\"line\":" + (at ? std::to_string(at->line) : std::string("null"));
  out += ",\"column\":" + (at ? std::to_string(at->column) : std::string("null")) + "}\n";
  writeOut(stdout, out.data(), out.size());
}

int32_t length(const std::string& sql) { return static_cast<int32_t>(sql.size()); }

// Every block a library call returns goes back to it, also when writing out throws.
struct ToolsFree {
  void operator()(void* block) const { quorix_tools_free(block); }
};
template <typename T>
using ToolsBlock = std::unique_ptr<T, ToolsFree>;

// A tool's result record: the block is owned; a failure is reported against the source.
template <typename Result>
bool succeeded(const Source& source, const std::string& sql, const Result& r,
               const JsonLabel& label = {}) {
  const ToolsBlock<char> error(r.error);
  if (r.status == 0) return true;
  reject(source, sql, {r.error, static_cast<size_t>(r.error_len)}, label);
  return false;
}

Output jsonOutput(Output output) {
  if (output != Output::kAuto) return output;
  return isatty(STDOUT_FILENO) != 0 ? Output::kPretty : Output::kCompact;
}

int parseOne(const Source& source, const std::string& sql, Output output, const JsonLabel& label) {
  const ParseResult result = quorix_parse_sql(sql.c_str(), length(sql));
  const std::unique_ptr<uint8_t, LibraryFree> data(result.data);
  const std::unique_ptr<char, LibraryFree> error(result.error);
  if (result.status != 0) {
    reject(source, sql, {result.error, static_cast<size_t>(result.error_len)}, label);
    return kExitRejected;
  }
  const size_t size = static_cast<size_t>(result.data_len);
  if (output == Output::kMsgpack) {
    writeOut(stdout, reinterpret_cast<const char*>(result.data), size);
  } else if (output != Output::kCheck) {
    const quorix::tools::JsonStyle style{.pretty = output == Output::kPretty};
    writeResult(source, label, quorix::tools::msgpackToJson(result.data, size, style));
  }
  return kExitOk;
}

// Writes `text` to `path` by way of a temporary file beside it and a rename, so that a reader
// or a crash never sees half a file; the file keeps its permissions.
void replaceFile(const std::string& path, const std::string& text) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path);
  std::string temporary = path + ".quorix-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw std::runtime_error("cannot create a file beside " + path);
  bool ok = ::fchmod(fd, st.st_mode & 07777) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot write " + path);
  }
}

int formatOne(const Source& source, const std::string& sql, const Options& options) {
  const bool pretty = options.output == Output::kPretty;
  const QuorixText r =
      quorix_sql_format(sql.c_str(), length(sql), pretty ? QUORIX_FORMAT_PRETTY : 0);
  const ToolsBlock<char> text(r.text);
  if (!succeeded(source, sql, r)) return kExitRejected;  // a file is then left as it is
  const std::string_view formatted(r.text, static_cast<size_t>(r.text_len));
  if (options.output == Output::kCheck) {
    if (formatted == sql) return kExitOk;
    const std::string line = source.name + "\n";
    writeOut(stdout, line.data(), line.size());
    return kExitRejected;
  }
  if (options.inPlace) {
    if (formatted != sql) replaceFile(source.path, std::string(formatted));
    return kExitOk;
  }
  writeOut(stdout, formatted.data(), formatted.size());
  return kExitOk;
}

int normalizeOne(const Source& source, const std::string& sql) {
  const QuorixText r = quorix_sql_normalize(sql.c_str(), length(sql));
  const ToolsBlock<char> text(r.text);
  if (!succeeded(source, sql, r)) return kExitRejected;
  std::string out(r.text, static_cast<size_t>(r.text_len));
  if (out.empty() || out.back() != '\n') out += '\n';
  writeOut(stdout, out.data(), out.size());
  return kExitOk;
}

int fingerprintOne(const Source& source, const std::string& sql) {
  const QuorixFingerprints r = quorix_sql_fingerprint(sql.c_str(), length(sql));
  const ToolsBlock<uint64_t> fingerprints(r.fingerprints);
  if (!succeeded(source, sql, r)) return kExitRejected;
  std::string out;
  for (int32_t i = 0; i < r.count; ++i) {
    char line[24];
    std::snprintf(line, sizeof line, "%016llx\n",
                  static_cast<unsigned long long>(r.fingerprints[i]));
    out += line;
  }
  writeOut(stdout, out.data(), out.size());
  return kExitOk;
}

// One JSON object per record, in the JSON style asked for.
class JsonArray {
 public:
  explicit JsonArray(Output output) : pretty_(output == Output::kPretty) { out_ += '['; }
  void beginObject() {
    out_ += first_ ? (pretty_ ? "\n  {" : "{") : (pretty_ ? ",\n  {" : ",{");
    first_ = false;
    firstKey_ = true;
  }
  void key(const char* name) {
    out_ += firstKey_ ? "\"" : (pretty_ ? ", \"" : ",\"");
    firstKey_ = false;
    out_ += name;
    out_ += pretty_ ? "\": " : "\":";
  }
  void string(std::string_view v) { quorix::tools::appendJsonString(out_, v); }
  void number(uint64_t v) { out_ += std::to_string(v); }
  void boolean(bool v) { out_ += v ? "true" : "false"; }
  void endObject() { out_ += '}'; }
  std::string finish() {
    out_ += pretty_ && !first_ ? "\n]\n" : "]\n";
    return std::move(out_);
  }

 private:
  bool pretty_;
  bool first_ = true;
  bool firstKey_ = true;
  std::string out_;
};

int splitOne(const Source& source, const std::string& sql, Output output, const JsonLabel& label) {
  const QuorixStatements r = quorix_sql_split(sql.c_str(), length(sql));
  const ToolsBlock<QuorixStatement> statements(r.statements);
  if (!succeeded(source, sql, r, label)) return kExitRejected;
  JsonArray json(jsonOutput(output));
  for (int32_t i = 0; i < r.count; ++i) {
    const QuorixStatement& s = r.statements[i];
    json.beginObject();
    json.key("text");
    json.string(std::string_view(sql).substr(s.start, s.end - s.start));
    const std::pair<const char*, uint32_t> numbers[] = {
        {"start", s.start},           {"end", s.end},
        {"start_line", s.start_line}, {"start_column", s.start_column},
        {"end_line", s.end_line},     {"end_column", s.end_column}};
    for (const auto& [name, value] : numbers) {
      json.key(name);
      json.number(value);
    }
    json.endObject();
  }
  writeResult(source, label, json.finish());
  return kExitOk;
}

int tokensOne(const Source& source, const std::string& sql, Output output, const JsonLabel& label) {
  const QuorixTokens r = quorix_sql_tokens(sql.c_str(), length(sql));
  const ToolsBlock<QuorixToken> tokens(r.tokens);
  if (!succeeded(source, sql, r, label)) return kExitRejected;
  JsonArray json(jsonOutput(output));
  for (int32_t i = 0; i < r.count; ++i) {
    const QuorixToken& t = r.tokens[i];
    json.beginObject();
    json.key("kind");
    json.string(quorix_token_kind_name(t.kind));
    json.key("class");
    json.string(quorix_token_class_name(t.token_class));
    json.key("text");
    json.string(std::string_view(sql).substr(t.start, t.end - t.start));
    const std::pair<const char*, uint32_t> numbers[] = {
        {"start", t.start}, {"end", t.end}, {"line", t.line}, {"column", t.column}};
    for (const auto& [name, value] : numbers) {
      json.key(name);
      json.number(value);
    }
    json.key("unterminated");
    json.boolean((t.flags & QUORIX_TOKEN_UNTERMINATED) != 0);
    json.endObject();
  }
  writeResult(source, label, json.finish());
  return kExitOk;
}

int runOne(const Options& options, const Source& source, const std::string& sql,
           bool severalSources) {
  if (!fitsTheLibrary(source, sql)) return kExitRejected;
  const bool json = options.output != Output::kMsgpack && options.output != Output::kCheck;
  const auto label = [&](const char* key) { return JsonLabel{severalSources && json, key}; };
  switch (options.command) {
    case Command::kParse:
      return parseOne(source, sql, jsonOutput(options.output), label("document"));
    case Command::kCheck:
      return parseOne(source, sql, Output::kCheck, {});
    case Command::kFormat:
      return formatOne(source, sql, options);
    case Command::kNormalize:
      return normalizeOne(source, sql);
    case Command::kFingerprint:
      return fingerprintOne(source, sql);
    case Command::kSplit:
      return splitOne(source, sql, options.output, label("statements"));
    case Command::kTokens:
      return tokensOne(source, sql, options.output, label("tokens"));
  }
  return kExitTrouble;
}

// SQL arguments that were rejected while some of them name files: the user most likely meant
// the files (arguments are files only when every one of them names a file).
void noteFileNames(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (!namesAFile(word)) continue;
    std::fprintf(stderr,
                 "quorix-sql: note: '%s' is a file, but the arguments were read as SQL since "
                 "not all of them name files; read it with -f %s\n",
                 word.c_str(), word.c_str());
  }
}

// Every source gets its own report; the exit status is that of the worst outcome.
int runCommand(const Options& options) {
  int status = kExitOk;
  const std::vector<Source> sources = listSources(options);
  for (const Source& source : sources) {
    std::string sql;
    try {
      sql = source.path.empty() ? joinWords(options.words) : readAll(source.path);
      const int outcome = runOne(options, source, sql, sources.size() > 1);
      if (outcome == kExitRejected && source.path.empty()) noteFileNames(options.words);
      status = std::max(status, outcome);
    } catch (const std::runtime_error& e) {
      std::fprintf(stderr, "quorix-sql: %s\n", e.what());
      status = kExitTrouble;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parseArguments(argc, argv);
    switch (options.mode) {
      case Mode::kHelp:
        printHelp(options.command);
        return kExitOk;
      case Mode::kVersion:
        std::printf("%s\n", quorix_parser_version());
        return kExitOk;
      case Mode::kRun:
        return runCommand(options);
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quorix-sql: %s\nTry 'quorix-sql --help'.\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorix-sql: %s\n", e.what());
  }
  return kExitTrouble;
}
