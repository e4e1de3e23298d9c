// Pattern text to syntax tree. A recursive-descent parser over the pattern's
// code points: disjunction -> alternatives -> terms -> atoms, one level of
// recursion per group, bounded by kMaxNesting (and moved to a new stack
// segment when the thread's stack runs low). Everything the Unicode-mode
// grammar forbids is an error here (a lone '{' or ']', an unknown escape,
// '\-' outside a class, a quantifier after an assertion, ...), since a
// pattern accepted by one engine and refused by another would make a schema
// mean different things in different places.
#include "support/ecma_regex_syntax.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "support/ecma_regex_text.hpp"
#include "support/ecma_regex_unicode.hpp"
#include "support/stack.hpp"

namespace quarvel::ecma_regex_detail {

void CodeSet::normalize() {
    std::sort(ranges_.begin(), ranges_.end(),
              [](const Range& a, const Range& b) { return a.first < b.first; });
    std::size_t out = 0;
    for (const Range& r : ranges_) {
        if (out > 0 && r.first <= ranges_[out - 1].last + 1) {
            ranges_[out - 1].last = std::max(ranges_[out - 1].last, r.last);
        } else {
            ranges_[out++] = r;
        }
    }
    ranges_.resize(out);
}

CodeSet CodeSet::complement() const {
    CodeSet out;
    char32_t next = 0;
    for (const Range& r : ranges_) {
        if (r.first > next) out.add(next, r.first - 1);
        next = r.last + 1;
    }
    if (next <= kMaxCodePoint) out.add(next, kMaxCodePoint);
    return out;
}

bool CodeSet::contains(char32_t c) const {
    auto it = std::upper_bound(ranges_.begin(), ranges_.end(), c,
                               [](char32_t v, const Range& r) { return v < r.first; });
    return it != ranges_.begin() && c <= (it - 1)->last;
}

namespace {

using CategoryMask = std::uint32_t;

constexpr CategoryMask bit(GeneralCategory c) {
    return CategoryMask{1} << c;
}

CodeSet category_set(CategoryMask mask) {
    CodeSet out;
    constexpr std::size_t n = std::size(kCategoryRuns);
    for (std::size_t i = 0; i < n; ++i) {
        if (!(mask & bit(kCategoryRuns[i].category))) continue;
        char32_t last = i + 1 < n ? kCategoryRuns[i + 1].first - 1 : kMaxCodePoint;
        out.add(kCategoryRuns[i].first, last);
    }
    out.normalize();
    return out;
}

constexpr CategoryMask kLetter = bit(Lu) | bit(Ll) | bit(Lt) | bit(Lm) | bit(Lo);
constexpr CategoryMask kMark = bit(Mn) | bit(Mc) | bit(Me);
constexpr CategoryMask kNumber = bit(Nd) | bit(Nl) | bit(No);
constexpr CategoryMask kPunctuation =
    bit(Pc) | bit(Pd) | bit(Ps) | bit(Pe) | bit(Pi) | bit(Pf) | bit(Po);
constexpr CategoryMask kSymbol = bit(Sm) | bit(Sc) | bit(Sk) | bit(So);
constexpr CategoryMask kSeparator = bit(Zs) | bit(Zl) | bit(Zp);
constexpr CategoryMask kOther = bit(Cc) | bit(Cf) | bit(Cs) | bit(Co) | bit(Cn);

// General_Category values by every name a pattern may use for them: the
// short alias, the long name and the few extra aliases.
struct CategoryName {
    std::u32string_view name;
    CategoryMask mask;
};
constexpr CategoryName kCategoryNames[] = {
    {U"L", kLetter},
    {U"Letter", kLetter},
    {U"LC", bit(Lu) | bit(Ll) | bit(Lt)},
    {U"Cased_Letter", bit(Lu) | bit(Ll) | bit(Lt)},
    {U"Lu", bit(Lu)},
    {U"Uppercase_Letter", bit(Lu)},
    {U"Ll", bit(Ll)},
    {U"Lowercase_Letter", bit(Ll)},
    {U"Lt", bit(Lt)},
    {U"Titlecase_Letter", bit(Lt)},
    {U"Lm", bit(Lm)},
    {U"Modifier_Letter", bit(Lm)},
    {U"Lo", bit(Lo)},
    {U"Other_Letter", bit(Lo)},
    {U"M", kMark},
    {U"Mark", kMark},
    {U"Combining_Mark", kMark},
    {U"Mn", bit(Mn)},
    {U"Nonspacing_Mark", bit(Mn)},
    {U"Mc", bit(Mc)},
    {U"Spacing_Mark", bit(Mc)},
    {U"Me", bit(Me)},
    {U"Enclosing_Mark", bit(Me)},
    {U"N", kNumber},
    {U"Number", kNumber},
    {U"Nd", bit(Nd)},
    {U"Decimal_Number", bit(Nd)},
    {U"digit", bit(Nd)},
    {U"Nl", bit(Nl)},
    {U"Letter_Number", bit(Nl)},
    {U"No", bit(No)},
    {U"Other_Number", bit(No)},
    {U"P", kPunctuation},
    {U"Punctuation", kPunctuation},
    {U"punct", kPunctuation},
    {U"Pc", bit(Pc)},
    {U"Connector_Punctuation", bit(Pc)},
    {U"Pd", bit(Pd)},
    {U"Dash_Punctuation", bit(Pd)},
    {U"Ps", bit(Ps)},
    {U"Open_Punctuation", bit(Ps)},
    {U"Pe", bit(Pe)},
    {U"Close_Punctuation", bit(Pe)},
    {U"Pi", bit(Pi)},
    {U"Initial_Punctuation", bit(Pi)},
    {U"Pf", bit(Pf)},
    {U"Final_Punctuation", bit(Pf)},
    {U"Po", bit(Po)},
    {U"Other_Punctuation", bit(Po)},
    {U"S", kSymbol},
    {U"Symbol", kSymbol},
    {U"Sm", bit(Sm)},
    {U"Math_Symbol", bit(Sm)},
    {U"Sc", bit(Sc)},
    {U"Currency_Symbol", bit(Sc)},
    {U"Sk", bit(Sk)},
    {U"Modifier_Symbol", bit(Sk)},
    {U"So", bit(So)},
    {U"Other_Symbol", bit(So)},
    {U"Z", kSeparator},
    {U"Separator", kSeparator},
    {U"Zs", bit(Zs)},
    {U"Space_Separator", bit(Zs)},
    {U"Zl", bit(Zl)},
    {U"Line_Separator", bit(Zl)},
    {U"Zp", bit(Zp)},
    {U"Paragraph_Separator", bit(Zp)},
    {U"C", kOther},
    {U"Other", kOther},
    {U"Cc", bit(Cc)},
    {U"Control", bit(Cc)},
    {U"cntrl", bit(Cc)},
    {U"Cf", bit(Cf)},
    {U"Format", bit(Cf)},
    {U"Cs", bit(Cs)},
    {U"Surrogate", bit(Cs)},
    {U"Co", bit(Co)},
    {U"Private_Use", bit(Co)},
    {U"Cn", bit(Cn)},
    {U"Unassigned", bit(Cn)},
};

std::optional<CategoryMask> category_named(std::u32string_view name) {
    for (const CategoryName& c : kCategoryNames)
        if (c.name == name) return c.mask;
    return std::nullopt;
}

bool is_syntax_char(char32_t c) {
    return std::u32string_view(U"^$\\.*+?()[]{}|").find(c) != std::u32string_view::npos;
}

bool is_digit(char32_t c) {
    return c >= '0' && c <= '9';
}

int hex_value(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

bool is_ascii_letter(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Code points of group names: letters and letter numbers may start one;
// marks, decimal digits and connector punctuation may follow ($ and _
// anywhere, and the two joiners after the start).
bool is_name_start(char32_t c) {
    static const CodeSet start = category_set(kLetter | bit(Nl));
    return c == '$' || c == '_' || start.contains(c);
}
bool is_name_part(char32_t c) {
    static const CodeSet part =
        category_set(kLetter | bit(Nl) | bit(Mn) | bit(Mc) | bit(Nd) | bit(Pc));
    return c == '$' || c == 0x200C || c == 0x200D || part.contains(c);
}

// The payload of an atom or class escape: one code point, or a set.
struct ClassAtom {
    bool is_set = false;
    char32_t c = 0;
    CodeSet set;
};

class Parser {
  public:
    explicit Parser(std::u32string src) : src_(std::move(src)) {}

    Result<Ast> run() {
        std::uint32_t root = disjunction();
        if (!error_ && pos_ < src_.size()) fail_at(pos_, "unmatched ')'");
        if (!error_) resolve_references();
        if (error_) return fail(std::move(*error_));
        ast_.root = root;
        ast_.group_count = static_cast<std::uint32_t>(names_.size());
        return std::move(ast_);
    }

  private:
    struct PendingReference {
        std::uint32_t node;
        std::size_t offset;
        std::uint32_t number;  // \N
        std::u32string name;   // \k<name>, when number is 0
    };

    std::u32string src_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    Ast ast_;
    std::vector<std::u32string> names_;  // per capturing group, empty when unnamed
    std::vector<PendingReference> references_;
    std::optional<Error> error_;

    bool at_end() const { return pos_ >= src_.size(); }
    char32_t peek(std::size_t ahead = 0) const {
        return pos_ + ahead < src_.size() ? src_[pos_ + ahead] : char32_t{0xFFFFFFFF};
    }

    std::uint32_t fail_at(std::size_t offset, std::string what) {
        if (!error_)
            error_ = Error::argument(std::move(what) + " at offset " + std::to_string(offset));
        return 0;
    }

    std::uint32_t add(Node node) {
        ast_.nodes.push_back(std::move(node));
        return static_cast<std::uint32_t>(ast_.nodes.size() - 1);
    }
    std::uint32_t add(NodeKind kind) {
        Node n;
        n.kind = kind;
        return add(std::move(n));
    }
    std::uint32_t add_set(CodeSet set) {
        Node n;
        n.kind = NodeKind::Set;
        n.set = std::move(set);
        return add(std::move(n));
    }

    std::uint32_t disjunction() {
        std::vector<std::uint32_t> alternatives{alternative()};
        while (!error_ && peek() == '|') {
            ++pos_;
            alternatives.push_back(alternative());
        }
        if (error_) return 0;
        if (alternatives.size() == 1) return alternatives[0];
        Node n;
        n.kind = NodeKind::Alternation;
        n.kids = std::move(alternatives);
        return add(std::move(n));
    }

    std::uint32_t alternative() {
        std::vector<std::uint32_t> terms;
        while (!error_ && !at_end() && peek() != '|' && peek() != ')') terms.push_back(term());
        if (error_) return 0;
        if (terms.empty()) return add(NodeKind::Empty);
        if (terms.size() == 1) return terms[0];
        Node n;
        n.kind = NodeKind::Concat;
        n.kids = std::move(terms);
        return add(std::move(n));
    }

    // An assertion may not be repeated: a quantifier right after one is an error.
    std::uint32_t assertion(NodeKind kind, std::size_t width) {
        pos_ += width;
        std::uint32_t node = add(kind);
        refuse_quantifier();
        return node;
    }

    void refuse_quantifier() {
        char32_t c = peek();
        if (c == '*' || c == '+' || c == '?') {
            fail_at(pos_, "nothing to repeat");
        } else if (c == '{') {
            std::uint32_t lo = 0, hi = 0;
            std::size_t save = pos_;
            if (brace_quantifier(lo, hi)) fail_at(save, "nothing to repeat");
            pos_ = save;
            if (!error_) fail_at(pos_, "'{' must be escaped as '\\{'");
        }
    }

    std::uint32_t term() {
        std::size_t start = pos_;
        char32_t c = peek();
        switch (c) {
            case '^':
                return assertion(NodeKind::LineStart, 1);
            case '$':
                return assertion(NodeKind::LineEnd, 1);
            case '\\':
                if (peek(1) == 'b') return assertion(NodeKind::WordBoundary, 2);
                if (peek(1) == 'B') return assertion(NodeKind::NotWordBoundary, 2);
                break;
            case '(':
                if (peek(1) == '?' && (peek(2) == '=' || peek(2) == '!' ||
                                       (peek(2) == '<' && (peek(3) == '=' || peek(3) == '!')))) {
                    return lookaround();
                }
                break;
            case '*':
            case '+':
            case '?':
                return fail_at(start, "nothing to repeat");
            case '{': {
                std::uint32_t lo = 0, hi = 0;
                if (brace_quantifier(lo, hi)) return fail_at(start, "nothing to repeat");
                return fail_at(start, "'{' must be escaped as '\\{'");
            }
            case '}':
                return fail_at(start, "'}' must be escaped as '\\}'");
            case ']':
                return fail_at(start, "']' must be escaped as '\\]'");
            default:
                break;
        }
        std::uint32_t atom_node = atom();
        if (error_) return 0;
        return quantified(atom_node);
    }

    // Reads {n}, {n,} or {n,m} at pos_ into lo and hi (kUnbounded for no
    // upper bound), moving past it; false, with pos_ left anywhere, when the
    // text there is not of that form. Larger counts than any program could
    // hold saturate.
    bool brace_quantifier(std::uint32_t& lo, std::uint32_t& hi) {
        if (peek() != '{') return false;
        ++pos_;
        auto number = [&](std::uint32_t& out) {
            if (!is_digit(peek())) return false;
            std::uint64_t v = 0;
            while (is_digit(peek())) {
                v = std::min<std::uint64_t>(v * 10 + (peek() - '0'), kUnbounded - 1);
                ++pos_;
            }
            out = static_cast<std::uint32_t>(v);
            return true;
        };
        if (!number(lo)) return false;
        hi = lo;
        if (peek() == ',') {
            ++pos_;
            hi = kUnbounded;
            if (is_digit(peek())) number(hi);
        }
        if (peek() != '}') return false;
        ++pos_;
        return true;
    }

    std::uint32_t quantified(std::uint32_t atom_node) {
        std::size_t start = pos_;
        std::uint32_t lo = 0, hi = 0;
        char32_t c = peek();
        if (c == '*') {
            lo = 0, hi = kUnbounded, ++pos_;
        } else if (c == '+') {
            lo = 1, hi = kUnbounded, ++pos_;
        } else if (c == '?') {
            lo = 0, hi = 1, ++pos_;
        } else if (c == '{') {
            if (!brace_quantifier(lo, hi)) return fail_at(start, "'{' must be escaped as '\\{'");
            if (lo > hi) return fail_at(start, "numbers out of order in quantifier");
        } else {
            return atom_node;
        }
        Node n;
        n.kind = NodeKind::Repeat;
        n.kids = {atom_node};
        n.min = lo;
        n.max = hi;
        if (peek() == '?') {
            n.greedy = false;
            ++pos_;
        }
        return add(std::move(n));
    }

    bool enter(std::size_t offset) {
        if (++depth_ > kMaxNesting) {
            fail_at(offset, "pattern nests too deeply (more than " + std::to_string(kMaxNesting) +
                                " levels of groups)");
            return false;
        }
        return true;
    }

    // The body of a group, on a fresh stack segment when this thread's stack
    // runs low.
    std::uint32_t nested_disjunction() {
        std::uint32_t body = ensure_stack([&] { return disjunction(); });
        if (stack_exhausted() && !error_) error_ = stack_exhausted_error();
        return body;
    }

    void close_group(std::size_t open) {
        --depth_;
        if (error_) return;
        if (at_end()) {
            fail_at(open, "unterminated group");
            return;
        }
        ++pos_;  // ')'
    }

    std::uint32_t lookaround() {
        std::size_t open = pos_;
        if (!enter(open)) return 0;
        Node n;
        n.kind = NodeKind::Look;
        n.behind = peek(2) == '<';
        n.negated = peek(n.behind ? 3 : 2) == '!';
        pos_ += n.behind ? 4 : 3;
        n.groups_begin = static_cast<std::uint32_t>(names_.size()) + 1;
        std::uint32_t body = nested_disjunction();
        n.groups_end = static_cast<std::uint32_t>(names_.size()) + 1;
        close_group(open);
        if (error_) return 0;
        n.kids = {body};
        std::uint32_t node = add(std::move(n));
        refuse_quantifier();
        return node;
    }

    std::uint32_t group() {
        std::size_t open = pos_;
        if (!enter(open)) return 0;
        Node n;
        n.kind = NodeKind::Group;
        ++pos_;
        if (peek() == '?') {
            if (peek(1) == ':') {
                pos_ += 2;
            } else if (peek(1) == '<') {
                pos_ += 2;
                std::u32string name;
                if (!group_name(name)) return 0;
                for (const std::u32string& other : names_)
                    if (other == name) return fail_at(open, "duplicate group name");
                names_.push_back(std::move(name));
                n.group = static_cast<std::uint32_t>(names_.size());
            } else {
                return fail_at(open,
                               "invalid group: '(?' must be followed by ':', '=', '!', '<=', '<!' "
                               "or '<name>'");
            }
        } else {
            names_.emplace_back();
            n.group = static_cast<std::uint32_t>(names_.size());
        }
        n.groups_begin = n.group ? n.group : static_cast<std::uint32_t>(names_.size()) + 1;
        std::uint32_t body = nested_disjunction();
        n.groups_end = static_cast<std::uint32_t>(names_.size()) + 1;
        close_group(open);
        if (error_) return 0;
        n.kids = {body};
        return add(std::move(n));
    }

    // After '<': the name up to '>', which is consumed.
    bool group_name(std::u32string& name) {
        std::size_t start = pos_;
        while (!at_end() && peek() != '>') {
            char32_t c = peek();
            std::size_t at = pos_;
            if (c == '\\') {
                ++pos_;
                if (peek() != 'u' || !character_escape(c)) {
                    if (!error_) fail_at(at, "invalid escape in group name");
                    return false;
                }
            } else {
                ++pos_;
            }
            if (!(name.empty() ? is_name_start(c) : is_name_part(c))) {
                fail_at(at, "invalid character in group name");
                return false;
            }
            name.push_back(c);
        }
        if (at_end()) {
            fail_at(start - 1, "unterminated group name");
            return false;
        }
        if (name.empty()) {
            fail_at(start - 1, "empty group name");
            return false;
        }
        ++pos_;  // '>'
        return true;
    }

    std::uint32_t atom() {
        std::size_t start = pos_;
        char32_t c = peek();
        if (c == '(') return group();
        if (c == '[') return char_class();
        if (c == '.') {
            ++pos_;
            return add_set(dot_set());
        }
        if (c == '\\') return atom_escape();
        if (c == ')') return fail_at(start, "unmatched ')'");
        ++pos_;
        CodeSet one;
        one.add(c);
        return add_set(std::move(one));
    }

    std::uint32_t atom_escape() {
        std::size_t start = pos_;
        ++pos_;  // '\'
        if (at_end()) return fail_at(start, "'\\' at end of pattern");
        char32_t c = peek();
        if (c >= '1' && c <= '9') {
            std::uint64_t v = 0;
            while (is_digit(peek())) {
                v = std::min<std::uint64_t>(v * 10 + (peek() - '0'), kUnbounded);
                ++pos_;
            }
            std::uint32_t node = add(NodeKind::BackReference);
            references_.push_back({node, start, static_cast<std::uint32_t>(v), {}});
            ast_.has_back_references = true;
            return node;
        }
        if (c == 'k') {
            ++pos_;
            if (peek() != '<') return fail_at(start, "'\\k' must be followed by '<name>'");
            ++pos_;
            std::u32string name;
            if (!group_name(name)) return 0;
            std::uint32_t node = add(NodeKind::BackReference);
            references_.push_back({node, start, 0, std::move(name)});
            ast_.has_back_references = true;
            return node;
        }
        ClassAtom a;
        if (!class_escape(start, a, false)) return 0;
        if (a.is_set) return add_set(std::move(a.set));
        CodeSet one;
        one.add(a.c);
        return add_set(std::move(one));
    }

    // After the '\' of an escape that stands for characters (outside a class
    // or inside one): a set for \d \D \w \W \s \S \p \P, else one code point.
    bool class_escape(std::size_t start, ClassAtom& out, bool in_class) {
        char32_t c = peek();
        switch (c) {
            case 'd':
            case 'D':
            case 'w':
            case 'W':
            case 's':
            case 'S': {
                ++pos_;
                CodeSet set = c == 'd' || c == 'D'   ? digit_set()
                              : c == 'w' || c == 'W' ? word_set()
                                                     : space_set();
                out.is_set = true;
                out.set = c >= 'a' ? std::move(set) : set.complement();
                return true;
            }
            case 'p':
            case 'P': {
                ++pos_;
                CodeSet set;
                if (!property(start, set)) return false;
                out.is_set = true;
                out.set = c == 'p' ? std::move(set) : set.complement();
                return true;
            }
            case '0':
                if (is_digit(peek(1))) {
                    fail_at(start, "invalid escape: '\\0' may not be followed by a digit");
                    return false;
                }
                ++pos_;
                out.c = 0;
                return true;
            case 'b':
                if (in_class) {
                    ++pos_;
                    out.c = 0x08;
                    return true;
                }
                break;
            case '-':
                if (in_class) {
                    ++pos_;
                    out.c = '-';
                    return true;
                }
                break;
            default:
                break;
        }
        if (in_class && is_digit(c)) {
            fail_at(start, "invalid escape in character class");
            return false;
        }
        return character_escape(out.c) || (fail_at(start, describe_bad_escape(c)), false);
    }

    std::string describe_bad_escape(char32_t c) const {
        if (c == 'c') return "'\\c' must be followed by a letter";
        if (c == 'x') return "'\\x' must be followed by two hexadecimal digits";
        if (c == 'u') return "invalid '\\u' escape";
        std::string shown;
        if (c >= 0x20 && c < 0x7F) {
            shown = "'\\";
            shown += static_cast<char>(c);
            shown += "'";
        } else {
            shown = "escape";
        }
        return "invalid escape " + shown;
    }

    // The character escapes proper (after the '\'): control letters, \cX,
    // \xHH, the \u forms and the escaped syntax characters. False, with pos_
    // unchanged past the escape letter, when the text is none of them.
    bool character_escape(char32_t& out) {
        char32_t c = peek();
        switch (c) {
            case 'f':
                out = 0x0C;
                break;
            case 'n':
                out = 0x0A;
                break;
            case 'r':
                out = 0x0D;
                break;
            case 't':
                out = 0x09;
                break;
            case 'v':
                out = 0x0B;
                break;
            case 'c':
                if (!is_ascii_letter(peek(1))) return false;
                out = peek(1) % 32;
                pos_ += 2;
                return true;
            case 'x': {
                int h1 = hex_value(peek(1)), h2 = hex_value(peek(2));
                if (h1 < 0 || h2 < 0) return false;
                out = static_cast<char32_t>(h1 * 16 + h2);
                pos_ += 3;
                return true;
            }
            case 'u':
                return unicode_escape(out);
            default:
                if (c == 0xFFFFFFFF || !(is_syntax_char(c) || c == '/')) return false;
                out = c;
                break;
        }
        ++pos_;
        return true;
    }

    bool four_hex(std::size_t at, char32_t& out) const {
        char32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            int h = at + k < src_.size() ? hex_value(src_[at + k]) : -1;
            if (h < 0) return false;
            v = v * 16 + static_cast<char32_t>(h);
        }
        out = v;
        return true;
    }

    // \u{X...}, \uXXXX, and a pair \uXXXX\uXXXX of a lead and a trail
    // surrogate, which stands for the one code point they encode.
    bool unicode_escape(char32_t& out) {
        if (peek(1) == '{') {
            std::size_t at = pos_ + 2;
            char32_t v = 0;
            bool any = false;
            while (at < src_.size() && hex_value(src_[at]) >= 0) {
                v = v * 16 + static_cast<char32_t>(hex_value(src_[at]));
                if (v > kMaxCodePoint) return false;
                any = true;
                ++at;
            }
            if (!any || at >= src_.size() || src_[at] != '}') return false;
            out = v;
            pos_ = at + 1;
            return true;
        }
        char32_t v = 0;
        if (!four_hex(pos_ + 1, v)) return false;
        pos_ += 5;
        char32_t trail = 0;
        if (v >= 0xD800 && v <= 0xDBFF && peek() == '\\' && peek(1) == 'u' &&
            four_hex(pos_ + 2, trail) && trail >= 0xDC00 && trail <= 0xDFFF) {
            v = 0x10000 + ((v - 0xD800) << 10) + (trail - 0xDC00);
            pos_ += 6;
        }
        out = v;
        return true;
    }

    // After 'p' or 'P': {Name}, {Name=Value}. General_Category values by any
    // of their names, plus the binary properties Any, ASCII and Assigned.
    bool property(std::size_t start, CodeSet& out) {
        if (peek() != '{') {
            fail_at(start, "'\\p' and '\\P' must be followed by '{property}'");
            return false;
        }
        ++pos_;
        std::u32string name, value;
        bool has_value = false;
        while (!at_end() && peek() != '}') {
            char32_t c = peek();
            if (c == '=' && !has_value) {
                has_value = true;
            } else if (is_ascii_letter(c) || is_digit(c) || c == '_') {
                (has_value ? value : name).push_back(c);
            } else {
                fail_at(pos_, "invalid character in Unicode property name");
                return false;
            }
            ++pos_;
        }
        if (at_end()) {
            fail_at(start, "unterminated Unicode property escape");
            return false;
        }
        ++pos_;  // '}'
        if (has_value) {
            if (name == U"General_Category" || name == U"gc") {
                if (auto mask = category_named(value)) {
                    out = category_set(*mask);
                    return true;
                }
                fail_at(start, "unknown General_Category value");
                return false;
            }
            if (name == U"Script" || name == U"sc" || name == U"Script_Extensions" ||
                name == U"scx") {
                fail_at(start, "Unicode script properties are not supported");
                return false;
            }
            fail_at(start, "unknown Unicode property");
            return false;
        }
        if (auto mask = category_named(name)) {
            out = category_set(*mask);
            return true;
        }
        if (name == U"Any") {
            out.add(0, kMaxCodePoint);
            return true;
        }
        if (name == U"ASCII") {
            out.add(0, 0x7F);
            return true;
        }
        if (name == U"Assigned") {
            out = category_set(bit(Cn)).complement();
            return true;
        }
        fail_at(start, "unknown or unsupported Unicode property");
        return false;
    }

    std::uint32_t char_class() {
        std::size_t open = pos_;
        ++pos_;  // '['
        bool negated = peek() == '^';
        if (negated) ++pos_;
        CodeSet set;
        for (;;) {
            if (at_end()) return fail_at(open, "unterminated character class");
            if (peek() == ']') {
                ++pos_;
                break;
            }
            std::size_t first_at = pos_;
            ClassAtom first;
            if (!class_atom(first)) return 0;
            if (peek() == '-' && pos_ + 1 < src_.size() && peek(1) != ']') {
                ++pos_;
                ClassAtom last;
                if (!class_atom(last)) return 0;
                if (first.is_set || last.is_set)
                    return fail_at(first_at, "a class escape cannot bound a range");
                if (first.c > last.c)
                    return fail_at(first_at, "range out of order in character class");
                set.add(first.c, last.c);
            } else if (first.is_set) {
                set.add(first.set);
            } else {
                set.add(first.c);
            }
        }
        set.normalize();
        return add_set(negated ? set.complement() : std::move(set));
    }

    bool class_atom(ClassAtom& out) {
        if (peek() != '\\') {
            out.c = peek();
            ++pos_;
            return true;
        }
        std::size_t start = pos_;
        ++pos_;
        if (at_end()) {
            fail_at(start, "'\\' at end of pattern");
            return false;
        }
        return class_escape(start, out, true);
    }

    void resolve_references() {
        for (const PendingReference& r : references_) {
            std::uint32_t target = 0;
            if (r.number == 0) {
                for (std::size_t i = 0; i < names_.size(); ++i)
                    if (names_[i] == r.name) target = static_cast<std::uint32_t>(i + 1);
                if (target == 0) {
                    fail_at(r.offset, "back reference to an undefined group name");
                    return;
                }
            } else {
                if (r.number > names_.size()) {
                    fail_at(r.offset, "back reference to group " + std::to_string(r.number) +
                                          ", but the pattern has " + std::to_string(names_.size()) +
                                          " group(s)");
                    return;
                }
                target = r.number;
            }
            ast_.nodes[r.node].group = target;
        }
    }
};

}  // namespace

CodeSet digit_set() {
    CodeSet s;
    s.add('0', '9');
    return s;
}

CodeSet word_set() {
    CodeSet s;
    s.add('0', '9');
    s.add('A', 'Z');
    s.add('_');
    s.add('a', 'z');
    return s;
}

CodeSet space_set() {
    CodeSet s = category_set(bit(Zs));
    for (char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0xA0, 0xFEFF, 0x2028, 0x2029}) s.add(c);
    s.normalize();
    return s;
}

CodeSet dot_set() {
    CodeSet s;
    s.add(0x0A);
    s.add(0x0D);
    s.add(0x2028, 0x2029);
    return s.complement();
}

bool is_word_char(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

Result<Ast> parse_pattern(std::string_view pattern) {
    std::u32string src;
    src.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size();) {
        char32_t c = 0;
        std::size_t len = decode_strict(pattern, i, c);
        if (len == 0)
            return fail(Error::argument("pattern is not valid UTF-8 at byte " + std::to_string(i)));
        src.push_back(c);
        i += len;
    }
    return Parser(std::move(src)).run();
}

}  // namespace quarvel::ecma_regex_detail
