// The Node-API face of libquorix_sql_parser and libquorix_sql_tools, compiled in with their
// sources. Library messages leave as Error objects with code "QUORIX_LIBRARY" and checks of
// our own with "QUORIX_VALUE"; index.js turns both into the package's error classes, so the
// classification lives in one place.
#include <napi.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "quorix_sql_parser.h"
#include "quorix_sql_tools.h"

namespace {

constexpr size_t kMaxText = INT32_MAX;

Napi::Error codedError(Napi::Env env, const std::string& message, const char* code) {
  Napi::Error e = Napi::Error::New(env, message);
  e.Value().Set("code", Napi::String::New(env, code));
  return e;
}

// The SQL text as the library takes it: a NUL-terminated block whose length fits int32_t.
// A string is converted to UTF-8 by V8 (a lone surrogate becomes U+FFFD); a Buffer or other
// Uint8Array is read as it is, and copied only when the call outlives the JavaScript frame.
class SqlText {
 public:
  SqlText(const Napi::CallbackInfo& info, const char* function, bool copy) {
    Napi::Env env = info.Env();
    Napi::Value v = info[0];
    if (v.IsString()) {
      size_t n = 0;
      napi_get_value_string_utf8(env, v, nullptr, 0, &n);
      owned_.resize(n);
      napi_get_value_string_utf8(env, v, owned_.data(), n + 1, &n);
      data_ = owned_.data();
      size_ = n;
      owns_ = true;
    } else if (v.IsTypedArray() && v.As<Napi::TypedArray>().TypedArrayType() == napi_uint8_array) {
      auto bytes = v.As<Napi::Uint8Array>();
      size_ = bytes.ByteLength();
      if (copy || size_ == 0) {
        owned_.assign(reinterpret_cast<const char*>(bytes.Data()), size_);
        data_ = owned_.data();
        owns_ = true;
      } else {
        data_ = reinterpret_cast<const char*>(bytes.Data());
      }
    } else {
      throw Napi::TypeError::New(env, std::string(function) + "() takes a string or a Buffer");
    }
    if (size_ > kMaxText) {
      throw codedError(env,
                       "the SQL text has " + std::to_string(size_) + " bytes; at most " +
                           std::to_string(kMaxText) + " are taken",
                       "QUORIX_VALUE");
    }
    if (const void* nul = std::memchr(data_, 0, size_)) {
      const size_t at = static_cast<const char*>(nul) - data_;
      throw codedError(env, "the SQL text holds a NUL byte at offset " + std::to_string(at),
                       "QUORIX_VALUE");
    }
  }

  SqlText(SqlText&& other) noexcept
      : owned_(std::move(other.owned_)), size_(other.size_), owns_(other.owns_) {
    data_ = owns_ ? owned_.data() : other.data_;
  }

  // Length 0 means "NUL-terminated" to the library, so the empty text goes in as "".
  const char* data() const { return size_ == 0 ? "" : data_; }
  int32_t length() const { return static_cast<int32_t>(size_); }
  const char* bytes() const { return data_; }

 private:
  std::string owned_;
  const char* data_ = nullptr;
  size_t size_ = 0;
  bool owns_ = false;
};

// Owns whichever block a result record carries until this goes out of scope.
template <typename Record, void (*Free)(void*)>
struct Owned {
  Record r;
  explicit Owned(Record record) : r(record) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& o) noexcept : r(o.r) { o.r = Record{}; }
  ~Owned() { release(); }
  void reset(Record record) {
    release();
    r = record;
  }
  void release() {
    Free(blockOf(r));
    Free(r.error);
    r = Record{};
  }
  static void* blockOf(const ParseResult& p) { return p.data; }
  static void* blockOf(const QuorixText& t) { return t.text; }
  static void* blockOf(const QuorixFingerprints& f) { return f.fingerprints; }
  static void* blockOf(const QuorixStatements& s) { return s.statements; }
  static void* blockOf(const QuorixTokens& t) { return t.tokens; }
  std::string message() const { return std::string(r.error ? r.error : "", r.error_len); }
};

using ParseOwned = Owned<ParseResult, quorix_free_buffer>;
template <typename R>
using ToolOwned = Owned<R, quorix_tools_free>;

// The document's bytes; index.js decodes them (lib/decode.js), which measured faster than
// making the values here through Node-API (see README.md).
Napi::Value documentBytes(Napi::Env env, const ParseResult& r) {
  return Napi::Buffer<uint8_t>::Copy(env, r.data, static_cast<size_t>(r.data_len));
}

