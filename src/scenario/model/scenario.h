// Scenario: the in-memory form of one scenario file: global settings, blocks in reading order,
// the MAIN input and the checkpoints.
#pragma once

#include "base/atomicfile.h"
#include "base/sjis.h"
#include "imaging/imagebuffer.h"
#include "scenario/model/block.h"
#include "scenario/model/blockinput.h"
#include "timeline/checkpoint.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vorn {

class Prompter;

// A file the scenario was read from, as it was then: a save asks before it overwrites what
// another program changed since.
struct ScenarioSourceFile {
    std::filesystem::path path;  // absolute
    FileIdentity identity;
};

// A `$(name) = value` definition: the name as written and the value in decimal.
struct ScenarioVariable {
    SjisString name;
    SjisString value;
};

// A MACRO definition. Parameters keep the order of the definition; `value` is the argument of
// the expansion being prepared (empty at first).
struct MacroParameter {
    SjisString name;
    SjisString value;
};

struct MacroDefinition {
    SjisString name;
    std::vector<MacroParameter> parameters;
    std::string body;             // bytes between the parameter list and ENDMACRO
    int32_t expansionCount = 0;   // raised by each expansion
};

// The reader's tables of variables and macros. A name defined again takes the newest
// definition; lookups are by hash so a file with tens of thousands of definitions reads in
// linear time. Entries never move once added (a deque), so a found macro stays valid while
// its expansion defines more.
template <typename Entry>
class ReaderTable {
public:
    void add(Entry entry)
    {
        m_newest[entry.name] = m_entries.size();
        m_entries.push_back(std::move(entry));
    }
    Entry *find(std::string_view name)
    {
        const auto it = m_newest.find(SjisString(name));
        return it == m_newest.end() ? nullptr : &m_entries[it->second];
    }
    const Entry *find(std::string_view name) const
    {
        return const_cast<ReaderTable *>(this)->find(name);
    }
    size_t size() const { return m_entries.size(); }  // every definition, repeated names too
    bool empty() const { return m_entries.empty(); }
    void clear()
    {
        m_entries.clear();
        m_newest.clear();
    }

private:
    std::deque<Entry> m_entries;  // reading order
    std::unordered_map<SjisString, size_t> m_newest;
};

class Scenario {
public:
    Scenario();
    // Deep copy for the editor: settings, texts, blocks (each by the class its kind selects,
    // unlinked), checkpoints, the prompter and what was read; totalFrames 0; no
    // currentDirectory, variables or macros. A block of a kind outside the table is reported through the prompter with
    // "シナリオコピーコンストラクタにおいて問題が発生しました。" and leaves copyFailed() true: such
    // a copy must not be used (copyOf gives none instead).
    Scenario(const Scenario &other);
    Scenario &operator=(const Scenario &) = delete;
    ~Scenario();

    // The copy of `other`, or none after the failure was reported.
    static std::unique_ptr<Scenario> copyOf(const Scenario &other);
    bool copyFailed() const { return m_copyFailed; }

    // The first block whose name equals `name` byte for byte; null when none.
    Block *findBlock(std::string_view name) const;
    // Gives a new scenario its MAIN block (a SERIES-class block of kind MAIN named " ") as the
    // head of `blocks` and the target of mainInput. 0, or -1 when it cannot be made or the
    // scenario has a MAIN block already.
    int32_t createMain();
    // Depth-first from mainInput: the name of a block that reaches itself, or none.
    std::optional<SjisString> findLoop(std::set<SjisString> &visited) const;
    std::optional<SjisString> findLoop() const;

    // The frame through mainInput; the picture is the caller's until release.
    ImageBuffer *render(int32_t frame);
    // Why the last render on any thread gave no picture, when a block could not read its
    // picture file: "ブロック NAME ファイル：FILE" (UTF-8), to follow "画像の作成に失敗しました。".
    // Empty when the render succeeded or failed for another reason. A block that fails notes
    // it through notePictureFailure; render clears it first.
    std::string pictureFailure() const;
    void notePictureFailure(std::string text);
    void release(ImageBuffer *image, int32_t frame);
    // The key frames of MAIN in 0 .. totalFrames - 1, ascending, each once (as MAIN's isKeyFrame
    // answers them frame by frame). Needs a linked scenario.
    std::vector<int32_t> keyFrames() const;
    // Frees every picture the blocks keep between frames (and the blank pictures of !INPUT
    // lines), so that the next render builds from the blocks' current fields and files. Call
    // it after changing a block, while no thread renders.
    void dropCaches();

    // Copy the text; 0, or -1 when memory runs out (the text is then absent).
    int32_t setPath(std::string_view text);
    int32_t setAudio(std::string_view text);
    int32_t setVersion(std::string_view text);

    std::optional<SjisString> version;           // written in the file header when present
    std::optional<SjisString> path;              // the first file read, or the name saved as
    std::optional<SjisString> currentDirectory;  // directory of the file being read (Shift-JIS)
    std::optional<SjisString> audio;             // AUDIO, full path
    bool usesAudioLink = false;                  // an ALINK_VOLUME_ALPHA input was read
    std::vector<std::unique_ptr<Block>> blocks;  // reading order
    BlockInput mainInput;                        // designates the MAIN block once there is one
    int32_t screenWidth = -1;                    // SCREEN; -1 = not given
    int32_t screenHeight = -1;
    int32_t boardBreak = 1000;
    int32_t totalFrames = 0;                     // MAIN's frame count, computed at linking
    int32_t frameRate = 30;
    int32_t scale = 1;                           // frames per second = frameRate / scale
    int32_t previewScale = 4;
    int32_t startFrame = 0;
    ReaderTable<ScenarioVariable> variables;
    ReaderTable<MacroDefinition> macros;
    // Where errors are shown and questions asked (the owner's errorHandler and
    // confirmHandler); may be null, which drops messages and answers no.
    Prompter *prompter = nullptr;
    std::vector<Checkpoint> checkpoints;         // reading order
    // The scenario file first, then each INCLUDEd file, as they were when read; after a save,
    // the saved file alone.
    std::vector<ScenarioSourceFile> filesRead;
    // The file read used INCLUDE, MACRO, variables or comments of its own, which a save writes
    // out expanded (and the comments not at all).
    bool handWritten = false;

private:
    bool m_copyFailed = false;
    mutable std::mutex m_failureLock;
    std::string m_pictureFailure;
};

} // namespace vorn
