// MACRO and CALL: macro definitions and their textual expansion.
#pragma once

#include "base/sjis.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vorn {

class Scenario;
class SourceText;
struct MacroDefinition;

// The MACRO statement, from just after its keyword: reads the definition up to ENDMACRO and
// adds it to scenario.macros (a later definition of a name wins). 0 or -1 (reported).
int32_t readMacroDefinition(Scenario &scenario, SourceText &text);

// The CALL statement, from just after its keyword: reads the arguments, expands the macro and
// reads the expansion into the scenario. 0 or -1 (reported).
int32_t callMacro(Scenario &scenario, SourceText &text);

// What one expansion may cost: the longest text it may make, and the bytes that substitution
// passes may still scan and write (lowered by what this expansion used).
struct ExpansionBudget {
    size_t maxText = 0;
    size_t work = 0;
};

// The body of `macro` with every $(PARAMETER) replaced by the parameter's value (parameters in
// order, each pass searching the text the earlier passes made) and every $$ by the expansion
// counter as "%04d"; raises the counter. None when the expansion would pass the budget.
std::optional<std::string> expandMacro(MacroDefinition &macro, ExpansionBudget &budget);

} // namespace vorn
