// quorix-sql: parses SQL with libquorix_sql_parser and prints the document as JSON.
//
// The command is deliberately an ordinary host: it sees only the exported C interface, so
// anything it can do, an embedding application can do the same way.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

struct Options {
  Mode mode = Mode::kParse;
  bool compact = false;
  std::vector<std::string> files;
  std::vector<std::string> words;  // SQL given directly as arguments
};

// One row per option. The parser and --help both read this table, so a new option or mode is
// one new row plus, for a mode, one new case in main.
struct OptionRow {
  const char* shortName;
  const char* longName;
  const char* valueName;  // null for a flag
  const char* help;
  void (*apply)(Options&, const std::string& value);
};

constexpr OptionRow kOptions[] = {
    {"-f", "--file", "FILE", "read SQL from FILE (repeatable; - is standard input)",
     [](Options& o, const std::string& v) { o.files.push_back(v); }},
    {"-c", "--compact", nullptr, "print the JSON on one line",
     [](Options& o, const std::string&) { o.compact = true; }},
    {"-h", "--help", nullptr, "show this help and exit",
     [](Options& o, const std::string&) { o.mode = Mode::kHelp; }},
    {"-V", "--version", nullptr, "print the library version and exit",
     [](Options& o, const std::string&) { o.mode = Mode::kVersion; }},
};

const OptionRow* findOption(std::string_view name) {
  for (const OptionRow& row : kOptions) {
    if (name == row.shortName || name == row.longName) return &row;
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
      "Parses SQL and prints its document as JSON. The SQL is the arguments joined with\n"
      "spaces, or the files given with -f joined with newlines, or standard input.\n\nOptions:\n");
  for (const OptionRow& row : kOptions) {
    const std::string name = std::string(row.longName) + (row.valueName != nullptr ? " " : "") +
                             (row.valueName != nullptr ? row.valueName : "");
    std::printf("  %s, %-14s %s\n", row.shortName, name.c_str(), row.help);
  }
  std::printf("\nExit status: 0 parsed, 1 the SQL was rejected, 2 usage or I/O error.\n");
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

std::string collectSql(const Options& options) {
  if (!options.words.empty()) {
    std::string text = options.words.front();
    for (size_t i = 1; i < options.words.size(); ++i) text += ' ' + options.words[i];
    return text;
  }
  if (options.files.empty()) return readAll("-");
  // The newline keeps a statement that ends a file without one from running into the next.
  std::string text = readAll(options.files.front());
  for (size_t i = 1; i < options.files.size(); ++i) text += '\n' + readAll(options.files[i]);
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

int runParse(const Options& options) {
  const std::string sql = collectSql(options);
  // The library reads C-string text even when given a length, so an embedded NUL would come
  // back as an internal fault; say what is really wrong instead.
  const char* unfit = sql.find('\0') != std::string::npos ? "contains a NUL byte"
                      : sql.size() > INT32_MAX            ? "is larger than 2 GiB"
                                                          : nullptr;
  if (unfit != nullptr) {
    std::fprintf(stderr, "quorix-sql: the SQL text %s\n", unfit);
    return kExitRejected;
  }
  const ParseResult result = quorix_parse_sql(sql.c_str(), static_cast<int32_t>(sql.size()));
  const std::unique_ptr<uint8_t, LibraryFree> data(result.data);
  const std::unique_ptr<char, LibraryFree> error(result.error);
  if (result.status != 0) {
    writeOut(stderr, result.error, static_cast<size_t>(result.error_len));
    writeOut(stderr, "\n", 1);
    return kExitRejected;
  }
  const quorix::tools::JsonStyle style{.pretty = !options.compact};
  const std::string json =
      quorix::tools::msgpackToJson(result.data, static_cast<size_t>(result.data_len), style) + '\n';
  writeOut(stdout, json.data(), json.size());
  return kExitOk;
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
