// The limits file read with toml++, header-only (the Windows build includes
// the same headers), without exceptions: a parse error is a value like any
// other mistake. Every table and key the file holds must be one of ours and
// of its kind; the first one that is not refuses the file with its line.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_WINDOWS_COMPAT 0
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "report/Acceptance.h"
#include "report/PageParts.h"

namespace report {

namespace {

enum class Kind {
  kReal,   // a number: an integer or a float
  kCount,  // a whole number
  kBool,
};

// One key of a table that sets a criterion's limit.
struct KeyRow {
  const char* table;
  const char* key;
  Criterion criterion;
  Kind kind;
  double lo, hi;  // the range a value must be in
};

constexpr double kMaxSeconds = 100000;  // more than a day: no limit of a handling time is that long
constexpr double kMaxHours = 100000;
constexpr double kMaxCount = 1e9;
constexpr size_t kMaxText = 200;  // bytes of a [store] text

// The time keys of one table: mean, maximum, 95th percentile.
#define TIME_KEYS(table, plate, group)                                                       \
  {table, "max_mean_s", TimeCriterion(plate, group, kTimeMean), Kind::kReal, 0, kMaxSeconds}, \
      {table, "max_max_s", TimeCriterion(plate, group, kTimeMax), Kind::kReal, 0, kMaxSeconds}, \
      {table, "max_p95_s", TimeCriterion(plate, group, kTimeP95), Kind::kReal, 0, kMaxSeconds}
#define CLIMATE_KEYS(table, value)                                                                   \
  {table, "min_inside_share", InsideShareCriterion(value), Kind::kReal, 0, 1},                       \
      {table, "max_outside_minutes", OutsideMinutesCriterion(value), Kind::kReal, 0, kMaxHours * 60}

const KeyRow kKeys[] = {
    {"run", "complete", kRunComplete, Kind::kBool, 0, 1},
    {"run", "min_hours", kRunMinHours, Kind::kReal, 0, kMaxHours},
    {"run", "min_accesses", kRunMinAccesses, Kind::kCount, 0, kMaxCount},
    {"run", "max_car_pos_errors", kRunMaxCarPosErrors, Kind::kCount, 0, kMaxCount},
    {"run", "max_not_counted", kRunMaxNotCounted, Kind::kCount, 0, kMaxCount},
    TIME_KEYS("ready", false, kAll),
    TIME_KEYS("ready.load", false, kLoad),
    TIME_KEYS("ready.unload", false, kUnload),
    TIME_KEYS("plate_ready", true, kAll),
    TIME_KEYS("plate_ready.load", true, kLoad),
    TIME_KEYS("plate_ready.unload", true, kUnload),
    CLIMATE_KEYS("climate.temperature", kTemperature),
    CLIMATE_KEYS("climate.humidity", kHumidity),
    CLIMATE_KEYS("climate.co2", kCo2),
    {"line", "max_losses", kLineMaxLosses, Kind::kCount, 0, kMaxCount},
    {"line", "max_down_s", kLineMaxDownSeconds, Kind::kReal, 0, kMaxSeconds * 100},
};
#undef TIME_KEYS
#undef CLIMATE_KEYS

// The tables a file may hold, each with the tables it may hold in turn.
struct TableRow {
  const char* path;
  const char* parent;  // "" for one at the top
};
const TableRow kTables[] = {
    {"run", ""},
    {"ready", ""},
    {"ready.load", "ready"},
    {"ready.unload", "ready"},
    {"plate_ready", ""},
    {"plate_ready.load", "plate_ready"},
    {"plate_ready.unload", "plate_ready"},
    {"climate", ""},
    {"climate.temperature", "climate"},
    {"climate.humidity", "climate"},
    {"climate.co2", "climate"},
    {"line", ""},
    {"store", ""},
};

// The range a band's ends may have: degrees Celsius, percent, percent.
constexpr double kBandRange[3][2] = {{-100, 200}, {0, 100}, {0, 100}};
constexpr const char* kClimateTables[3] = {"climate.temperature", "climate.humidity", "climate.co2"};

int LineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }
int LineOf(const toml::key& key, const toml::node& node) {
  const int line = static_cast<int>(key.source().begin.line);
  return line > 0 ? line : LineOf(node);
}

// A range's ends as a message shows them: "0 to 100000", "0 to 0.5",
// written the same under every locale.
std::string Range(double lo, double hi) { return page::Shortest(lo, 0) + " to " + page::Shortest(hi, 0); }

// A text from the file (a name, or the parser's reason, which quotes what it
// stumbled on) as a message shows it: printable ASCII, the rest as '?', cut
// at `max` bytes. A message goes to the console as it stands.
std::string Printable(std::string_view s, size_t max) {
  std::string out;
  for (char c : s.substr(0, max)) out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  if (s.size() > max) out += "...";
  return out;
}

// toml++ 3.3 reaches a point it declares unreachable (undefined behaviour:
// anything may happen) when it asks whether certain non-ASCII characters
// are blanks, which it does for every character outside a string or a
// comment, and for one after a backslash in a multi-line string. A limits
// file's names, numbers and booleans are ASCII, its texts are in quotes:
// such a character is refused here, with its line, before the parser sees
// it. 0 when there is none.
//
// Where a string starts is followed as the parser follows it, erring on
// the side of refusing: a quote opens a string only where a key or a value
// begins. A value that is not a string, an array or a table (a number, a
// word) is read up to a blank, ] } , or #, quotes and all.
bool BareKeyCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

int NonAsciiOutsideQuotes(std::string_view t) {
  enum { kKey, kBareKey, kAfterKey, kValue, kBareValue, kAfterValue, kComment, kString };
  enum { kBasic, kLiteral, kMultiBasic, kMultiLiteral };
  int state = kKey, string = kBasic, afterString = kAfterKey;
  const auto high = [&t](size_t i) { return i < t.size() && static_cast<unsigned char>(t[i]) >= 0x80; };
  const auto at = [&t](size_t i, std::string_view s) { return t.compare(i, s.size(), s) == 0; };
  // A string opens at i (a key's or a value's): i moved onto its last quote.
  const auto open = [&](size_t& i, int after) {
    const bool basic = t[i] == '"';
    const bool multi = at(i, basic ? "\"\"\"" : "'''");
    if (multi) i += 2;
    string = basic ? (multi ? kMultiBasic : kBasic) : (multi ? kMultiLiteral : kLiteral);
    afterString = after;
    return kString;
  };
  int line = 1;
  size_t i = at(0, "\xEF\xBB\xBF") ? 3 : 0;  // a byte-order mark is read as nothing
  for (; i < t.size(); ++i) {
    const char c = t[i];
    const bool blank = c == ' ' || c == '\t' || c == '\r';
    if (c == '\n') ++line;
    if (state < kComment) {
      if (high(i)) return line;
      if (c == '\n' || c == '#') {
        state = c == '#' ? kComment : kKey;
        continue;
      }
    }
    switch (state) {
      case kKey:
        if (c == '"' || c == '\'')
          state = open(i, kAfterKey);
        else if (BareKeyCharacter(c))
          state = kBareKey;
        else if (!blank && c != '[' && c != '.' && c != '{')
          state = kAfterValue;
        break;
      case kBareKey:
        if (BareKeyCharacter(c)) break;
        state = kAfterKey;
        [[fallthrough]];
      case kAfterKey:
        if (c == '.') state = kKey;
        if (c == '=') state = kValue;
        if (c == ']') state = kAfterValue;
        break;
      case kValue:
        if (c == '"' || c == '\'')
          state = open(i, kAfterValue);
        else if (c == '{')
          state = kKey;
        else if (c == ']' || c == '}')
          state = kAfterValue;
        else if (!blank && c != '[' && c != ',')
          state = kBareValue;
        break;
      case kBareValue:
        if (blank || c == ']' || c == '}') state = kAfterValue;
        if (c == ',') state = kValue;
        break;
      case kAfterValue:
        if (c == ',') state = kValue;
        break;
      case kComment:
        if (c == '\n') state = kKey;
        break;
      case kString:
        if (string == kBasic) {
          if (c == '\\' && i + 1 < t.size() && t[i + 1] != '\n')
            ++i;
          else if (c == '"' || c == '\n')
            state = c == '"' ? afterString : kKey;
        } else if (string == kLiteral) {
          if (c == '\'' || c == '\n') state = c == '\'' ? afterString : kKey;
        } else if (string == kMultiBasic && c == '\\') {
          // What follows a backslash is asked about, and after a line end
          // every blank and line end until the text goes on.
          size_t j = i + 1;
          while (j < t.size() && (t[j] == ' ' || t[j] == '\t' || t[j] == '\r' || t[j] == '\n')) line += t[j++] == '\n';
          if (high(j)) return line;
          i = j == i + 1 ? j : j - 1;  // an escape takes the character after it
        } else if (at(i, string == kMultiBasic ? "\"\"\"" : "'''")) {
          i += 2;
          while (i + 1 < t.size() && t[i + 1] == t[i]) ++i;  // quotes of the text just before its end
          state = afterString;
        }
        break;
    }
  }
  return 0;
}

class Reader {
 public:
  Reader(Limits& limits, Problem& error) : limits_(limits), error_(error) {}

