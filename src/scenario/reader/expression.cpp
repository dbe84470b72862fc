// The expression evaluator: rightmost-split evaluation with the language's own grouping.
#include "scenario/reader/expression.h"

#include "base/result.h"
#include "scenario/reader/sourcetext.h"

#include <algorithm>
#include <vector>

namespace vorn {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Two's complement wrap-around: the arithmetic is done on uint32, whose overflow is defined.
int32_t wrapAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrapSub(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t wrapMul(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
int32_t wrapDiv(int32_t a, int32_t b)
{
    // The one quotient that does not fit: -2^31 / -1 = 2^31, which wraps to -2^31.
    if (b == -1)
        return wrapSub(0, a);
    return a / b; // truncates towards zero
}

// The evaluator splits a text at its rightmost '+'/'-' outside parentheses and evaluates the
// left part first, recursively; equivalently, it folds the operators at depth 0 from the left.
// Depth is counted from the end of the (sub)text, so it is the same for the whole text and for
// each part cut out of it, up to a constant: depth at p is D[p] - D[end]. With D precomputed
// once, and the operators sorted by (depth, position), each level finds its operators by binary
// search and every byte is visited a bounded number of times, however deeply the text nests.
class Evaluator {
public:
    explicit Evaluator(std::string_view text) : m_text(text)
    {
        const int32_t n = static_cast<int32_t>(text.size());
        m_depth.assign(static_cast<size_t>(n) + 1, 0);
        for (int32_t p = n - 1; p >= 0; --p) {
            int32_t d = m_depth[p + 1];
            if (text[p] == ')')
                ++d;
            else if (text[p] == '(')
                --d;
            m_depth[p] = d;
        }
        m_match.assign(static_cast<size_t>(n), -1);
        std::vector<int32_t> open;
        m_nonDigits.assign(static_cast<size_t>(n) + 1, 0);
        for (int32_t p = 0; p < n; ++p) {
            const char c = text[p];
            m_nonDigits[p + 1] = m_nonDigits[p] + (isDigit(c) ? 0 : 1);
            if (c == '(') {
                open.push_back(p);
            } else if (c == ')' && !open.empty()) {
                m_match[open.back()] = p;
                open.pop_back();
            } else if (c == '+' || c == '-') {
                m_additive.push_back({m_depth[p], p});
            } else if (c == '*' || c == '/') {
                m_multiplicative.push_back({m_depth[p], p});
            }
        }
        std::sort(m_additive.begin(), m_additive.end());
        std::sort(m_multiplicative.begin(), m_multiplicative.end());
    }

    int32_t evaluate(int32_t begin, int32_t end, int32_t &value, int nesting)
    {
        if (begin >= end) {
            value = 0;
            return Ok;
        }
        if (m_nonDigits[end] - m_nonDigits[begin] == 0) {
            value = wrapDecimal(m_text.substr(begin, end - begin));
            return Ok;
        }
        if (m_text[begin] == '(' && m_match[begin] == end - 1) {
            if (end - begin == 2)
                return Failed;
            if (nesting >= MaxExpressionNesting)
                return Failed;
            return evaluate(begin + 1, end - 1, value, nesting + 1);
        }
        const int32_t level = m_depth[end];
        if (hasOperator(m_additive, level, begin, end))
            return fold(m_additive, level, begin, end, value, nesting);
        if (hasOperator(m_multiplicative, level, begin, end))
            return fold(m_multiplicative, level, begin, end, value, nesting);
        return Failed;
    }

private:
    using Operators = std::vector<std::pair<int32_t, int32_t>>; // (depth, position)

    static Operators::const_iterator firstAt(const Operators &ops, int32_t level, int32_t begin)
    {
        return std::lower_bound(ops.begin(), ops.end(), std::make_pair(level, begin));
    }

    static bool hasOperator(const Operators &ops, int32_t level, int32_t begin, int32_t end)
    {
        auto it = firstAt(ops, level, begin);
        return it != ops.end() && it->first == level && it->second < end;
    }

    // Left fold over the operators of one kind at `level` in [begin, end). Parts are evaluated
    // left to right and the first failure wins, as in the recursive split.
    int32_t fold(const Operators &ops, int32_t level, int32_t begin, int32_t end, int32_t &value,
                 int nesting)
    {
        auto it = firstAt(ops, level, begin);
        int32_t start = begin;
        int32_t accumulated = 0;
        char pending = 0;
        for (;;) {
            const bool last = !(it != ops.end() && it->first == level && it->second < end);
            const int32_t stop = last ? end : it->second;
            int32_t operand = 0;
            // A part between two operators holds none of this kind at this level, so the
            // recursive procedure takes the literal, group or next-kind step on it.
            const int32_t code = evaluate(start, stop, operand, nesting);
            if (code != Ok)
                return code;
            switch (pending) {
            case 0: accumulated = operand; break;
            case '+': accumulated = wrapAdd(accumulated, operand); break;
            case '-': accumulated = wrapSub(accumulated, operand); break;
            case '*': accumulated = wrapMul(accumulated, operand); break;
            case '/':
                if (operand == 0)
                    return NullArgument;
                accumulated = wrapDiv(accumulated, operand);
                break;
            }
            if (last)
                break;
            pending = m_text[stop];
            start = stop + 1;
            ++it;
        }
        value = accumulated;
        return Ok;
    }

    std::string_view m_text;
    std::vector<int32_t> m_depth;     // parentheses depth counted from the end
    std::vector<int32_t> m_match;     // matching ')' of each '(' (-1: none)
    std::vector<int32_t> m_nonDigits; // prefix counts of non-digit bytes
    Operators m_additive;
    Operators m_multiplicative;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

} // namespace

int32_t wrapDecimal(std::string_view digits)
{
    uint32_t value = 0;
    for (char c : digits)
        value = value * 10u + static_cast<uint32_t>(c - '0');
    return static_cast<int32_t>(value);
}

std::optional<std::string_view> GetInsideParenthesis(SourceText &text)
{
    // On failure the position stays where it was, so a message names the line of the group.
    const int32_t start = text.position();
    text.skipTo('(');
    if (text.atEnd()) {
        text.setPosition(start);
        return std::nullopt;
    }
    const std::string_view data = text.data();
    const int32_t open = text.position();
    int32_t depth = 0;
    for (int32_t p = open; p < static_cast<int32_t>(data.size()); ++p) {
        if (data[p] == '(') {
            ++depth;
        } else if (data[p] == ')' && --depth == 0) {
            if (p == open + 1)
                break;
            text.setPosition(p + 1);
            return data.substr(open + 1, p - open - 1);
        }
    }
    text.setPosition(start);
    return std::nullopt;
}

int32_t AnalyzeExpressionMain(std::string_view expression, int32_t &value)
{
    Evaluator evaluator(expression);
    return evaluator.evaluate(0, static_cast<int32_t>(expression.size()), value, 0);
}

int32_t AnalyzeExpression(SourceText &text, int32_t &value, const VariableLookup &variables)
{
    std::string_view cut;
    if (text.peek() == '(') {
        auto inside = GetInsideParenthesis(text);
        if (!inside)
            return Failed;
        cut = *inside;
    } else {
        const int32_t start = text.position();
        if (!GetInsideParenthesis(text))
            return Failed;
        cut = text.data().substr(start, text.position() - start);
    }

    // Variable values are decimal texts without '$', so after a replacement the search can go
    // on from the replaced text instead of from the start: the result is the same.
    std::string replaced;
    replaced.reserve(cut.size());
    size_t p = 0;
    while (p < cut.size()) {
        const size_t dollar = cut.find('$', p);
        if (dollar == std::string_view::npos) {
            replaced.append(cut.substr(p));
            break;
        }
        replaced.append(cut.substr(p, dollar - p));
        size_t q = dollar + 1;
        if (q >= cut.size() || cut[q] != '(')
            return Failed;
        ++q;
        while (q < cut.size() && isBlank(cut[q]))
            ++q;
        const size_t nameStart = q;
        while (q < cut.size() && !isBlank(cut[q]) && cut[q] != ')')
            ++q;
        // A name running to the end of the text is no token.
        if (q == nameStart || q >= cut.size())
            return Failed;
        const std::string_view name = cut.substr(nameStart, q - nameStart);
        while (q < cut.size() && isBlank(cut[q]))
            ++q;
        if (q >= cut.size() || cut[q] != ')')
            return Failed;
        const std::string *found = variables ? variables(name) : nullptr;
        if (!found)
            return Failed;
        replaced.append(*found);
        p = q + 1;
    }

    std::string compact;
    compact.reserve(replaced.size());
    for (char c : replaced) {
        if (isBlank(c))
            continue;
        if (!isDigit(c) && c != '(' && c != ')' && c != '+' && c != '-' && c != '*' && c != '/')
            return Failed;
        compact.push_back(c);
    }
    return AnalyzeExpressionMain(compact, value);
}

} // namespace vorn