Napi::Value Parse(const Napi::CallbackInfo& info) {
  SqlText text(info, "parse", false);
  ParseOwned r(quorix_parse_sql(text.data(), text.length()));
  if (r.r.status != 0) throw codedError(info.Env(), r.message(), "QUORIX_LIBRARY");
  return documentBytes(info.Env(), r.r);
}

uint32_t formatFlags(const Napi::CallbackInfo& info) {
  return info.Length() > 1 && info[1].ToBoolean().Value() ? QUORIX_FORMAT_PRETTY : 0u;
}

Napi::Value textValue(Napi::Env env, const ToolOwned<QuorixText>& r) {
  if (r.r.status != 0) throw codedError(env, r.message(), "QUORIX_LIBRARY");
  return Napi::String::New(env, r.r.text, static_cast<size_t>(r.r.text_len));
}

Napi::Value Format(const Napi::CallbackInfo& info) {
  SqlText text(info, "format", false);
  return textValue(info.Env(), ToolOwned<QuorixText>(quorix_sql_format(text.data(), text.length(),
                                                                       formatFlags(info))));
}

Napi::Value Normalize(const Napi::CallbackInfo& info) {
  SqlText text(info, "normalize", false);
  return textValue(info.Env(),
                   ToolOwned<QuorixText>(quorix_sql_normalize(text.data(), text.length())));
}

Napi::Value Fingerprint(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  SqlText text(info, "fingerprint", false);
  ToolOwned<QuorixFingerprints> r(quorix_sql_fingerprint(text.data(), text.length()));
  if (r.r.status != 0) throw codedError(env, r.message(), "QUORIX_LIBRARY");
  Napi::Array out = Napi::Array::New(env, static_cast<size_t>(r.r.count));
  for (int32_t i = 0; i < r.r.count; ++i) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(r.r.fingerprints[i]));
    out.Set(static_cast<uint32_t>(i), Napi::String::New(env, hex, 16));
  }
  return out;
}

Napi::String slice(Napi::Env env, const SqlText& text, uint32_t start, uint32_t end) {
  return Napi::String::New(env, text.bytes() + start, end - start);
}

Napi::Value Split(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  SqlText text(info, "split", false);
  ToolOwned<QuorixStatements> r(quorix_sql_split(text.data(), text.length()));
  if (r.r.status != 0) throw codedError(env, r.message(), "QUORIX_LIBRARY");
  Napi::Array out = Napi::Array::New(env, static_cast<size_t>(r.r.count));
  for (int32_t i = 0; i < r.r.count; ++i) {
    const QuorixStatement& s = r.r.statements[i];
    Napi::Object o = Napi::Object::New(env);
    o.Set("text", slice(env, text, s.start, s.end));
    o.Set("start", s.start);
    o.Set("end", s.end);
    o.Set("startLine", s.start_line);
    o.Set("startColumn", s.start_column);
    o.Set("endLine", s.end_line);
    o.Set("endColumn", s.end_column);
    out.Set(static_cast<uint32_t>(i), o);
  }
  return out;
}

// errorPosition(sql, message): [line, column] of the place an error message of the library
// gives or, for a literal that could not be converted, of that literal; null when unknown.
Napi::Value ErrorPosition(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  SqlText text(info, "errorPosition", false);
  if (!info[1].IsString()) throw Napi::TypeError::New(env, "errorPosition() takes a message");
  const std::string message = info[1].As<Napi::String>().Utf8Value();
  QuorixErrorPosition at;
  if (quorix_sql_error_position(text.data(), text.length(), message.c_str(),
                                static_cast<int32_t>(message.size()), &at) == 0) {
    return env.Null();
  }
  Napi::Array out = Napi::Array::New(env, 2);
  out.Set(0u, at.line);
  out.Set(1u, at.column);
  return out;
}

