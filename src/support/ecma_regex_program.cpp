// Syntax tree to program. Each construct becomes a fixed shape of
// instructions (L: is a label, the code of x is written [x]):
//
//   x|y     Split L1, L2; L1: [x]; Jump L3; L2: [y]; L3:
//   x*      L1: Split L2, L3; L2: [x]; Jump L1; L3:         (lazy: Split L3, L2)
//   x{2,4}  [x] [x] Split L1, L2; L1: [x]; Split L3, L2; L3: [x]; L2:
//   (x)     Save 2n; [x]; Save 2n+1
//   (?=x)   Look k                    and, after Match, looks[k].body: [x]; LookEnd
//
// A loop whose body can match the empty string gets LoopMark/LoopCheck
// around the body: an iteration that consumed nothing fails, which both
// keeps a backtracking matcher from looping forever and is the rule the
// pattern language gives for such loops. The body of a lookbehind is
// compiled right to left: its sequences reversed and its reading
// instructions marked backward. Where the simulation runs the program (no
// back references), every lookaround body is compiled in the direction
// opposite to its own, since it is scanned from the far end of the text.
//
// Capture registers are written only when the pattern has back references;
// without them no instruction could read what they hold.
#include "support/ecma_regex_program.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "support/stack.hpp"

namespace quarvel::ecma_regex_detail {

namespace {

constexpr std::uint32_t kInfinite = UINT32_MAX;

class Compiler {
  public:
    explicit Compiler(const Ast& ast) : ast_(ast) {
        // Kids are made before their parents, so one pass in index order
        // sees every kid's facts first.
        const std::size_t n = ast.nodes.size();
        min_length_.assign(n, 0);
        silent_.assign(n, false);
        anchored_.assign(n, false);
        class_of_.assign(n, kInfinite);
        for (std::size_t i = 0; i < n; ++i) {
            const Node& node = ast.nodes[i];
            std::uint64_t len = 0;
            bool silent = false;
            switch (node.kind) {
                case NodeKind::Empty:
                    silent = true;
                    break;
                case NodeKind::Set:
                    len = 1;
                    break;
                case NodeKind::Concat:
                    silent = true;
                    for (std::uint32_t k : node.kids) {
                        len += min_length_[k];
                        silent = silent && silent_[k];
                    }
                    break;
                case NodeKind::Alternation:
                    len = kInfinite;
                    for (std::uint32_t k : node.kids)
                        len = std::min<std::uint64_t>(len, min_length_[k]);
                    break;
                case NodeKind::Repeat:
                    len = std::uint64_t{min_length_[node.kids[0]]} * node.min;
                    silent = node.max == 0 || silent_[node.kids[0]];
                    break;
                case NodeKind::Group:
                    len = min_length_[node.kids[0]];
                    silent = silent_[node.kids[0]] && (node.group == 0 || !ast.has_back_references);
                    break;
                default:
                    break;
            }
            min_length_[i] =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(len, kInfinite - 1));
            silent_[i] = silent;
        }
        program_.registers = 2 * (ast.group_count + 1);
        program_.backtracking = ast.has_back_references;
        look_of_.assign(n, kInfinite);
    }

    Result<EcmaRegex::Program> run() {
        node(ast_.root, false);
        emit({Op::Match});
        // Bodies of lookarounds, each once; compiling one may find more,
        // nested in it, which come later in the list.
        for (std::size_t i = 0; i < pending_looks_.size() && !error_; ++i) {
            const Node& n = ast_.nodes[pending_looks_[i]];
            LookInfo& info = program_.looks[i];
            info.body = here();
            info.negated = n.negated;
            info.backward = n.behind == program_.backtracking;
            if (ast_.has_back_references) {
                info.registers_begin = 2 * n.groups_begin;
                info.registers_end = 2 * n.groups_end;
            }
            node(n.kids[0], info.backward);
            emit({Op::LookEnd});
        }
        if (error_) return fail(std::move(*error_));
        program_.anchored = anchored_[ast_.root];
        return std::move(program_);
    }

  private:
    const Ast& ast_;
    EcmaRegex::Program program_;
    std::vector<std::uint32_t> min_length_;
    std::vector<bool> silent_;  // compiles to no instruction at all
    std::vector<bool> anchored_;
    std::vector<std::uint32_t> class_of_;
    std::vector<std::uint32_t> look_of_;        // per Look node: its index in looks
    std::vector<std::uint32_t> pending_looks_;  // per look index: its node
    std::optional<Error> error_;

    std::uint32_t here() const { return static_cast<std::uint32_t>(program_.code.size()); }

    std::uint32_t emit(Inst inst) {
        if (program_.code.size() >= kMaxProgram) {
            if (!error_)
                error_ = Error::argument("pattern is too large: it would compile to more than " +
                                         std::to_string(kMaxProgram) + " instructions");
            return 0;
        }
        program_.code.push_back(inst);
        return here() - 1;
    }

