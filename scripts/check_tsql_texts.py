#!/usr/bin/python3
"""Checks that statement texts are T-SQL that SQL Server runs.

    check_tsql_texts.py TEXTS_FILE FUNCTIONS

TEXTS_FILE holds one statement text per line, each as a JSON string.
FUNCTIONS is the comma-separated allow-list of T-SQL functions (lower case)
that a text may call. Each text must parse as one T-SQL statement with
sqlglot's T-SQL dialect, must not use SQLite's own operators and words
(||, ==, LIMIT) or double quotes, and may call only functions of the
allow-list. What the parser takes but SQL Server refuses is refused too: a
derived table without an alias, or with a column that has no name or a
name twice, or ordered without TOP; a comparison standing where a value
is expected; a variable that no statement declares; queries or CASE
expressions nested deeper than SQL Server allows. Prints every text that
fails, with the reason, and exits 1 when any does.

Needs Debian's python3-sqlglot (run with /usr/bin/python3).
"""

import json
import re
import sys

import sqlglot
from sqlglot import exp
from sqlglot.dialects.dialect import Dialect
from sqlglot.tokens import TokenType

# Statement forms of T-SQL that this sqlglot cannot parse, matched whole.
KNOWN_FORMS = [
    re.compile(r"\s*alter\s+table\s+\w+\s+(enable|disable)\s+trigger\s+all\s*", re.I),
    re.compile(r"\s*(save|rollback)\s+transaction\s+\w+\s*", re.I),
]

# Forms that sqlglot passes through as an unparsed command; each is T-SQL.
COMMAND_FORMS = [
    re.compile(r"\s*truncate\s+table\s+\w+\s*", re.I),
    re.compile(r"\s*set\s+nocount\s+(on|off)\s*", re.I),
]

# Words that may stand before '(' without being a function.
KEYWORDS = {
    "in", "exists", "values", "as", "on", "and", "or", "not", "when", "then", "else",
    "select", "from", "where", "join", "into", "set", "by", "having", "union", "all",
    "any", "some", "over", "using", "between", "like", "is", "distinct", "top", "with",
    "intersect", "except", "end", "case", "return",
}

FORBIDDEN_TOKENS = {
    TokenType.DPIPE: "the operator || (T-SQL joins texts with +)",
    TokenType.LIMIT: "LIMIT (T-SQL has TOP)",
}


# Nodes that are a condition, and those that may stand between a condition
# and the clause that takes it.
CONDITIONS = (exp.Predicate, exp.And, exp.Or, exp.Not)
LOGICAL = (exp.Paren, exp.And, exp.Or, exp.Not)


def double_quoted(text):
    """Whether `text` has a double quote outside its string literals."""
    quoted = False
    for c in text:
        if c == "'":
            quoted = not quoted
        elif c == '"' and not quoted:
            return True
    return False


def first_select(node):
    """The select that names the columns of a query (a union's first)."""
    while isinstance(node, exp.Union):
        node = node.this
    return node


def derived_table_fault(subquery):
    """Why SQL Server refuses `subquery` as a table of a from clause, or None."""
    if not subquery.alias:
        return "a derived table without an alias"
    query = subquery.this
    if isinstance(query, exp.Select) and query.args.get("order") and not query.args.get("limit"):
        return "a derived table ordered without TOP"
    select = first_select(query)
    if not isinstance(select, exp.Select):
        return None
    names = set()
    for number, column in enumerate(select.expressions, 1):
        if isinstance(column, exp.Star) or (isinstance(column, exp.Column)
                                            and isinstance(column.this, exp.Star)):
            continue
        name = column.alias_or_name
        if not name or not isinstance(column, (exp.Alias, exp.Column)):
            return "column %d of the derived table %s has no name" % (number, subquery.alias)
        if name.lower() in names:
            return "the derived table %s names %s twice" % (subquery.alias, name)
        names.add(name.lower())
    return None


def condition_as_value(tree):
    """A comparison that stands where T-SQL wants a value, or None."""
    for node in tree.find_all(*CONDITIONS):
        outer = node.parent
        while isinstance(outer, LOGICAL):
            node, outer = outer, outer.parent
        if isinstance(outer, (exp.Where, exp.Having)):
            continue
        if isinstance(outer, exp.Join) and node.arg_key == "on":
            continue
        if isinstance(outer, exp.If) and node.arg_key == "this":
            continue
        if isinstance(outer, exp.Update) and node.arg_key == "expressions":
            continue  # an assignment of the set clause
        return node
    return None