  // Every key is looked at, even after a mistake: toml++ keeps a table's
  // keys in the order of their names, and of all the mistakes the one
  // nearest the file's top is the one to name (Fail keeps it).
  bool Table(const toml::table& table, const std::string& path) {
    bool ok = true;
    for (auto&& [key, node] : table) {
      const std::string name(key.str());
      const std::string child = path.empty() ? name : path + "." + name;
      if (IsTable(child, path)) {
        if (!node.is_table())
          ok = Fail(LineOf(key, node), "[" + child + "] must be a table");
        else
          ok = Table(*node.as_table(), child) && ok;
        continue;
      }
      // A key before the first table is most likely one whose table line
      // was forgotten.
      if (path.empty() && !node.is_table())
        ok = Fail(LineOf(key, node), Shown(name) + " stands before any table; it belongs in one such as [run]");
      else if (path.empty() || node.is_table())
        ok = Fail(LineOf(key, node), "unknown table [" + Shown(child) + "]");
      else
        ok = Value(path, name, key, node) && ok;
    }
    return ok;
  }

  // What holds across keys: a band's ends in order, a share or a stretch
  // only with a band.
  bool Bands(const toml::table& root) {
    for (int v = 0; v < 3; ++v) {
      const toml::node* table = root.at_path(kClimateTables[v]).node();
      if (!table) continue;
      const int line = LineOf(*table);
      const ClimateBand& b = limits_.band[v];
      const bool share = limits_.limit[InsideShareCriterion(ClimateValue(v))].has_value();
      const bool outside = limits_.limit[OutsideMinutesCriterion(ClimateValue(v))].has_value();
      if (low_[v] != high_[v])
        return Fail(line, std::string("[") + kClimateTables[v] + "] needs both low and high");
      if (!b.given && (share || outside))
        return Fail(line, std::string("[") + kClimateTables[v] + "] needs low and high for its band");
      if (b.given && b.low > b.high)
        return Fail(bandLine_[v], std::string(kClimateTables[v]) + ".low is above its high");
      if (b.given && !share && !outside) limits_.limit[InsideShareCriterion(ClimateValue(v))] = 1.0;
    }
    return true;
  }

