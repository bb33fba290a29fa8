#include "db/sqlite/ext/tsql_datetime.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cvt::tsql_impl {

namespace {

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int monthDays(int y, int m) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kDays[static_cast<std::size_t>(m - 1)];
}

// One piece of a datetime text: a run of digits, a run of letters, or one
// separator character.
struct Piece {
  enum Kind { Number, Word, Sep } kind;
  std::string text;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Month number of a full English month name or its first three letters;
// 0 when the word is none.
int monthOf(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kNames = {
      "january", "february", "march",     "april",   "may",      "june",
      "july",    "august",   "september", "october", "november", "december"};
  std::string w;
  for (char c : word) {
    w += lower(c);
  }
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (w == kNames[i] || (w.size() == 3 && kNames[i].substr(0, 3) == w)) {
      return static_cast<int>(i) + 1;
    }
  }
  return 0;
}

int number(const std::string& digits) {
  int v = 0;
  for (char c : digits) {
    v = v * 10 + (c - '0');
    if (v > 99999) {
      return 99999;
    }
  }
  return v;
}

// A two-digit year: up to 49 is in the 2000s, from 50 in the 1900s.
int fullYear(const std::string& digits) {
  const int y = number(digits);
  if (digits.size() <= 2) {
    return y <= 49 ? 2000 + y : 1900 + y;
  }
  return y;
}

// Reads the time part [at, end) of the pieces: hh:mi[:ss[.fff|:fff]]
// with an optional AM/PM, or hh AM/PM. Blanks are already gone.
DatetimeRead readTime(const std::vector<Piece>& p, std::size_t at, std::size_t end, DateTime& out) {
  auto sepAt = [&](std::size_t i, char c) {
    return i < end && p[i].kind == Piece::Sep && p[i].text[0] == c;
  };
  auto numAt = [&](std::size_t i, std::size_t maxDigits) {
    return i < end && p[i].kind == Piece::Number && p[i].text.size() <= maxDigits;
  };
  std::size_t i = at;
  if (!numAt(i, 2)) {
    return DatetimeRead::NotADate;
  }
  out.hour = number(p[i++].text);
  bool minutes = false;
  if (sepAt(i, ':') && numAt(i + 1, 2)) {
    out.minute = number(p[i + 1].text);
    i += 2;
    minutes = true;
    if (sepAt(i, ':') && numAt(i + 1, 2)) {
      out.second = number(p[i + 1].text);
      i += 2;
      if ((sepAt(i, '.') || sepAt(i, ':')) && numAt(i + 1, 3)) {
        const bool fraction = p[i].text[0] == '.';
        const std::string& f = p[i + 1].text;
        int ms = number(f);
        if (fraction) {
          for (std::size_t k = f.size(); k < 3; ++k) {
            ms *= 10;
          }
        }
        out.millis = ms;
        i += 2;
      }
    }
  }
  bool meridiem = false;
  if (i < end && p[i].kind == Piece::Word) {
    std::string w;
    for (char c : p[i].text) {
      w += lower(c);
    }
    if (w != "am" && w != "pm") {
      return DatetimeRead::NotADate;
    }
    if (out.hour > 12) {
      return DatetimeRead::NotADate;
    }
    if (w == "am" && out.hour == 12) {
      out.hour = 0;
    } else if (w == "pm" && out.hour < 12) {
      out.hour += 12;
    }
    meridiem = true;
    ++i;
  }
  if (i != end || (!minutes && !meridiem)) {
    return DatetimeRead::NotADate;
  }
  if (out.hour > 23 || out.minute > 59 || out.second > 59) {
    return DatetimeRead::NotADate;
  }
  return DatetimeRead::Ok;
}

