// MACRO and CALL: definitions, argument lists and textual expansion.
#include "scenario/reader/macro.h"

#include "base/result.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/expression.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/readerstate.h"
#include "scenario/reader/sourcetext.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <unordered_map>

namespace vorn {

namespace {

constexpr std::string_view MacroNameDelimiters = " \t\n(";
constexpr std::string_view ListSeparators = " \t\n,";
constexpr std::string_view BadDefinition = "引数定義が正しくありません。";

// Replaces every occurrence of `pattern` (left to right, without overlap; the inserted text is
// not searched again) by `replacement`. None when the result would pass `limit` bytes: it is
// given up as soon as it grows past it, so a doubling text costs no more than the limit.
std::optional<std::string> replaceAll(const std::string &text, std::string_view pattern,
                                      std::string_view replacement, size_t limit)
{
    if (pattern.empty() || text.find(pattern) == std::string::npos)
        return text.size() <= limit ? std::optional<std::string>(text) : std::nullopt;
    std::string out;
    out.reserve(std::min(text.size(), limit));
    size_t p = 0;
    for (;;) {
        const size_t found = text.find(pattern, p);
        const size_t kept = (found == std::string::npos ? text.size() : found) - p;
        if (kept > limit - out.size())
            return std::nullopt;
        out.append(text, p, kept);
        if (found == std::string::npos)
            return out;
        if (replacement.size() > limit - out.size())
            return std::nullopt;
        out.append(replacement);
        p = found + pattern.size();
    }
}

bool holdsReferenceBytes(std::string_view s)
{
    return s.find_first_of("$()") != std::string_view::npos;
}

// When the parameters can be substituted in one pass over the body with a result identical to
// one pass per parameter, gives the values by name. That holds when no argument holds a '$'
// (an inserted value never starts a reference), every name is distinct and free of '$', '('
// and ')' (a reference ends at the first ')'), and the body has neither "$$(" (a '$' that an
// empty value would join to the next reference) nor a '$' between a "$(" and the next ')' (a
// reference whose name an inner replacement would change). Then every replacement of every pass
// is a "$(NAME)" written in the body itself, replaced once by its one parameter.
std::optional<std::unordered_map<std::string_view, std::string_view>>
onePassValues(const MacroDefinition &macro)
{
    std::unordered_map<std::string_view, std::string_view> values;
    for (const MacroParameter &parameter : macro.parameters) {
        if (holdsReferenceBytes(parameter.name) ||
            parameter.value.find('$') != std::string::npos ||
            !values.emplace(parameter.name, parameter.value).second)
            return std::nullopt;
    }
    const std::string_view body = macro.body;
    for (size_t at = body.find("$("); at != std::string_view::npos; at = body.find("$(", at + 1)) {
        if (at > 0 && body[at - 1] == '$')
            return std::nullopt;
        const size_t close = body.find(')', at + 2);
        const size_t dollar = body.find('$', at + 2);
        if (dollar != std::string_view::npos && dollar < close)
            return std::nullopt;
    }
    return values;
}

// One pass over the body: each "$(NAME)" of a parameter becomes its value. None past `limit`.
std::optional<std::string> substituteOnePass(
    std::string_view body, const std::unordered_map<std::string_view, std::string_view> &values,
    size_t limit)
{
    std::string out;
    out.reserve(std::min(body.size(), limit));
    size_t p = 0;
    while (p < body.size()) {
        size_t at = body.find("$(", p);
        size_t close = at == std::string_view::npos ? at : body.find(')', at + 2);
        const std::string_view *value = nullptr;
        if (close != std::string_view::npos) {
            const auto it = values.find(body.substr(at + 2, close - at - 2));
            if (it != values.end())
                value = &it->second;
        }
        // Up to and including the '$' when it starts no parameter: the search goes on after it.
        const size_t end = at == std::string_view::npos ? body.size() : value ? at : at + 1;
        if (end - p > limit - out.size())
            return std::nullopt;
        out.append(body.substr(p, end - p));
        p = end;
        if (value) {
            if (value->size() > limit - out.size())
                return std::nullopt;
            out.append(*value);
            p = close + 1;
        }
    }
    return out;
}

MacroDefinition *findMacro(Scenario &scenario, std::string_view name)
{
    return scenario.macros.find(name);
}

bool variableExists(const Scenario &scenario, std::string_view name)
{
    return scenario.variables.find(name) != nullptr;
}

} // namespace

int32_t readMacroDefinition(Scenario &scenario, SourceText &text)
{
    text.skip(Blanks);
    auto name = readToken(scenario, text, 256, MacroNameDelimiters);
    if (!name)
        return Failed;
    text.skip(Blanks);
    if (text.peek() != '(') {
        reportError(scenario, "引数定義がありません。", &text);
        return Failed;
    }
    text.advance();

    MacroDefinition macro;
    macro.name = std::move(*name);
    for (;;) {
        text.skip(ListSeparators);
        if (text.peek() == ')')
            break;
        if (text.peek() != '$') {
            reportError(scenario, BadDefinition, &text);
            return Failed;
        }
        text.advance();
        auto parameter = GetInsideParenthesis(text);
        if (!parameter) {
            reportError(scenario, BadDefinition, &text);
            return Failed;
        }
        // One byte after the ')' is the separator, whatever it is: a list ending in "$(X))"
        // loses its closing parenthesis here.
        text.advance();
        if (variableExists(scenario, *parameter)) {
            reportError(scenario,
                        formatMessage("引数名 %s は変数名としても使用されています。",
                                      sjisToUtf8(*parameter)),
                        &text);
            return Failed;
        }
        macro.parameters.push_back({SjisString(*parameter), SjisString()});
    }
    text.advance();
    const int32_t bodyStart = text.position();

    // The body ends at the first 'E' that begins a token ENDMACRO (also inside a longer word
    // such as XENDMACRO, whose 'E' starts one).
    int32_t bodyEnd = 0;
    for (;;) {
        text.skipTo('E');
        const int32_t at = text.position();
        auto word = readToken(scenario, text, 256, Blanks);
        if (!word)
            return Failed;
        if (*word == "ENDMACRO") {
            bodyEnd = at;
            break;
        }
    }
    macro.body.assign(text.data().substr(bodyStart, bodyEnd - bodyStart));
    scenario.macros.add(std::move(macro));
    return Ok;
}

std::optional<std::string> expandMacro(MacroDefinition &macro, ExpansionBudget &budget)
{
    std::optional<std::string> expansion;
    if (const auto values = onePassValues(macro)) {
        expansion = substituteOnePass(macro.body, *values, budget.maxText);
    } else {
        // One pass per parameter, each searching what the earlier ones made. Only here can a
        // text grow with every pass, so only here is it held to the tighter bound.
        const size_t limit =
            std::min(budget.maxText, std::max(MaxPassText, 2 * macro.body.size()));
        expansion = macro.body;
        for (const MacroParameter &parameter : macro.parameters) {
            const size_t scanned = expansion->size();
            expansion = replaceAll(*expansion, "$(" + parameter.name + ")", parameter.value,
                                   limit);
            const size_t work = scanned + (expansion ? expansion->size() : 0);
            if (!expansion || work > budget.work)
                return std::nullopt;
            budget.work -= work;
        }
    }
    if (!expansion)
        return std::nullopt;
    char counter[16];
    std::snprintf(counter, sizeof counter, "%04d", macro.expansionCount);
    expansion = replaceAll(*expansion, "$$", counter, budget.maxText);
    // Wraps instead of overflowing after 2^31 expansions; a reading budget stops far earlier.
    macro.expansionCount = static_cast<int32_t>(static_cast<uint32_t>(macro.expansionCount) + 1u);
    return expansion;
}

int32_t callMacro(Scenario &scenario, SourceText &text)
{
    text.skip(Blanks);
    auto name = readToken(scenario, text, 256, MacroNameDelimiters);
    if (!name)
        return Failed;
    MacroDefinition *macro = findMacro(scenario, *name);
    if (!macro) {
        reportError(scenario, formatMessage("マクロ %s は定義されていません。", sjisToUtf8(*name)),
                    &text);
        return Failed;
    }
    text.skip(Blanks);
    if (text.peek() != '(') {
        reportError(scenario, BadDefinition, &text);
        return Failed;
    }
    text.advance();

    const size_t count = macro->parameters.size();
    size_t i = 0;
    for (;; ++i) {
        if (i > count) {
            reportError(scenario, "引数が多すぎます。", &text);
            return Failed;
        }
        text.skip(ListSeparators);
        if (text.peek() == ')') {
            text.advance();
            break;
        }
        if (text.peek() != '"') {
            reportError(scenario, BadDefinition, &text);
            return Failed;
        }
        text.advance();
        const int32_t start = text.position();
        text.skipTo('"');
        if (text.atEnd()) {
            reportError(scenario, BadDefinition, &text);
            return Failed;
        }
        const std::string_view argument = text.data().substr(start, text.position() - start);
        text.advance();  // the closing quote
        text.advance();  // the separator, whatever it is
        if (i < count)
            macro->parameters[i].value.assign(argument);
    }
    if (i < count) {
        reportError(scenario, "引数が少なすぎます。", &text);
        return Failed;
    }

    ReaderNesting nesting(scenario);
    if (!nesting.entered()) {
        reportError(scenario, "CALL の入れ子が深すぎます。", &text);
        return Failed;
    }
    ExpansionBudget budget{nesting.expansionBytesLeft(), nesting.substitutionWorkLeft()};
    std::optional<std::string> expansion = expandMacro(*macro, budget);
    nesting.chargeSubstitutionWork(nesting.substitutionWorkLeft() - budget.work);
    if (!expansion || !nesting.chargeExpansion(expansion->size())) {
        reportError(scenario, "マクロ展開の合計が大きすぎます。", &text);
        return Failed;
    }
    const SourceText expanded(std::move(*expansion), std::nullopt,
                              "マクロ展開 " + sjisToUtf8(macro->name));
    return loadText(scenario, expanded);
}

} // namespace vorn
