#include "parser/parser.hpp"

namespace quarvel::grammar {
namespace {

const char* describe(TokenKind k) {
    switch (k) {
        case TokenKind::StreamStart:
            return "stream start";
        case TokenKind::StreamEnd:
            return "end of input";
        case TokenKind::DocumentStart:
            return "'---'";
        case TokenKind::DocumentEnd:
            return "'...'";
        case TokenKind::Directive:
            return "directive";
        case TokenKind::BlockMappingStart:
            return "block mapping";
        case TokenKind::BlockSequenceStart:
            return "block sequence";
        case TokenKind::BlockEnd:
            return "end of block collection";
        case TokenKind::BlockEntry:
            return "'-'";
        case TokenKind::FlowMappingStart:
            return "'{'";
        case TokenKind::FlowMappingEnd:
            return "'}'";
        case TokenKind::FlowSequenceStart:
            return "'['";
        case TokenKind::FlowSequenceEnd:
            return "']'";
        case TokenKind::FlowEntry:
            return "','";
        case TokenKind::Key:
            return "'?'";
        case TokenKind::Value:
            return "':'";
        case TokenKind::Anchor:
            return "anchor";
        case TokenKind::Alias:
            return "alias";
        case TokenKind::Tag:
            return "tag";
        case TokenKind::Scalar:
            return "scalar";
    }
    return "token";
}

}  // namespace

std::string unexpected(TokenKind k, const char* where) {
    return std::string("unexpected ") + describe(k) + " in " + where;
}

}  // namespace quarvel::grammar