 private:
  static bool IsTable(const std::string& child, const std::string& parent) {
    for (const TableRow& t : kTables)
      if (child == t.path && parent == t.parent) return true;
    return false;
  }

  // A name from the file as a message shows it: printable ASCII, the rest
  // as '?', cut at 40.
  static std::string Shown(std::string_view s) { return Printable(s, 40); }

  bool Fail(int line, std::string reason) {
    if (!failed_ || (line > 0 && (error_.line == 0 || line < error_.line))) {
      error_.line = line;
      error_.text = std::move(reason);
    }
    failed_ = true;
    return false;
  }

  bool Value(const std::string& table, const std::string& name, const toml::key& key, const toml::node& node) {
    const int line = LineOf(key, node);
    const std::string path = table + "." + Shown(name);
    if (table == "store") return Text(name, path, line, node);
    for (int v = 0; v < 3; ++v) {
      if (table != kClimateTables[v] || (name != "low" && name != "high")) continue;
      double value = 0;
      if (!Number(node, path, line, kBandRange[v][0], kBandRange[v][1], value)) return false;
      ClimateBand& b = limits_.band[v];
      (name == "low" ? b.low : b.high) = value;
      (name == "low" ? low_[v] : high_[v]) = true;
      bandLine_[v] = std::max(bandLine_[v], line);
      b.given = low_[v] && high_[v];
      return true;
    }
    for (const KeyRow& k : kKeys) {
      if (table != k.table || name != k.key) continue;
      double value = 0;
      if (k.kind == Kind::kBool) {
        if (!node.is_boolean()) return Fail(line, path + " must be true or false");
        value = node.as_boolean()->get() ? 1 : 0;
        // run.complete = false asks for nothing.
        if (value == 0) {
          limits_.limit[k.criterion].reset();
          return true;
        }
      } else if (k.kind == Kind::kCount) {
        if (!node.is_integer()) return Fail(line, path + " must be a whole number");
        const int64_t n = node.as_integer()->get();
        if (n < k.lo || n > k.hi) return Fail(line, path + " must be from " + Range(k.lo, k.hi));
        value = static_cast<double>(n);
      } else if (!Number(node, path, line, k.lo, k.hi, value)) {
        return false;
      }
      limits_.limit[k.criterion] = value;
      return true;
    }
    return Fail(line, "unknown key " + Shown(name) + " in [" + table + "]");
  }

