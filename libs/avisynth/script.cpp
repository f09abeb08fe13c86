#include "libs/avisynth/script.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <strings.h>

std::string fswhere::text() const {
  if (file.empty()) return "";
  return " (" + file + ", line " + std::to_string(line) + ")";
}

namespace {

// A script is one expression: calls nest a few levels deep, and a script is a few lines. The
// bounds keep a hostile script from exhausting the stack or the memory.
constexpr int maxnesting = 100;             // calls inside calls
constexpr int maximports = 16;              // scripts importing scripts
constexpr long long maxscriptbytes = 1 << 20;

struct paramdef {
  const char* name;
  char type;           // 's' string, 'i' integer, 'f' number, 'b' logical
  bool named = false;  // only by name (name=value), never by position
};

struct funcdef {
  const char* name;
  std::vector<paramdef> params;
};

const std::vector<funcdef>& functions() {
  static const std::vector<funcdef> table = {
      {"Import", {{"path", 's'}}},
      {"Y4MSource", {{"file", 's'}}},
      // FFMS2's own names for its output size, scaler and constant frame rate; by name only,
      // as the arguments FFMS2 puts before them (track, cache ...) are not ours.
      {"FFVideoSource",
       {{"source", 's'}, {"width", 'i', true}, {"height", 'i', true}, {"resizer", 's', true},
        {"fpsnum", 'i', true}, {"fpsden", 'i', true}}},
      {"BlankClip",
       {{"length", 'i'}, {"width", 'i'}, {"height", 'i'}, {"fps", 'f'}, {"fps_denominator", 'i'},
        {"pixel_type", 's'}, {"color_yuv", 'i'}}},
      {"TestPattern",
       {{"length", 'i'}, {"width", 'i'}, {"height", 'i'}, {"fps", 'f'}, {"fps_denominator", 'i'},
        {"cut", 'i'}}},
  };
  return table;
}

const char* typetext(char t) {
  switch (t) {
    case 's': return "a string";
    case 'i': return "an integer";
    case 'f': return "a number";
    case 'b': return "true or false";
    default: return "a value";
  }
}

bool fits(char t, const fsvalue& v) {
  switch (t) {
    case 's': return v.type() == fsvalue::string;
    case 'i': return v.type() == fsvalue::integer;
    case 'f': return v.type() == fsvalue::integer || v.type() == fsvalue::real;
    case 'b': return v.type() == fsvalue::boolean;
    default: return false;
  }
}

// ---- the parser ------------------------------------------------------------------------

struct parser {
  fsenvcore* env;
  std::string text;
  std::string file;     // the script's name for messages
  std::string dir;      // its folder, for relative source names
  size_t pos = 0;
  int line = 1;
  int nesting = 0;  // calls open around the current position

  [[noreturn]] void error(const std::string& what, int atline) {
    env->fail("Script error: " + what + " (" + file + ", line " + std::to_string(atline) + ")");
  }
  [[noreturn]] void error(const std::string& what) { error(what, line); }

  // Skips blanks, line ends and comments.
  void skip() {
    while (pos < text.size()) {
      char c = text[pos];
      if (c == '\n') {
        line++;
        pos++;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        pos++;
      } else if (c == '#') {
        while (pos < text.size() && text[pos] != '\n') pos++;
      } else {
        break;
      }
    }
  }

  bool at(char c) {
    skip();
    return pos < text.size() && text[pos] == c;
  }

  std::string describe() {
    skip();
    if (pos >= text.size()) return "the end of the script";
    char c = text[pos];
    if (std::isprint((unsigned char)c)) return std::string("\"") + c + "\"";
    return "an unreadable character";
  }

  void expect(char c) {
    if (!at(c)) error(std::string("expected \"") + c + "\" but found " + describe());
    pos++;
  }

  static bool identstart(char c) { return std::isalpha((unsigned char)c) || c == '_'; }
  static bool identchar(char c) { return std::isalnum((unsigned char)c) || c == '_'; }

  static bool nonascii(char c) { return (unsigned char)c >= 0x80; }

