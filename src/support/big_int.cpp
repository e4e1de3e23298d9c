// Decimal digits for integers too large for 64 bits, whichever of the
// resolvers' integer forms they were written in.
#include "support/big_int.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quarvel {
namespace {

// The value of a hexadecimal digit (the texts hold no other characters).
unsigned digit_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    return static_cast<unsigned>(c - 'A' + 10);
}

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

BigIntForm big_int_form(std::string_view text) {
    BigIntForm form;
    form.negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
    if (text.starts_with("0x")) {
        form.base = 16;
        text.remove_prefix(2);
    } else if (text.starts_with("0b")) {
        form.base = 2;
        text.remove_prefix(2);
    } else if (text.starts_with("0")) {
        form.base = 8;
    } else if (text.find(':') != std::string_view::npos) {
        form.base = 60;
    }
    form.body = text;
    return form;
}

std::string significant_digits(const BigIntForm& form) {
    std::string out;
    out.reserve(form.body.size());
    for (char c : form.body) {
        if (c == '_' || (c == '0' && out.empty())) continue;
        out.push_back(c);
    }
    return out;
}

double big_int_log2(const BigIntForm& form, bool upper) {
    constexpr double kLog2Of10 = 3.321928094887362;
    constexpr double kLog2Of60 = 5.906890595608519;
    if (form.base == 60) {
        // The first part is decimal, each later part one more base 60 digit.
        const std::string_view head = form.body.substr(0, form.body.find(':'));
        BigIntForm first{false, 10, head};
        double parts = 0;
        for (char c : form.body) parts += c == ':' ? 1 : 0;
        return big_int_log2(first, upper) + parts * kLog2Of60 + (upper ? 1 : 0);
    }
    std::size_t digits = 0;
    unsigned lead = 0;
    for (char c : form.body) {
        if (c == '_' || (c == '0' && digits == 0)) continue;
        if (digits++ == 0) lead = digit_value(c);
    }
    if (digits == 0) return upper ? 0 : -1;  // zero
    if (form.base == 10) return (upper ? static_cast<double>(digits) : digits - 1.0) * kLog2Of10;
    const double bits_per_digit = form.base == 16 ? 4 : form.base == 8 ? 3 : 1;
    // Exact for powers of two: the lead digit's bits, then whole digits.
    const double lead_bits = std::floor(std::log2(static_cast<double>(lead)));
    return (digits - 1.0) * bits_per_digit + lead_bits + (upper ? 1 : 0);
}

std::string big_int_digits(std::string_view text, std::size_t max_converted) {
    const BigIntForm form = big_int_form(text);
    std::string out;
    if (form.base == 10) {
        // Decimal already: only the sign and the underscores change.
        if (form.negative) out.push_back('-');
        for (char c : form.body) {
            if (c != '_') out.push_back(c);
        }
        return out;
    }
    if (form.body.size() > max_converted) return out;

    DecimalNumber n;
    unsigned base = form.base == 60 ? 10 : form.base;
    unsigned part = 0;  // the base 60 part being read
    for (char c : form.body) {
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
    if (form.negative && !n.is_zero()) out.push_back('-');
    n.append_to(out);
    return out;
}

}  // namespace quarvel
