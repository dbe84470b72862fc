// Reading a scenario file into a linked Scenario, and making a new one.
#include "scenario/reader/loadscenario.h"

#include "base/scenariopath.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"

#include <new>

namespace vorn {

std::unique_ptr<Scenario> loadLinkedScenario(const std::filesystem::path &file, Prompter &prompter)
{
    auto scenario = std::make_unique<Scenario>();
    scenario->prompter = &prompter;
    // The reader takes Shift-JIS names; a path that CP932 cannot hold cannot be read.
    const auto name = pathToSjis(file);
    if (!name) {
        reportError(*scenario, notSjisMessage(file), nullptr);
        return nullptr;
    }
    if (load(*scenario, *name) != 0 || link(*scenario) != 0)
        return nullptr;
    return scenario;
}

std::unique_ptr<Scenario> makeNewScenario(Prompter &prompter)
{
    std::unique_ptr<Scenario> scenario;
    try {
        scenario = std::make_unique<Scenario>();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    scenario->prompter = &prompter;
    scenario->screenWidth = 720;
    scenario->screenHeight = 480;
    scenario->frameRate = 2997;
    scenario->scale = 100;
    scenario->previewScale = 4;
    scenario->boardBreak = 1000;
    if (scenario->createMain() != 0 || link(*scenario) != 0)
        return nullptr;
    return scenario;
}

} // namespace vorn
