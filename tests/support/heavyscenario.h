// A scenario whose frames take a while to render, for cancelling them part way.
#pragma once

#include <cstdint>
#include <string>

namespace vorn::test {

// A filled zig-zag polygon of `points` points whose edges each cross every row of a
// `side` x `side` screen (so every row sorts and fills about `points` crossings), shown by an
// ACTION of 10 frames, which keeps its source picture between frames. Without AUDIO.
inline std::string heavyScenarioText(int points = 8000, int side = 600)
{
    const std::string s = std::to_string(side);
    const std::string last = std::to_string(side - 1);
    std::string text = "SCREEN\t" + s + "\t" + s + "\nDRAW \"zig\"\n{\n\tSIZE\t" + s + " " + s +
                       "\n\tCOLOR\t0 0 255 255\n\tPOLYGON\n\t{\n\t\tFILL\n";
    for (int i = 0; i < points; ++i)
        text += "\t\tPOINT\t" + std::to_string(int64_t(i) * side / points) + " " +
                (i % 2 ? last : std::string("0")) + "\n";
    return text + "\t}\n}\nACTION \"a\"\n{\n\tINPUT\t\"zig\"\n\tFRAMES\t10\n}\n"
                  "MAIN\n{\n\tINPUT\t\"a\"\n}\n";
}

} // namespace vorn::test
