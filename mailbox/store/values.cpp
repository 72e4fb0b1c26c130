#include "mailbox/store/values.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "base/date.h"
#include "base/platform.h"
#include "mailbox/model/const_mapi.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;

bool IsSupportedPropType(int32_t type) {
  switch (type) {
    case PT_I2:
    case PT_LONG:
    case PT_BOOLEAN:
    case PT_STRING8:
    case PT_UNICODE:
    case PT_SYSTIME:
    case PT_BINARY:
      return true;
    default:
      return false;
  }
}

std::optional<SqlValue> ToSql(int32_t tag, const Variant& v) {
  using T = Variant::Type;
  switch (PropType(tag)) {
    case PT_STRING8:
    case PT_UNICODE:
      if (v.type() == T::String) return SqlValue(v.AsString());
      return std::nullopt;
    case PT_I2:
      if (v.type() == T::Integer) return SqlValue(int64_t{v.AsInteger()});
      if (v.type() == T::Long && v.AsLong() >= -32768 && v.AsLong() <= 32767) {
        return SqlValue(int64_t{v.AsLong()});
      }
      return std::nullopt;
    case PT_LONG:
      if (v.type() == T::Long) return SqlValue(int64_t{v.AsLong()});
      if (v.type() == T::Integer) return SqlValue(int64_t{v.AsInteger()});
      return std::nullopt;
    case PT_BOOLEAN:
      if (v.type() == T::Boolean) return SqlValue(int64_t{v.AsBoolean() ? 1 : 0});
      return std::nullopt;
    case PT_SYSTIME:
      if (v.type() == T::Date) return SqlValue(oa::UnixMillisFromDate(v.AsDate()));
      return std::nullopt;
    case PT_BINARY: {
      if (v.type() != T::Array) return std::nullopt;
      std::vector<uint8_t> bytes;
      for (const Variant& e : v.AsArray()) {
        int64_t b = -1;
        if (e.type() == T::Byte) b = e.AsByte();
        if (e.type() == T::Integer) b = e.AsInteger();
        if (e.type() == T::Long) b = e.AsLong();
        if (b < 0 || b > 255) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(b));
      }
      return SqlValue(std::move(bytes));
    }
    default:
      return std::nullopt;
  }
}

Variant FromSql(int32_t tag, const SqlValue& v) {
  const int64_t* i = std::get_if<int64_t>(&v);
  switch (PropType(tag)) {
    case PT_STRING8:
    case PT_UNICODE:
      if (auto* s = std::get_if<std::string>(&v)) return Variant::String(*s);
      break;
    case PT_I2:
      if (i) return Variant::Integer(static_cast<int16_t>(*i));
      break;
    case PT_LONG:
      if (i) return Variant::Long(static_cast<int32_t>(*i));
      break;
    case PT_BOOLEAN:
      if (i) return Variant::Boolean(*i != 0);
      break;
    case PT_SYSTIME:
      if (i) return Variant::FromDate(oa::DateFromUnixMillis(*i));
      break;
    case PT_BINARY:
      if (auto* b = std::get_if<std::vector<uint8_t>>(&v)) return Variant::Binary(*b);
      break;
    default:
      break;
  }
  return Variant();
}

void BindSql(Stmt& s, int index, const SqlValue& v) {
  if (auto* i = std::get_if<int64_t>(&v)) {
    s.Bind(index, *i);
  } else if (auto* t = std::get_if<std::string>(&v)) {
    s.Bind(index, *t);
  } else if (auto* b = std::get_if<std::vector<uint8_t>>(&v)) {
    s.Bind(index, *b);
  } else {
    s.BindNull(index);
  }
}

SqlValue ColumnSql(const Stmt& s, int col) {
  switch (s.ColumnType(col)) {
    case SQLITE_INTEGER:
      return s.Int(col);
    case SQLITE_TEXT:
      return s.Text(col);
    case SQLITE_BLOB:
      return s.Blob(col);
    default:
      return std::monostate{};
  }
}

std::optional<int64_t> ParseIsoUtc(const std::string& t) {
  // YYYY-MM-DDTHH:MM:SS[.fff]Z
  auto digits = [&](size_t pos, size_t n) -> int {
    if (pos + n > t.size()) return -1;
    int v = 0;
    for (size_t i = pos; i < pos + n; ++i) {
      if (t[i] < '0' || t[i] > '9') return -1;
      v = v * 10 + (t[i] - '0');
    }
    return v;
  };
  if (t.size() < 20 || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != 't') ||
      t[13] != ':' || t[16] != ':' || (t.back() != 'Z' && t.back() != 'z')) {
    return std::nullopt;
  }
  const int y = digits(0, 4), mo = digits(5, 2), d = digits(8, 2);
  const int h = digits(11, 2), mi = digits(14, 2), s = digits(17, 2);
  if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      s < 0 || s > 59) {
    return std::nullopt;
  }
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDays[mo - 1] || (mo == 2 && d == 29 && !leap)) return std::nullopt;
  int64_t millis = 0;
  const size_t end = t.size() - 1;
  if (end > 19) {
    if (t[19] != '.' || end == 20) return std::nullopt;
    int scale = 100;
    for (size_t i = 20; i < end; ++i) {
      if (t[i] < '0' || t[i] > '9') return std::nullopt;
      millis += (t[i] - '0') * scale;
      scale /= 10;
    }
  }
  const int64_t days = oa::DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  return ((days * 24 + h) * 60 + mi) * 60000 + s * 1000LL + millis;
}

std::string IsoUtc(int64_t unixMillis) {
  int64_t secs = unixMillis / 1000, ms = unixMillis % 1000;
  if (ms < 0) {
    ms += 1000;
    --secs;
  }
  const std::time_t tt = static_cast<std::time_t>(secs);
  std::tm tm{};
  oa::UtcTime(tt, &tm);
  char buf[96];
  if (ms) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms));
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  }
  return buf;
}

int64_t NowUnixMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace oa::store
