// Decimal digits for integers too large for 64 bits, whichever of the
// resolvers' integer forms they were written in.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "resolver/resolver.hpp"
#include "resolver/syntax.hpp"

namespace quarvel {
namespace {

// Changing the base costs time quadratic in the length, so a number written
// in another base than 10 is converted only up to this many characters.
constexpr std::size_t kMaxConvertedText = 4096;

// An unsigned number in limbs of 10^9, least significant first; zero has no limbs.
class DecimalNumber {
  public:
    void multiply_add(std::uint32_t factor, std::uint32_t addend) {
        std::uint64_t carry = addend;
        for (std::uint32_t& limb : limbs_) {
            std::uint64_t v = std::uint64_t{limb} * factor + carry;
            limb = static_cast<std::uint32_t>(v % kLimb);
            carry = v / kLimb;
        }
        for (; carry != 0; carry /= kLimb) {
            limbs_.push_back(static_cast<std::uint32_t>(carry % kLimb));
        }
    }

    bool is_zero() const { return limbs_.empty(); }

    void append_to(std::string& out) const {
        if (limbs_.empty()) {
            out.push_back('0');
            return;
        }
        out.append(std::to_string(limbs_.back()));
        char buf[16];
        for (auto it = limbs_.rbegin() + 1; it != limbs_.rend(); ++it) {
            std::snprintf(buf, sizeof buf, "%09u", static_cast<unsigned>(*it));
            out.append(buf, 9);
        }
    }

  private:
    static constexpr std::uint64_t kLimb = 1'000'000'000;
    std::vector<std::uint32_t> limbs_;
};

}  // namespace

std::string big_int_digits(std::string_view text) {
    using resolver_detail::digit_value;
    using resolver_detail::is_sign;
    std::string out;
    bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && is_sign(text[0])) text.remove_prefix(1);

    unsigned base = 10;
    if (text.starts_with("0x")) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.starts_with("0b")) {
        base = 2;
        text.remove_prefix(2);
    } else if (text.starts_with("0")) {
        base = 8;
    } else if (text.find(':') == std::string_view::npos) {
        // Decimal already: only the sign and the underscores change.
        if (negative) out.push_back('-');
        for (char c : text) {
            if (c != '_') out.push_back(c);
        }
        return out;
    }
    if (text.size() > kMaxConvertedText) return out;

    DecimalNumber n;
    unsigned part = 0;  // the base 60 part being read
    for (char c : text) {
        if (c == '_') continue;
        if (c == ':') {
            // Base 60: the number so far is the first part (read in base 10)
            // or the previous parts; each later part is one or two digits.
            if (base == 60) n.multiply_add(60, part);
            base = 60;
            part = 0;
        } else if (base == 60) {
            part = part * 10 + digit_value(c);
        } else {
            n.multiply_add(base, digit_value(c));
        }
    }
    if (base == 60) n.multiply_add(60, part);
    if (negative && !n.is_zero()) out.push_back('-');
    n.append_to(out);
    return out;
}

}  // namespace quarvel