Napi::Value Tokens(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  SqlText text(info, "tokens", false);
  ToolOwned<QuorixTokens> r(quorix_sql_tokens(text.data(), text.length()));
  if (r.r.status != 0) throw codedError(env, r.message(), "QUORIX_LIBRARY");
  // Kinds and classes are a few dozen constants: one JavaScript string each.
  Napi::Value kinds[256];
  Napi::Value classes[256];
  Napi::Array out = Napi::Array::New(env, static_cast<size_t>(r.r.count));
  for (int32_t i = 0; i < r.r.count; ++i) {
    const QuorixToken& t = r.r.tokens[i];
    if (kinds[t.kind].IsEmpty())
      kinds[t.kind] = Napi::String::New(env, quorix_token_kind_name(t.kind));
    if (classes[t.token_class].IsEmpty()) {
      classes[t.token_class] = Napi::String::New(env, quorix_token_class_name(t.token_class));
    }
    Napi::Object o = Napi::Object::New(env);
    o.Set("kind", kinds[t.kind]);
    o.Set("tokenClass", classes[t.token_class]);
    o.Set("text", slice(env, text, t.start, t.end));
    o.Set("start", t.start);
    o.Set("end", t.end);
    o.Set("line", t.line);
    o.Set("column", t.column);
    o.Set("unterminated", (t.flags & QUORIX_TOKEN_UNTERMINATED) != 0);
    out.Set(static_cast<uint32_t>(i), o);
  }
  return out;
}

// The library call runs on the libuv pool; the values are built back on the JavaScript thread,
// where Node-API may be used.
class ParseWorker : public Napi::AsyncWorker {
 public:
  ParseWorker(Napi::Env env, SqlText text)
      : Napi::AsyncWorker(env, "quorix.parseAsync"),
        deferred_(Napi::Promise::Deferred::New(env)),
        text_(std::move(text)),
        result_(ParseResult{}) {}

  Napi::Promise promise() { return deferred_.Promise(); }

  void Execute() override { result_.reset(quorix_parse_sql(text_.data(), text_.length())); }

  void OnOK() override {
    Napi::Env env = Env();
    if (result_.r.status != 0) {
      deferred_.Reject(codedError(env, result_.message(), "QUORIX_LIBRARY").Value());
      return;
    }
    deferred_.Resolve(documentBytes(env, result_.r));
  }

  void OnError(const Napi::Error& e) override { deferred_.Reject(e.Value()); }

 private:
  Napi::Promise::Deferred deferred_;
  SqlText text_;
  ParseOwned result_;
};

class FormatWorker : public Napi::AsyncWorker {
 public:
  FormatWorker(Napi::Env env, SqlText text, uint32_t flags)
      : Napi::AsyncWorker(env, "quorix.formatAsync"),
        deferred_(Napi::Promise::Deferred::New(env)),
        text_(std::move(text)),
        flags_(flags),
        result_(QuorixText{}) {}

  Napi::Promise promise() { return deferred_.Promise(); }

  void Execute() override {
    result_.reset(quorix_sql_format(text_.data(), text_.length(), flags_));
  }

  void OnOK() override {
    try {
      deferred_.Resolve(textValue(Env(), result_));
    } catch (const Napi::Error& e) {
      deferred_.Reject(e.Value());
    }
  }

  void OnError(const Napi::Error& e) override { deferred_.Reject(e.Value()); }

 private:
  Napi::Promise::Deferred deferred_;
  SqlText text_;
  uint32_t flags_;
  ToolOwned<QuorixText> result_;
};

Napi::Value ParseAsync(const Napi::CallbackInfo& info) {
  auto* w = new ParseWorker(info.Env(), SqlText(info, "parseAsync", true));
  Napi::Promise p = w->promise();
  w->Queue();
  return p;
}

Napi::Value FormatAsync(const Napi::CallbackInfo& info) {
  auto* w = new FormatWorker(info.Env(), SqlText(info, "formatAsync", true), formatFlags(info));
  Napi::Promise p = w->promise();
  w->Queue();
  return p;
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  exports.Set("parse", Napi::Function::New(env, Parse, "parse"));
  exports.Set("parseAsync", Napi::Function::New(env, ParseAsync, "parseAsync"));
  exports.Set("format", Napi::Function::New(env, Format, "format"));
  exports.Set("formatAsync", Napi::Function::New(env, FormatAsync, "formatAsync"));
  exports.Set("normalize", Napi::Function::New(env, Normalize, "normalize"));
  exports.Set("fingerprint", Napi::Function::New(env, Fingerprint, "fingerprint"));
  exports.Set("split", Napi::Function::New(env, Split, "split"));
  exports.Set("tokens", Napi::Function::New(env, Tokens, "tokens"));
  exports.Set("errorPosition", Napi::Function::New(env, ErrorPosition, "errorPosition"));
  exports.Set("version", Napi::String::New(env, quorix_parser_version()));
  return exports;
}

}  // namespace

NODE_API_MODULE(quorix_sql_parser, Init)