# SQL Server's limits on nesting: subqueries within subqueries, and CASE
# expressions within CASE expressions.
MAX_NESTED_QUERIES = 32
MAX_NESTED_CASES = 10


def deepest_nesting(tree):
    """The deepest nesting of queries, and of CASE expressions within one
    query, in `tree`."""
    queries = cases = 0
    stack = [(tree, 0, 0)]
    while stack:
        node, query_depth, case_depth = stack.pop()
        if isinstance(node, exp.Select):
            query_depth, case_depth = query_depth + 1, 0
        elif isinstance(node, exp.Case):
            case_depth += 1
        queries = max(queries, query_depth)
        cases = max(cases, case_depth)
        for value in node.args.values():
            for child in value if isinstance(value, list) else [value]:
                if isinstance(child, exp.Expression):
                    stack.append((child, query_depth, case_depth))
    return queries, cases


def check(text, allowed, tokenizer):
    """The reason `text` is not acceptable T-SQL, or None."""
    if any(form.fullmatch(text) for form in KNOWN_FORMS):
        return None
    try:
        tokens = tokenizer.tokenize(text)
    except Exception as error:  # noqa: BLE001 - any tokenizer failure is a finding
        return "does not tokenize as T-SQL: %s" % error
    for token in tokens:
        if token.token_type in FORBIDDEN_TOKENS:
            return FORBIDDEN_TOKENS[token.token_type]
        if token.text == "==":
            return "the operator == (T-SQL compares with =)"
    try:
        trees = [t for t in sqlglot.parse(text, read="tsql") if t is not None]
    except Exception as error:  # noqa: BLE001 - a parse error is the finding
        return "does not parse as T-SQL: %s" % str(error).splitlines()[0]
    if len(trees) != 1:
        return "is not exactly one statement"
    tree = trees[0]
    if isinstance(tree, exp.Command) and not any(f.fullmatch(text) for f in COMMAND_FORMS):
        return "is not a statement the T-SQL parser understands"
    if any(True for _ in tree.find_all(exp.DPipe)):
        return "the operator || (T-SQL joins texts with +)"
    if double_quoted(text):
        return "double quotes (T-SQL quotes texts with ' and names with [])"
    for subquery in tree.find_all(exp.Subquery):
        if isinstance(subquery.parent, (exp.From, exp.Join)):
            fault = derived_table_fault(subquery)
            if fault:
                return fault
    for name in tree.find_all(exp.Identifier):
        if name.this.startswith("@") and not name.this.startswith("@@"):
            return "the variable %s, which no statement declares" % name.this
    condition = condition_as_value(tree)
    if condition is not None:
        return "the condition %s stands where T-SQL wants a value" % condition.sql("tsql")[:80]
    queries, cases = deepest_nesting(tree)
    if queries > MAX_NESTED_QUERIES:
        return "queries nested %d deep (SQL Server takes %d)" % (queries, MAX_NESTED_QUERIES)
    if cases > MAX_NESTED_CASES:
        return "CASE expressions nested %d deep (SQL Server takes %d)" % (cases, MAX_NESTED_CASES)
    tables = {t.name.lower() for t in tree.find_all(exp.Table)}
    types = {dt.this.value.lower() for dt in tree.find_all(exp.DataType)}
    for i, token in enumerate(tokens[:-1]):
        if tokens[i + 1].token_type != TokenType.L_PAREN:
            continue
        if token.token_type in (TokenType.STRING, TokenType.NUMBER, TokenType.L_PAREN,
                                TokenType.R_PAREN, TokenType.COMMA):
            continue
        name = token.text.lower()
        previous = tokens[i - 1] if i > 0 else None
        if name in KEYWORDS or name in tables or name in types:
            continue
        if previous is not None and (previous.token_type == TokenType.DOT
                                     or previous.text.lower() in ("into", "insert")):
            continue
        if not re.fullmatch(r"[a-z_][a-z0-9_]*", name):
            continue  # an operator or punctuation before a parenthesis
        if name not in allowed:
            return "calls %s, which is not on the T-SQL allow-list" % name
    return None


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    allowed = set(sys.argv[2].split(","))
    tokenizer = Dialect.get_or_raise("tsql")().tokenizer
    failures = []
    count = 0
    with open(sys.argv[1], encoding="utf-8") as texts:
        for number, line in enumerate(texts, 1):
            if not line.strip():
                continue
            count += 1
            text = json.loads(line)
            reason = check(text, allowed, tokenizer)
            if reason:
                failures.append("text %d %s:\n    %s" % (number, reason, text))
    for failure in failures:
        print(failure)
    print("%d texts checked, %d failed" % (count, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
