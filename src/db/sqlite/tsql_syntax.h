#pragma once

// T-SQL syntax: the tokens of a statement text and the small questions
// every pass over them asks (is this a keyword, where does this
// parenthesis close, where are the commas of this list). Strings, quoted
// names, comments and numbers are recognised first, so a keyword inside a
// literal is never mistaken for one. What the tokens mean is the business
// of the passes that use them (the rewriter, the forms check).

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cvt::tsql {

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

bool equalsNoCase(std::string_view a, std::string_view b);
std::string lowered(std::string_view s);

// Splits `sql` into tokens. Comments become the `space` flag of the next
// token. Returns false with `error` set on an unterminated literal.
bool tokenize(std::string_view sql, Tokens& out, std::string& error);

// Where a token stands in the text it was read from: bytes [begin, end).
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// As above, and `spans` receives each token's place in `sql`, for a reader
// that quotes parts of the text as written (the pre-flight check).
bool tokenize(std::string_view sql, Tokens& out, std::vector<Span>& spans, std::string& error);
// The tokens as one text, blanks where the source had them or where two
// words would run together.
std::string render(const Tokens& tokens);

Token word(std::string text);
Token punct(std::string text, bool space = false);
Token number(std::string text);
// A string literal holding `value` (quotes doubled).
Token stringLiteral(std::string_view value);

bool isKw(const Token& t, std::string_view kw);
bool isPunct(const Token& t, std::string_view p);
bool isName(const Token& t);
// The name a Word or Quoted token stands for (quotes removed).
std::string nameOf(const Token& t);
std::string quoteName(std::string_view name);
// Keywords that can follow a table in a FROM list and so are never its alias.
bool isClauseKeyword(const Token& t);

// The ')' that closes the '(' at `open`, or kNone.
std::size_t matchParen(const Tokens& t, std::size_t open);
// Index of the first Word `kw` at paren depth 0 in [from, to), or kNone.
std::size_t findTop(const Tokens& t, std::string_view kw, std::size_t from, std::size_t to);
// Splits [from, to) at commas of paren depth 0 into [begin, end) ranges.
std::vector<std::pair<std::size_t, std::size_t>> splitTop(const Tokens& t, std::size_t from,
                                                          std::size_t to);

}  // namespace cvt::tsql
