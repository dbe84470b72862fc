// MACRO and CALL: definitions, argument lists and textual expansion.
#include "scenario/reader/macro.h"

#include "base/result.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/expression.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/readerstate.h"
#include "scenario/reader/sourcetext.h"

#include <cstdio>

namespace vorn {

namespace {

constexpr std::string_view MacroNameDelimiters = " \t\n(";
constexpr std::string_view ListSeparators = " \t\n,";
constexpr std::string_view BadDefinition = "引数定義が正しくありません。";

// Replaces every occurrence of `pattern` (left to right, without overlap; the inserted text is
// not searched again) by `replacement`.
std::string replaceAll(const std::string &text, std::string_view pattern,
                       std::string_view replacement)
{
    if (pattern.empty())
        return text;
    std::string out;
    out.reserve(text.size());
    size_t p = 0;
    for (;;) {
        const size_t found = text.find(pattern, p);
        if (found == std::string::npos) {
            out.append(text, p, std::string::npos);
            return out;
        }
        out.append(text, p, found - p);
        out.append(replacement);
        p = found + pattern.size();
    }
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

std::string expandMacro(MacroDefinition &macro)
{
    std::string expansion = macro.body;
    for (const MacroParameter &parameter : macro.parameters) {
        const std::string pattern = "$(" + parameter.name + ")";
        expansion = replaceAll(expansion, pattern, parameter.value);
    }
    char counter[16];
    std::snprintf(counter, sizeof counter, "%04d", macro.expansionCount);
    expansion = replaceAll(expansion, "$$", counter);
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
    std::string expansion = expandMacro(*macro);
    if (!nesting.chargeExpansion(expansion.size())) {
        reportError(scenario, "マクロ展開の合計が大きすぎます。", &text);
        return Failed;
    }
    const SourceText expanded(std::move(expansion), std::nullopt,
                              "マクロ展開 " + sjisToUtf8(macro->name));
    return loadText(scenario, expanded);
}

} // namespace vorn