// Reads the date part [0, end) of the pieces into year, month and day.
DatetimeRead readDate(const std::vector<Piece>& p, std::size_t end, DateTime& out) {
  std::vector<const Piece*> parts;  // numbers and words, separators dropped
  std::vector<char> seps;
  for (std::size_t i = 0; i < end; ++i) {
    if (p[i].kind == Piece::Sep) {
      seps.push_back(p[i].text[0]);
    } else {
      parts.push_back(&p[i]);
    }
  }
  // yyyymmdd and yymmdd, unseparated.
  if (parts.size() == 1 && parts[0]->kind == Piece::Number &&
      (parts[0]->text.size() == 8 || parts[0]->text.size() == 6)) {
    const std::string& d = parts[0]->text;
    const std::size_t y = d.size() - 4;
    out.year = fullYear(d.substr(0, y));
    out.month = number(d.substr(y, 2));
    out.day = number(d.substr(y + 2, 2));
    return DatetimeRead::Ok;
  }
  if (parts.size() != 3) {
    return DatetimeRead::NotADate;
  }
  int words = 0;
  for (const Piece* q : parts) {
    words += q->kind == Piece::Word ? 1 : 0;
  }
  if (words == 0) {
    // Numeric: one separator, used twice. A four-digit first part is the
    // year (ymd); otherwise the order is DATEFORMAT's, mdy.
    if (seps.size() != 2 || seps[0] != seps[1] ||
        (seps[0] != '/' && seps[0] != '-' && seps[0] != '.')) {
      return DatetimeRead::NotADate;
    }
    for (const Piece* q : parts) {
      if (q->text.size() > 4) {
        return DatetimeRead::NotADate;
      }
    }
    if (parts[0]->text.size() == 4) {
      if (parts[1]->text.size() > 2 || parts[2]->text.size() > 2) {
        return DatetimeRead::NotADate;
      }
      out.year = number(parts[0]->text);
      out.month = number(parts[1]->text);
      out.day = number(parts[2]->text);
    } else {
      if (parts[0]->text.size() > 2 || parts[1]->text.size() > 2 || parts[2]->text.size() == 3) {
        return DatetimeRead::NotADate;
      }
      out.month = number(parts[0]->text);
      out.day = number(parts[1]->text);
      out.year = fullYear(parts[2]->text);
    }
    return DatetimeRead::Ok;
  }
  if (words != 1) {
    return DatetimeRead::NotADate;
  }
  // Alphabetic: the month's name with a day and a year around it, blanks
  // and commas between ('Jan 15 2023', 'January 15, 2023', '15 Jan 2023',
  // '2023 Jan 15', 'Jan 2023 15'). A four-digit number is the year.
  for (char c : seps) {
    if (c != ',') {
      return DatetimeRead::NotADate;
    }
  }
  std::vector<const Piece*> nums;
  for (const Piece* q : parts) {
    if (q->kind == Piece::Word) {
      out.month = monthOf(q->text);
      if (out.month == 0) {
        return DatetimeRead::NotADate;
      }
    } else {
      nums.push_back(q);
    }
  }
  const bool firstIsYear = nums[0]->text.size() == 4;
  const Piece* yearPiece = firstIsYear ? nums[0] : nums[1];
  const Piece* dayPiece = firstIsYear ? nums[1] : nums[0];
  if (dayPiece->text.size() > 2 || yearPiece->text.size() == 3 || yearPiece->text.size() > 4) {
    return DatetimeRead::NotADate;
  }
  out.day = number(dayPiece->text);
  out.year = fullYear(yearPiece->text);
  return DatetimeRead::Ok;
}

// Days from 1900-01-01 to the date (negative before it).
long long daysFrom1900(int y, int m, int d) {
  // Days from 1970-01-01 of a civil date, then moved to 1900.
  const long long yy = y - (m <= 2 ? 1 : 0);
  const long long era = (yy >= 0 ? yy : yy - 399) / 400;
  const long long yoe = yy - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25567;
}

// The civil date of a day count from 1900-01-01.
void dateOfDays(long long days, DateTime& out) {
  const long long z = days - 25567 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  out.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  out.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  out.year = static_cast<int>(yoe + era * 400 + (out.month <= 2 ? 1 : 0));
}

// Sets the value from days and 1/300-second ticks since midnight, carrying
// a full day of ticks over. Out of range beyond 9999-12-31.
DatetimeRead fromTicks(long long days, long long ticks, DateTime& out) {
  constexpr long long kTicksPerDay = 86400LL * 300;
  days += ticks / kTicksPerDay;
  ticks %= kTicksPerDay;
  dateOfDays(days, out);
  if (out.year < 1753 || out.year > 9999) {
    return DatetimeRead::OutOfRange;
  }
  const long long seconds = ticks / 300;
  out.hour = static_cast<int>(seconds / 3600);
  out.minute = static_cast<int>(seconds / 60 % 60);
  out.second = static_cast<int>(seconds % 60);
  // A tick is 3 1/3 ms: shown as .000, .003 or .007.
  out.millis = static_cast<int>(((ticks % 300) * 10 + 1) / 3);
  return DatetimeRead::Ok;
}

}  // namespace