  bool Number(const toml::node& node, const std::string& path, int line, double lo, double hi, double& value) {
    if (node.is_integer())
      value = static_cast<double>(node.as_integer()->get());
    else if (node.is_floating_point())
      value = node.as_floating_point()->get();
    else
      return Fail(line, path + " must be a number");
    if (!std::isfinite(value)) return Fail(line, path + " must be a finite number");
    if (value < lo || value > hi) return Fail(line, path + " must be from " + Range(lo, hi));
    return true;
  }

  bool Text(const std::string& name, const std::string& path, int line, const toml::node& node) {
    std::string* field = name == "customer" ? &limits_.customer
                         : name == "site"   ? &limits_.site
                         : name == "model"  ? &limits_.model
                         : name == "order"  ? &limits_.order
                                            : nullptr;
    if (!field) return Fail(line, "unknown key " + Shown(name) + " in [store]");
    if (!node.is_string()) return Fail(line, path + " must be a text in quotes");
    const std::string& text = node.as_string()->get();
    if (text.size() > kMaxText) return Fail(line, path + " is longer than " + std::to_string(kMaxText) + " bytes");
    for (unsigned char c : text)
      if (c < 0x20 || c == 0x7F) return Fail(line, path + " holds a control character");
    *field = text;
    return true;
  }

  Limits& limits_;
  Problem& error_;
  bool failed_ = false;
  bool low_[3] = {}, high_[3] = {};
  int bandLine_[3] = {};  // where the band's second end was given
};

}  // namespace

int Limits::Asked() const {
  int n = 0;
  for (const auto& l : limit) n += l.has_value();
  return n;
}

bool ReadLimits(std::string_view text, std::string_view name, Limits& limits, Problem& error) {
  error = Problem{};
  if (const int line = NonAsciiOutsideQuotes(text)) {
    error.line = line;
    error.text = "a character that is not ASCII outside quotes (names and numbers are ASCII, texts go in quotes)";
    return false;
  }
  toml::parse_result parsed = toml::parse(text, name);
  if (!parsed) {
    const toml::parse_error& e = parsed.error();
    error.line = static_cast<int>(e.source().begin.line);
    error.text = Printable(e.description(), 200);
    return false;
  }
  Limits read;
  read.file = std::string(name);
  read.limit[kRunComplete] = 1.0;  // unless the file says false
  Reader reader(read, error);
  if (!reader.Table(parsed.table(), "") || !reader.Bands(parsed.table())) return false;
  limits = std::move(read);
  return true;
}

}  // namespace report
