#pragma once

// The tokens of a T-SQL text as the rewriter sees them: strings, quoted
// names, comments and numbers are recognised first, so that a keyword
// inside a literal is never taken for one. Shared by the rewriter and its
// checks; internal to the SQLite backend.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cvt::sqltok {

enum class Tok {
  Word,    // keyword or bare name
  Quoted,  // "name" (bracketed names are normalised to this form)
  String,  // '...' (an N prefix is dropped)
  Number,
  Param,  // ?
  Punct,  // operators and punctuation, one or two characters
};

struct Token {
  Tok type;
  std::string text;
  bool space = true;  // whitespace or a comment stood before it
};

using Tokens = std::vector<Token>;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

char lower(char c);
bool equalsNoCase(std::string_view a, std::string_view b);
std::string lowered(std::string_view s);
bool isDigit(char c);
// Splits `sql` into tokens. Comments become the `space` flag of the next
// token. Returns false with `error` set on an unterminated literal.
bool tokenize(std::string_view sql, Tokens& out, std::string& error);
std::string render(const Tokens& tokens);
Token word(std::string text);
Token punct(std::string text, bool space = false);
Token number(std::string text);
Token stringLiteral(std::string_view value);
bool isKw(const Token& t, std::string_view kw);
bool isPunct(const Token& t, std::string_view p);
bool isName(const Token& t);
// The name a Word or Quoted token stands for (quotes removed).
std::string nameOf(const Token& t);
std::string quoteName(std::string_view name);
// Keywords that can follow a table in a FROM list and so are never its alias.
bool isClauseKeyword(const Token& t);

}  // namespace cvt::sqltok
