#include "scanner/token_stream.hpp"

#include <algorithm>

#include "scanner/scanner.hpp"

namespace quarvel {

TokenStream::TokenStream(std::string_view text, std::uint32_t file, bool keep_comments)
    : scanner_(std::make_unique<scan::Scanner>(text, keep_comments, file)),
      tokens_(&scanner_->tokens()),
      file_(file) {
    end_.kind = TokenKind::StreamEnd;
    scanner_->start();
    final_ = scanner_->final_count();
}

TokenStream::~TokenStream() = default;

Arena& TokenStream::arena() {
    return scanner_->arena();
}

bool TokenStream::leading_bom() const {
    return scanner_->leading_bom();
}

// One scanner step. False once the stream has ended or failed.
bool TokenStream::step() {
    if (error_ || scanner_->ended()) return false;
    if (auto st = scanner_->step(); !st) {
        error_ = std::move(st.error());
        end_.mark = scanner_->error_mark();
        end_.end_offset = end_.mark.offset;
        return false;
    }
    final_ = scanner_->final_count();
    return true;
}

const Token& TokenStream::fetch(std::size_t i) {
    while (i - base_ >= final_) {
        if (!step()) {
            // Only the final StreamEnd lies past the end of a finished stream.
            if (!error_ && final_ > 0) return (*tokens_)[final_ - 1];
            return end_;
        }
    }
    return (*tokens_)[i - base_];
}

void TokenStream::release_before(std::size_t i) {
    if (i <= base_) return;
    std::size_t n = std::min(i - base_, final_);
    if (n > 0 && !error_ && scanner_->ended() && n == final_) --n;  // keep StreamEnd
    // Dropping tokens moves the rest to the front of the buffer. A one-line
    // flow collection that might still be a key keeps every token after its
    // '[' pending; drop only when that frees at least as much as it moves, so
    // such a line costs linear time rather than quadratic.
    if (n * 2 < tokens_->size()) return;
    scanner_->discard(n);
    base_ += n;
    final_ -= n;
}

void TokenStream::drain() {
    while (step()) release_before(base_ + final_);
}

std::span<const Comment> TokenStream::comments() const {
    return scanner_->comments();
}

void TokenStream::take_comments_before(std::uint64_t offset, std::vector<Comment>& out) {
    auto& waiting = scanner_->comments();
    auto end = std::partition_point(waiting.begin(), waiting.end(),
                                    [offset](const Comment& c) { return c.offset < offset; });
    out.insert(out.end(), waiting.begin(), end);
    waiting.erase(waiting.begin(), end);
}

void TokenStream::take_comments(std::vector<Comment>& out) {
    auto& waiting = scanner_->comments();
    out.insert(out.end(), waiting.begin(), waiting.end());
    waiting.clear();
}

}  // namespace quarvel
