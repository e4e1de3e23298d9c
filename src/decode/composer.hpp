// Builds YamlValue documents from the complete token list of a text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/anchors.hpp"
#include "decode/decoder.hpp"
#include "support/seeded_hash.hpp"
#include "parser/tag_expansion.hpp"
#include "scanner/token.hpp"
#include "scanner/token_stream.hpp"

namespace quarvel {

class Composer {
public:
    // `tokens` starts with StreamStart and ends with StreamEnd. Owned texts
    // (expanded tags) go into `arena`, warnings are appended to `warnings`.
    Composer(TokenStream& tokens, const DecodeOptions& options, Arena& arena,
             Warnings& warnings);

    Status compose_stream(std::vector<YamlValue>& documents);

private:
    // Where a node stands; decides which block tokens may start it.
    enum class Slot : std::uint8_t {
        Block,       // document root, block sequence item
        BlockValue,  // value in a block mapping: an indentless sequence may start here
        BlockKey,    // key in a block mapping: block collections are refused
        Flow,
    };

    struct Props {
        std::string_view anchor;
        std::string_view tag;
        bool has_anchor = false;
        bool has_tag = false;
    };

    // Duplicate-key bookkeeping of one mapping, active only with a policy.
    struct KeyCheck {
        SeededStringSet seen;
        std::string scratch;
    };

    const Token& cur() { return tokens_.at(pos_); }
    TokenKind kind() { return tokens_.at(pos_).kind; }
    // Stays on StreamEnd. References to tokens do not survive advance():
    // consumed tokens are given back to the stream now and then.
    void advance() {
        if (cur().kind == TokenKind::StreamEnd) return;
        ++pos_;
        if ((pos_ & 1023) == 0) tokens_.release_before(pos_);
    }
    bool fail(std::string message, const Mark& mark, int kind = syntax_kind::parse);

    bool read_directives(bool allowed);
    bool compose_document(std::vector<YamlValue>& documents);

    bool starts_node(TokenKind k, Slot slot) const;
    bool read_property(Props& props);
    int take_key_indicator(YamlValue& key, Mark& key_mark, Slot slot);
    bool node(Slot slot, YamlValue& out, Mark& mark) { return node(slot, out, mark, Props()); }
    bool node(Slot slot, YamlValue& out, Mark& mark, const Props& pre);
    bool node_or_null(Slot slot, YamlValue& out, Mark& mark);
    bool content(Slot slot, const Props& props, YamlValue& out);
    bool alias(YamlValue& out);
    YamlValue scalar(std::string_view text, bool plain, const Props& props, const Mark& mark);

    bool block_sequence(YamlValue& out);
    bool indentless_sequence(YamlValue& out);
    bool block_entry();
    bool block_mapping(YamlValue& out);
    bool flow_sequence(YamlValue& out);
    bool flow_sequence_entry();
    bool flow_mapping(YamlValue& out);

    bool check_complex_key(const YamlValue& key, const Mark& mark);
    bool add_pair(YamlValue&& key, const Mark& key_mark, YamlValue&& value, KeyCheck* check);
    void collect(std::size_t base, ValueKind kind, YamlValue& out);

    TokenStream& tokens_;
    const DecodeOptions& options_;
    Arena& arena_;
    Warnings& warnings_;
    std::size_t pos_ = 0;
    std::uint32_t depth_ = 0;
    std::uint64_t expanded_ = 0;  // alias nodes copied so far, for the whole call
    bool check_duplicates_ = false;
    bool saw_merge_ = false;  // the current document holds a merge placeholder
    AnchorTable anchors_;
    TagHandles handles_;
    // Children of the collections being composed, innermost last; each
    // collection moves its range into an exactly sized vector when it ends.
    std::vector<YamlValue> scratch_;
    std::optional<Error> error_;
};

}  // namespace quarvel
