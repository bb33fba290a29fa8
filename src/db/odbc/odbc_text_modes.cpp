// How texts cross the ODBC boundary: statements through the wide (UTF-16)
// or the narrow entry points, as the connection's text mode says, and the
// driver's diagnostics read back in the same mode, with the password masked.

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/names.h"
#include "db/odbc/odbc_session_parts.h"
#include "db/odbc/utf16_text.h"

namespace cvt::odbc {

namespace {

// The SQLite ODBC driver wraps SQLite's own message as "[SQLite]text (code)".
// The wrapping says nothing the message does not, and without it a SQLite
// data source reads the same through this backend as through the embedded
// one.
std::string sqliteMessageLine(std::string line) {
  constexpr std::string_view kPrefix = "[SQLite]";
  if (line.rfind(kPrefix, 0) == 0) {
    line.erase(0, kPrefix.size());
  }
  if (!line.empty() && line.back() == ')') {
    const auto open = line.rfind(" (");
    if (open != std::string::npos && open + 3 < line.size() &&
        std::all_of(line.begin() + static_cast<std::ptrdiff_t>(open) + 2, line.end() - 1,
                    [](char c) { return c >= '0' && c <= '9'; })) {
      line.erase(open);
    }
  }
  return line;
}

std::string sqliteMessage(const std::string& text) {
  std::string out;
  std::size_t start = 0;
  while (true) {
    const auto end = text.find('\n', start);
    out += sqliteMessageLine(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) {
      return out;
    }
    out += '\n';
    start = end + 1;
  }
}

}  // namespace

std::string diagnostics(SQLSMALLINT kind, SQLHANDLE handle, TextMode mode) {
  std::vector<std::string> messages;
  for (SQLSMALLINT record = 1; record <= 32; ++record) {
    std::string message;
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (mode == TextMode::Wide) {
      SQLWCHAR state[6] = {};
      std::u16string buffer(512, u'\0');
      SQLRETURN rc = SQLGetDiagRecW(kind, handle, record, state, &native, sqlText(buffer),
                                    static_cast<SQLSMALLINT>(buffer.size()), &length);
      if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(buffer.size())) {
        buffer.assign(static_cast<std::size_t>(length) + 1, u'\0');
        rc = SQLGetDiagRecW(kind, handle, record, state, &native, sqlText(buffer),
                            static_cast<SQLSMALLINT>(buffer.size()), &length);
      }
      if (!SQL_SUCCEEDED(rc)) {
        break;
      }
      buffer.resize(
          std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), buffer.size() - 1));
      message = utf16ToUtf8(buffer);
    } else {
      SQLCHAR state[6] = {};
      std::string buffer(1024, '\0');
      SQLRETURN rc = SQLGetDiagRec(kind, handle, record, state, &native, sqlText(buffer),
                                   static_cast<SQLSMALLINT>(buffer.size()), &length);
      if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(buffer.size())) {
        buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
        rc = SQLGetDiagRec(kind, handle, record, state, &native, sqlText(buffer),
                           static_cast<SQLSMALLINT>(buffer.size()), &length);
      }
      if (!SQL_SUCCEEDED(rc)) {
        break;
      }
      buffer.resize(
          std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), buffer.size() - 1));
      message = std::move(buffer);
    }
    if (std::find(messages.begin(), messages.end(), message) == messages.end()) {
      messages.push_back(std::move(message));
    }
  }
  std::string text;
  for (const auto& message : messages) {
    if (!text.empty()) {
      text += '\n';
    }
    text += message;
  }
  return text;
}

SQLRETURN OdbcSession::execDirect(SQLHSTMT stmt, const std::string& text) {
  if (mode_ == TextMode::Wide) {
    std::u16string wide = utf8ToUtf16(text);
    return SQLExecDirectW(stmt, sqlText(wide), static_cast<SQLINTEGER>(wide.size()));
  }
  std::string narrow = text;
  return SQLExecDirect(stmt, sqlText(narrow), static_cast<SQLINTEGER>(narrow.size()));
}

SQLRETURN OdbcSession::prepareText(SQLHSTMT stmt, const std::string& text) {
  if (mode_ == TextMode::Wide) {
    std::u16string wide = utf8ToUtf16(text);
    return SQLPrepareW(stmt, sqlText(wide), static_cast<SQLINTEGER>(wide.size()));
  }
  std::string narrow = text;
  return SQLPrepare(stmt, sqlText(narrow), static_cast<SQLINTEGER>(narrow.size()));
}

SqlResult OdbcSession::failure(SQLSMALLINT kind, SQLHANDLE handle) const {
  std::string text = scrubbed(diagnostics(kind, handle, mode_));
  if (sqlite_) {
    text = sqliteMessage(text);
  }
  if (text.empty()) {
    text = "The ODBC driver reported a failure without a diagnostic record.";
  }
  return SqlResult::error(std::move(text));
}

// Drivers do not echo the password, but a message that quotes a connection
// string would: every PWD=... is masked, and so is the password itself when
// it is long enough not to be an ordinary word of a message.
std::string OdbcSession::scrubbed(std::string text) const {
  for (std::size_t at = lowered(text).find("pwd="); at != std::string::npos;
       at = lowered(text).find("pwd=", at + 7)) {
    const std::size_t value = at + 4;
    std::size_t end = value;
    if (end < text.size() && text[end] == '{') {
      // A braced value ends at the first '}' that is not doubled.
      for (++end; end < text.size(); ++end) {
        if (text[end] == '}') {
          if (end + 1 < text.size() && text[end + 1] == '}') {
            ++end;
          } else {
            ++end;
            break;
          }
        }
      }
    } else {
      end = std::min(text.find(';', value), text.size());
    }
    text.replace(value, end - value, "***");
  }
  if (password_.size() >= 4) {
    for (std::size_t at = text.find(password_); at != std::string::npos;
         at = text.find(password_, at + 3)) {
      text.replace(at, password_.size(), "***");
    }
  }
  return text;
}

}  // namespace cvt::odbc