  // A name; one that runs on into a letter outside ASCII ("TestPättern") is said whole, with
  // that letter, rather than cut before it.
  std::string ident() {
    size_t b = pos;
    while (pos < text.size() && identchar(text[pos])) pos++;
    if (pos < text.size() && nonascii(text[pos])) {
      size_t e = pos, l = pos + 1;
      while (l < text.size() && nonascii(text[l]) && ((unsigned char)text[l] & 0xC0) == 0x80) l++;
      while (e < text.size() && (identchar(text[e]) || nonascii(text[e]))) e++;
      error("the name \"" + text.substr(b, e - b) + "\" holds \"" + text.substr(pos, l - pos) +
            "\", which is no ASCII letter; names are made of the letters A-Z, digits and _");
    }
    return text.substr(b, pos - b);
  }

  fsvalue number() {
    size_t b = pos;
    bool neg = false;
    if (text[pos] == '-' || text[pos] == '+') {
      neg = text[pos] == '-';
      pos++;
    }
    // hexadecimal: $FF or 0xFF
    bool hex = false;
    if (pos < text.size() && text[pos] == '$') {
      hex = true;
      pos++;
    } else if (pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
      hex = true;
      pos += 2;
    }
    if (hex) {
      size_t d = pos;
      while (pos < text.size() && std::isxdigit((unsigned char)text[pos])) pos++;
      if (pos == d || pos - d > 8) error("bad hexadecimal number \"" + text.substr(b, pos - b) + "\"");
      long long v = std::strtoll(text.substr(d, pos - d).c_str(), nullptr, 16);
      return fsvalue((int)(neg ? -v : v));
    }
    size_t d = pos;
    while (pos < text.size() && std::isdigit((unsigned char)text[pos])) pos++;
    bool real = false;
    if (pos < text.size() && text[pos] == '.') {
      real = true;
      pos++;
      while (pos < text.size() && std::isdigit((unsigned char)text[pos])) pos++;
    }
    std::string s = text.substr(b, pos - b);
    if (pos == d || (real && pos == d + 1)) error("bad number \"" + s + "\"");
    if (pos < text.size() && identchar(text[pos])) error("bad number \"" + s + text[pos] + "\"");
    if (real) return fsvalue(std::strtod(s.c_str(), nullptr));
    errno = 0;
    long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (errno || v > 2147483647LL || v < -2147483648LL) error("number " + s + " is too large");
    return fsvalue((int)v);
  }

  fsvalue string() {
    int startline = line;
    pos++;  // opening quote
    size_t b = pos;
    while (pos < text.size() && text[pos] != '"') {
      if (text[pos] == '\n') error("string not closed before the end of the line", startline);
      pos++;
    }
    if (pos >= text.size()) error("string not closed before the end of the script", startline);
    std::string s = text.substr(b, pos - b);
    pos++;
    return fsvalue(env->keep(s));
  }

  fsvalue expression() {
    skip();
    if (pos >= text.size()) error("expected a value but found the end of the script");
    char c = text[pos];
    if (c == '"') return string();
    if (std::isdigit((unsigned char)c) || c == '-' || c == '+' || c == '$' || c == '.') return number();
    if (!identstart(c)) error("expected a value but found " + describe());
    int callline = line;
    if (nesting >= maxnesting)
      error("calls nested more than " + std::to_string(maxnesting) + " deep");
    struct nest {
      int& n;
      explicit nest(int& k) : n(k) { n++; }
      ~nest() { n--; }
    } inside(nesting);
    std::string name = ident();
    if (strcasecmp(name.c_str(), "true") == 0) return fsvalue(true);
    if (strcasecmp(name.c_str(), "false") == 0) return fsvalue(false);
    std::vector<std::pair<std::string, fsvalue>> args;
    if (at('(')) {
      pos++;
      if (!at(')')) {
        for (;;) {
          skip();
          std::string argname;
          size_t save = pos;
          int saveline = line;
          if (pos < text.size() && identstart(text[pos])) {
            std::string id = ident();
            if (at('=')) {
              pos++;
              argname = id;
            } else {
              pos = save;
              line = saveline;
            }
          }
          fsvalue v = expression();
          args.emplace_back(argname, v);
          if (at(',')) {
            pos++;
            continue;
          }
          if (at(')')) break;
          error("expected \",\" or \")\" in the arguments of " + name + " but found " + describe());
        }
      }
      pos++;  // ')'
    }
    fswhere where{file, callline};
    return callfunction(env, name, args, where, dir);
  }

