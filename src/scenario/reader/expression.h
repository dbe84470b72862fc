// Integer expressions of the scenario language: cutting an expression out of the text,
// replacing $(NAME) variable references, and the evaluator.
#pragma once

#include "base/sjis.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

class SourceText;

// Finds the value text (decimal) of the variable named `name`, exactly as bytes; null when no
// variable has that name. The pointer need only stay valid until the next lookup.
using VariableLookup = std::function<const std::string *(std::string_view name)>;

// Deepest parenthesis nesting the evaluator follows; deeper groups fail with -1 instead of
// exhausting the stack.
inline constexpr int MaxExpressionNesting = 1000;

// Arithmetic is on 32-bit two's complement values that wrap around (sums, products, literals
// of more than ten digits, and INT32_MIN / -1, which gives INT32_MIN); nothing overflows.

// Finds the first '(' at or after the position and its matching ')'; gives the bytes strictly
// between them and moves the position just after the ')'. None (position unchanged) when
// there is no '(', no matching ')', or nothing between them.
std::optional<std::string_view> GetInsideParenthesis(SourceText &text);

// Evaluates the expression starting at the text's position ('(' group or one $(NAME)).
// 0 and value, or -1 (syntax, unknown variable), -5 (division by zero). On success the
// position is just after the expression; on failure it is unspecified (the caller sets it back).
int32_t AnalyzeExpression(SourceText &text, int32_t &value, const VariableLookup &variables);

// The evaluator proper, on a text of "()+-*/0123456789" only; same codes.
int32_t AnalyzeExpressionMain(std::string_view expression, int32_t &value);

// Decimal digits to a value, wrapping modulo 2^32; the text holds digits only.
int32_t wrapDecimal(std::string_view digits);

} // namespace vorn
