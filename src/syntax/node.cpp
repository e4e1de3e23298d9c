#include "syntax/node.hpp"

#include "support/tear_down.hpp"

namespace quarvel {

YamlNode YamlNode::copy_shallow() const {
    YamlNode n;
    n.kind = kind;
    n.scalar_style = scalar_style;
    n.style = style;
    n.explicit_start = explicit_start;
    n.leading_bom = leading_bom;
    n.synthetic = synthetic;
    n.flow_pair = flow_pair;
    n.span = span;
    n.end_offset = end_offset;
    n.end_line = end_line;
    n.end_column = end_column;
    n.text = text;
    if (properties_ && !properties_->empty())
        n.properties_ = std::make_unique<NodeProperties>(*properties_);
    n.comments.blank_before = comments.blank_before;
    n.comments.value_pad = comments.value_pad;
    n.comments.compact = comments.compact;
    n.comments.modified = comments.modified;
    if (comments.text) n.comments.text = std::make_unique<CommentText>(*comments.text);
    return n;
}

void YamlNode::destroy_children() noexcept {
    free_children(children);
}

}  // namespace quarvel
