#include "syntax/included_root.hpp"

#include <memory>

namespace quarvel {

IncludedRoot take_own_root(YamlNode& root) {
    IncludedRoot own;
    own.span = root.span;
    own.end_offset = root.end_offset;
    own.end_line = root.end_line;
    own.end_column = root.end_column;
    own.explicit_start = root.explicit_start;
    own.anchor = root.anchor();
    if (root.comments.text) own.comments = std::move(root.comments.text);
    return own;
}

void restore_own_root(YamlNode& node, const IncludedRoot& own) {
    node.span = own.span;
    node.end_offset = own.end_offset;
    node.end_line = own.end_line;
    node.end_column = own.end_column;
    node.explicit_start = own.explicit_start;
    node.set_anchor(own.anchor);
    if (own.comments)
        node.comments.text = std::make_unique<CommentText>(*own.comments);
    else
        node.comments.text.reset();
}

}  // namespace quarvel
