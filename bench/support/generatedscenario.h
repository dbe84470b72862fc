// The generated scenario of the large-scenario benchmarks (reader and editor): about 10 MiB and
// 20,000 blocks with macros, variables and expressions, and the helpers that read it.
#pragma once

#include "base/prompter.h"
#include "base/scenariopath.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>
#include <unistd.h>

namespace vorn::bench {

// Errors go to stderr (a benchmark that fails says why); every question is answered yes.
class SilentPrompter final : public Prompter {
public:
    void showError(std::string_view text) override
    {
        std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
        failed = true;
    }
    bool askYesNo(std::string_view) override { return true; }
    bool failed = false;
};

inline constexpr size_t TargetBytes = 10u * 1024u * 1024u;  // read without the size question

// 8,000 blocks written out and 6,000 macro calls of two blocks each: 20,000 blocks, grouped
// by SERIES blocks of 100 inputs under MAIN.
inline std::string generateScenario()
{
    std::string text;
    text.reserve(TargetBytes);
    text += "# Generated benchmark scenario\r\n"
            "SCREEN 640 480\r\nFRAMERATE 2997\r\nSCALE 100\r\n"
            "$(W) = 640\r\n$(H) = 480\r\n$(LEN) = (30*2)\r\n"
            "DRAW \"canvas\"\r\n{\r\n\tSIZE\t$(W) $(H)\r\n\tCOLOR\t255 255 255 255\r\n"
            "\tRECT\r\n\t{\r\n\t\tPOINT\t10 10\r\n\t\tPOINT\t(640-10) (480-10)\r\n\t\tFILL\r\n\t}\r\n}\r\n"
            "MACRO SCENE($(NAME) $(FRAMES) )\r\n"
            "STILL \"$(NAME)\"   # the held picture\r\n"
            "{\r\n\tINPUT\t\"canvas\"\t(0) (0) ($(W)-1) ($(H)-1)\r\n\tFRAMES\t$(FRAMES)\r\n}\r\n"
            "FADEIN \"$(NAME)$$\"\r\n{\r\n\tINPUT\t\"$(NAME)\"\r\n\tCOLOR\t0 0 0\r\n"
            "\tFRAMES\t(($(FRAMES)+1)/2)\r\n}\r\n"
            "ENDMACRO\r\n";
    std::vector<std::string> leaves;
    const int written = 8000;
    const int calls = 6000;
    char line[512];
    for (int i = 0; i < written; ++i) {
        std::snprintf(line, sizeof line,
                      "\r\n# Scene %05d: a still picture with a framed input, written out by hand so\r\n"
                      "# that the file reads like a long real scenario, comments and all.\r\n"
                      "STILL \"scene%05d\"\r\n{\r\n"
                      "\tINPUT\t\"canvas\"\t(%d*2) (%d/4) ($(W)-1-%d) ($(H)-1)\r\n"
                      "\tINPUT\t\"canvas\"\r\n\tMAX_CUT\r\n"
                      "\tBGCOLOR\t%d %d %d\r\n"
                      "\tFRAMES\t($(LEN)+%d)\r\n}\r\n",
                      i, i, i % 100, i % 400, i % 50, i % 256, (i * 7) % 256, (i * 13) % 256, i % 30);
        text += line;
        leaves.push_back("scene" + std::to_string(100000 + i).substr(1));
    }
    for (int i = 0; i < calls; ++i) {
        std::snprintf(line, sizeof line, "CALL SCENE(\"m%05d\" \"(%d+10)\" )\r\n", i, i % 40);
        text += line;
        std::snprintf(line, sizeof line, "m%05d%04d", i, i);
        leaves.push_back(line);
    }
    std::string main = "\r\nMAIN\r\n{\r\n";
    for (size_t start = 0, group = 0; start < leaves.size(); start += 100, ++group) {
        std::string series = "\r\nSERIES \"group" + std::to_string(group) + "\"\r\n{\r\n";
        for (size_t k = start; k < leaves.size() && k < start + 100; ++k)
            series += "\tINPUT\t\"" + leaves[k] + "\"\r\n";
        series += "}\r\n";
        text += series;
        main += "\tINPUT\t\"group" + std::to_string(group) + "\"\r\n";
    }
    text += main + "}\r\n";
    // Pad with comment lines up to the size that is read without asking.
    const std::string pad = "# padding to the generated size ............................................\r\n";
    while (text.size() + pad.size() <= TargetBytes)
        text += pad;
    return text;
}

// A scenario text written to a temporary file named after `prefix`, read and linked, and the
// file removed again; null when it did not read.
inline std::unique_ptr<Scenario> linkedScenario(const std::string &text, SilentPrompter &prompter,
                                                const std::string &prefix)
{
    const auto path = std::filesystem::temp_directory_path() /
                      (prefix + std::to_string(getpid()) + ".txt");
    std::ofstream(path, std::ios::binary) << text;
    auto scenario = std::make_unique<Scenario>();
    scenario->prompter = &prompter;
    const bool ok = vorn::load(*scenario, pathToSjis(path).value()) == 0 && vorn::link(*scenario) == 0;
    std::error_code error;
    std::filesystem::remove(path, error);
    return ok ? std::move(scenario) : nullptr;
}

} // namespace vorn::bench