DatetimeRead readDatetime(std::string_view text, DateTime& out) {
  out = DateTime{};
  // The stored forms themselves, 'yyyy-mm-dd' and 'yyyy-mm-dd
  // hh:mi:ss.mmm', are what most values are: read without taking the text
  // apart.
  if (text.size() == 10 || text.size() == 23) {
    static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd.ddd";
    bool plain = true;
    for (std::size_t i = 0; i < text.size() && plain; ++i) {
      plain = kShape[i] == 'd' ? isDigit(text[i]) : text[i] == kShape[i];
    }
    if (plain) {
      auto at = [&](std::size_t from, std::size_t count) {
        int v = 0;
        for (std::size_t i = from; i < from + count; ++i) {
          v = v * 10 + (text[i] - '0');
        }
        return v;
      };
      out.year = at(0, 4);
      out.month = at(5, 2);
      out.day = at(8, 2);
      if (text.size() == 23) {
        out.hour = at(11, 2);
        out.minute = at(14, 2);
        out.second = at(17, 2);
        out.millis = at(20, 3);
        if (out.hour > 23 || out.minute > 59 || out.second > 59) {
          return DatetimeRead::NotADate;
        }
      }
      if (out.month < 1 || out.month > 12 || out.day < 1 ||
          out.day > monthDays(out.year, out.month) || out.year < 1753) {
        return DatetimeRead::OutOfRange;
      }
      // Already on the 1/300 second clock: kept as it is.
      const int m = out.millis % 10;
      if (m == 0 || m == 3 || m == 7) {
        return DatetimeRead::Ok;
      }
    }
  }
  std::vector<Piece> pieces;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == ' ' || c == '\t') {
      ++i;
    } else if (isDigit(c) || isLetter(c)) {
      const bool digit = isDigit(c);
      std::size_t j = i;
      while (j < text.size() && (digit ? isDigit(text[j]) : isLetter(text[j]))) {
        ++j;
      }
      std::string run(text.substr(i, j - i));
      // ISO 8601's 'T' between the date and the time.
      const Piece::Kind kind = digit ? Piece::Number : run == "T" ? Piece::Sep : Piece::Word;
      pieces.push_back({kind, std::move(run)});
      i = j;
    } else if (c == '/' || c == '-' || c == '.' || c == ':' || c == ',') {
      pieces.push_back({Piece::Sep, std::string(1, c)});
      ++i;
    } else {
      return DatetimeRead::NotADate;
    }
  }
  if (pieces.empty()) {
    return DatetimeRead::Ok;
  }
  // Where the time starts: the first number followed by ':' (or by AM/PM)
  // that is not part of the date; ISO 8601's 'T' separates the two.
  std::size_t timeAt = pieces.size();
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].kind == Piece::Sep && pieces[i].text == "T") {
      // yyyy-mm-ddThh:mi:ss[.mmm]: every part in full.
      if (i != 5 || pieces[0].text.size() != 4 || pieces[2].text.size() != 2 ||
          pieces[4].text.size() != 2 || pieces[1].text != "-" || pieces[3].text != "-" ||
          pieces.size() < i + 6) {
        return DatetimeRead::NotADate;
      }
      const DatetimeRead date = readDate(pieces, i, out);
      if (date != DatetimeRead::Ok) {
        return date;
      }
      const DatetimeRead time = readTime(pieces, i + 1, pieces.size(), out);
      if (time != DatetimeRead::Ok) {
        return time;
      }
      timeAt = pieces.size() + 1;  // done
      break;
    }
    const bool colon =
        i + 1 < pieces.size() && pieces[i + 1].kind == Piece::Sep && pieces[i + 1].text == ":";
    const bool meridiem = i + 1 < pieces.size() && pieces[i + 1].kind == Piece::Word &&
                          (pieces[i + 1].text.size() == 2) && (lower(pieces[i + 1].text[1]) == 'm');
    if (pieces[i].kind == Piece::Number && (colon || meridiem)) {
      timeAt = i;
      break;
    }
  }
  if (timeAt <= pieces.size()) {
    if (timeAt > 0) {
      const DatetimeRead date = readDate(pieces, timeAt, out);
      if (date != DatetimeRead::Ok) {
        return date;
      }
    }
    if (timeAt < pieces.size()) {
      const DatetimeRead time = readTime(pieces, timeAt, pieces.size(), out);
      if (time != DatetimeRead::Ok) {
        return time;
      }
    }
  }
  // A syntactically whole date whose parts do not make a day of the
  // calendar, or a year outside 1753-9999, is out of range.
  if (out.month < 1 || out.month > 12 || out.day < 1 || out.day > monthDays(out.year, out.month) ||
      out.year < 1753 || out.year > 9999) {
    return DatetimeRead::OutOfRange;
  }
  const long long ticks =
      ((out.hour * 3600LL + out.minute * 60LL + out.second) * 1000LL + out.millis) * 3 / 10 +
      (((out.millis * 3) % 10) >= 5 ? 1 : 0);
  return fromTicks(daysFrom1900(out.year, out.month, out.day), ticks, out);
}

DatetimeRead datetimeFromDays(double days, DateTime& out) {
  // 1753-01-01 .. 9999-12-31 as days from 1900-01-01.
  if (!(days >= -53690 && days < 2958464)) {
    return DatetimeRead::OutOfRange;
  }
  const double whole = std::floor(days);
  const auto ticks = static_cast<long long>(std::llround((days - whole) * 86400.0 * 300.0));
  return fromTicks(static_cast<long long>(whole), ticks, out);
}

// Written digit by digit: every value stored into a datetime column passes
// here, and a formatted print costs several times the rest of the fit.
std::string formatDatetime(const DateTime& d) {
  const bool midnight = d.hour == 0 && d.minute == 0 && d.second == 0 && d.millis == 0;
  std::string out(midnight ? 10 : 23, '0');
  auto put = [&out](std::size_t at, int value, int width) {
    for (std::size_t i = at + static_cast<std::size_t>(width); i-- > at;) {
      out[i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
  };
  put(0, d.year, 4);
  out[4] = '-';
  put(5, d.month, 2);
  out[7] = '-';
  put(8, d.day, 2);
  if (!midnight) {
    out[10] = ' ';
    put(11, d.hour, 2);
    out[13] = ':';
    put(14, d.minute, 2);
    out[16] = ':';
    put(17, d.second, 2);
    out[19] = '.';
    put(20, d.millis, 3);
  }
  return out;
}

}  // namespace cvt::tsql_impl