  fsvalue script() {
    fsvalue v = expression();
    skip();
    if (pos < text.size())
      error("only one expression is allowed in a script, but " + describe() + " follows it");
    return v;
  }
};

std::string basename(const std::string& p) {
  size_t s = p.rfind('/');
  return s == std::string::npos ? p : p.substr(s + 1);
}

}  // namespace

fsvalue importscript(fsenvcore* env, const std::string& path) {
  // A script that imports itself would never end. The count lives in the static TLS block
  // (initial-exec), not in a block of its own allocated at the first use on each thread: the
  // leak checker of our sanitizer build misreads such blocks of a loaded library and crashes.
  thread_local int depth __attribute__((tls_model("initial-exec"))) = 0;
  if (depth >= maximports)
    env->fail("Import: scripts nested more than " + std::to_string(maximports) + " deep at \"" +
              path + "\"");
  struct guard {
    guard() { depth++; }
    ~guard() { depth--; }
  } g;
  if (env->stopasked()) env->fail("Import: \"" + path + "\" not read, the run was stopped");
  // A FIFO would wait for a writer, a device such as /dev/zero would never end.
  const std::string kind = notregular(path);
  if (!kind.empty()) env->fail("Import: \"" + path + "\" is " + kind + ", not a script file");
  std::ifstream in(path, std::ios::binary);
  if (!in) env->fail("Import: can't open \"" + path + "\"");
  env->noteread(path);
  std::string text(maxscriptbytes + 1, '\0');
  in.read(text.data(), (std::streamsize)text.size());
  if (in.bad()) env->fail("Import: can't read \"" + path + "\"");
  text.resize((size_t)in.gcount());
  if ((long long)text.size() > maxscriptbytes)
    env->fail("Import: \"" + path + "\" is larger than " + std::to_string(maxscriptbytes >> 20) +
              " MB; a script is one expression of a few lines");
  parser p;
  p.env = env;
  p.text = std::move(text);
  p.file = basename(path);
  size_t slash = path.rfind('/');
  p.dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  return p.script();
}

fsvalue callfunction(fsenvcore* env, const std::string& name,
                     const std::vector<std::pair<std::string, fsvalue>>& args, const fswhere& at,
                     const std::string& scriptdir) {
  const funcdef* f = nullptr;
  for (const auto& s : functions())
    if (strcasecmp(s.name, name.c_str()) == 0) f = &s;
  if (!f) env->fail("Script error: there is no function named \"" + name + "\"" + at.text());
  std::string fname = f->name;

  std::vector<fsarg> bound(f->params.size());
  size_t next = 0;
  bool named = false;
  for (const auto& [argname, value] : args) {
    size_t i;
    if (argname.empty()) {
      if (named)
        env->fail("Script error: " + fname + ": a positional argument follows a named one" + at.text());
      if (next >= f->params.size() || f->params[next].named) {
        const size_t n = next;  // the parameters by position come first
        env->fail("Script error: " + fname + " takes at most " + std::to_string(n) + " argument" +
                  (n == 1 ? "" : "s") + (n < f->params.size() ? " without a name" : "") + at.text());
      }
      i = next++;
    } else {
      named = true;
      for (i = 0; i < f->params.size(); i++)
        if (strcasecmp(f->params[i].name, argname.c_str()) == 0) break;
      if (i == f->params.size())
        env->fail("Script error: " + fname + " has no argument named \"" + argname + "\"" + at.text());
    }
    if (bound[i].given)
      env->fail("Script error: " + fname + ": argument \"" + f->params[i].name + "\" is given twice" +
                at.text());
    if (!fits(f->params[i].type, value))
      env->fail("Script error: " + fname + ": argument \"" + f->params[i].name + "\" must be " +
                typetext(f->params[i].type) + at.text());
    bound[i].given = true;
    bound[i].value = value;
  }

  if (fname == "Import") {
    if (!bound[0].given) env->fail("Script error: Import needs the script's file name" + at.text());
    std::string p = bound[0].value.asstring();
    if (!p.empty() && p[0] != '/') p = scriptdir + p;
    return importscript(env, p);
  }
  if (fname == "Y4MSource") return y4msource(env, bound, at, scriptdir);
  if (fname == "FFVideoSource") return ffvideosource(env, bound, at, scriptdir);
  if (fname == "BlankClip") return blankclip(env, bound, at);
  return testpattern(env, bound, at);
}