    std::uint32_t class_index(std::uint32_t id) {
        if (class_of_[id] != kInfinite) return class_of_[id];
        Class cls;
        for (const CodeSet::Range& r : ast_.nodes[id].set.ranges()) {
            for (char32_t c = r.first; c <= r.last && c < 128; ++c)
                cls.ascii[c >> 6] |= std::uint64_t{1} << (c & 63);
            if (r.last >= 128) cls.ranges.push_back({std::max<char32_t>(r.first, 128), r.last});
        }
        program_.classes.push_back(std::move(cls));
        return class_of_[id] = static_cast<std::uint32_t>(program_.classes.size() - 1);
    }

    // Compiles a node, on a fresh stack segment when this thread's stack runs low.
    void node(std::uint32_t id, bool backward) {
        if (error_) return;
        ensure_stack([&] { node_here(id, backward); });
        if (stack_exhausted() && !error_) error_ = stack_exhausted_error();
    }

    void node_here(std::uint32_t id, bool backward) {
        const Node& n = ast_.nodes[id];
        switch (n.kind) {
            case NodeKind::Empty:
                return;
            case NodeKind::Set: {
                const auto& ranges = n.set.ranges();
                if (ranges.size() == 1 && ranges[0].first == ranges[0].last) {
                    emit({Op::Char, backward, ranges[0].first});
                } else {
                    emit({Op::Class, backward, class_index(id)});
                }
                return;
            }
            case NodeKind::Concat:
                if (backward) {
                    for (auto it = n.kids.rbegin(); it != n.kids.rend(); ++it) node(*it, true);
                } else {
                    for (std::uint32_t k : n.kids) node(k, false);
                }
                return;
            case NodeKind::Alternation: {
                std::vector<std::uint32_t> jumps;
                for (std::size_t i = 0; i + 1 < n.kids.size(); ++i) {
                    std::uint32_t split = emit({Op::Split});
                    node(n.kids[i], backward);
                    jumps.push_back(emit({Op::Jump}));
                    if (error_) return;
                    program_.code[split].a = split + 1;
                    program_.code[split].b = here();
                }
                node(n.kids.back(), backward);
                if (error_) return;
                for (std::uint32_t j : jumps) program_.code[j].a = here();
                return;
            }
            case NodeKind::Repeat:
                return repeat(n, backward);
            case NodeKind::Group:
                if (n.group == 0 || !ast_.has_back_references) return node(n.kids[0], backward);
                emit({Op::Save, false, 2 * n.group + (backward ? 1 : 0)});
                node(n.kids[0], backward);
                emit({Op::Save, false, 2 * n.group + (backward ? 0 : 1)});
                return;
            case NodeKind::LineStart:
                emit({Op::LineStart});
                return;
            case NodeKind::LineEnd:
                emit({Op::LineEnd});
                return;
            case NodeKind::WordBoundary:
                emit({Op::WordBoundary});
                return;
            case NodeKind::NotWordBoundary:
                emit({Op::NotWordBoundary});
                return;
            case NodeKind::Look:
                if (look_of_[id] == kInfinite) {
                    look_of_[id] = static_cast<std::uint32_t>(program_.looks.size());
                    program_.looks.emplace_back();
                    pending_looks_.push_back(id);
                }
                emit({Op::Look, false, look_of_[id]});
                return;
            case NodeKind::BackReference:
                emit({Op::BackReference, backward, n.group});
                return;
        }
    }

    void repeat(const Node& n, bool backward) {
        const std::uint32_t kid = n.kids[0];
        if (n.max == 0 || silent_[kid]) return;
        // Groups inside the repeated atom start each iteration unset.
        const Node& atom = ast_.nodes[kid];
        const bool reset = ast_.has_back_references && atom.kind == NodeKind::Group &&
                           atom.groups_end > atom.groups_begin;
        auto iteration = [&] {
            if (reset) emit({Op::ResetGroups, false, 2 * atom.groups_begin, 2 * atom.groups_end});
            node(kid, backward);
        };
        // Every copy emits at least one instruction, so the size bound also
        // bounds the time spent here, whatever the counts.
        for (std::uint32_t i = 0; i < n.min && !error_; ++i) iteration();
        if (n.max == kUnbounded) {
            const bool nullable = min_length_[kid] == 0;
            std::uint32_t slot = 0;
            if (nullable) slot = program_.registers++;
            std::uint32_t top = emit({Op::Split});
            if (nullable) emit({Op::LoopMark, false, slot});
            iteration();
            if (nullable) emit({Op::LoopCheck, false, slot});
            emit({Op::Jump, false, top});
            if (error_) return;
            set_choice(top, top + 1, here(), n.greedy);
            return;
        }
        std::vector<std::uint32_t> splits;
        for (std::uint32_t i = n.min; i < n.max && !error_; ++i) {
            splits.push_back(emit({Op::Split}));
            iteration();
        }
        if (error_) return;
        for (std::uint32_t s : splits) set_choice(s, s + 1, here(), n.greedy);
    }

    void set_choice(std::uint32_t split, std::uint32_t body, std::uint32_t exit, bool greedy) {
        program_.code[split].a = greedy ? body : exit;
        program_.code[split].b = greedy ? exit : body;
    }
};

}  // namespace

Result<EcmaRegex::Program> compile_program(const Ast& ast) {
    return Compiler(ast).run();
}

}  // namespace quarvel::ecma_regex_detail
