// Block: the common base of the twenty block kinds, their kind codes and the eight operations
// every kind provides.
#pragma once

#include "base/geometry.h"
#include "base/sjis.h"
#include "imaging/imagebuffer.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vorn {

class Block;
class BlockInput;
class LineSink;
class Prompter;
class Scenario;

// Kind codes as stored in scenario models. MAIN is 0x80000000, which is negative as an int32:
// the enumeration is unsigned so that the code is spelled as written; kindCode() gives the
// int32 bit pattern for code that needs it.
enum class BlockKind : uint32_t {
    Image = 0x0001,
    Text = 0x0002,
    Draw = 0x0003,
    Still = 0x1000,
    Rotate = 0x1001,
    Action = 0x1002,
    Zoom = 0x1003,
    Slide = 0x1004,
    Focus = 0x1005,
    Film = 0x1006,
    Fade = 0x2000,
    Crossfade = 0x2001,
    Mix = 0x2002,
    Series = 0x2003,
    Shake = 0x2004,
    Mosaic = 0x2005,
    Expand = 0x2006,
    Cut = 0x2007,
    Alpha = 0x2008,
    Shade = 0x2009,
    Main = 0x80000000u,
};

// The int32 code of a kind (MAIN gives INT32_MIN, the bit pattern 0x80000000).
int32_t kindCode(BlockKind kind);
// The kind of an int32 code; none for a code outside the table.
std::optional<BlockKind> kindFromCode(int32_t code);
// The keyword of a kind ("IMAGE" ... "SHADE", "MAIN"); empty for a value outside the table.
std::string_view kindKeyword(BlockKind kind);
// The kind a keyword names (the primary keywords only: "FADEIN" and the like are the reader's).
std::optional<BlockKind> kindFromKeyword(std::string_view keyword);

// Most blocks in one chain of inputs and BGIMAGE references (a block, its input or background,
// that one's ...). Lengths, key frames and pictures recurse along such chains: linking refuses
// deeper scenarios, and rendering gives no picture past this depth on one thread.
inline constexpr int32_t MaxBlockNesting = 1000;

// Directions of FILM and EXPAND.
enum Direction : int32_t { DirectionUp = 1, DirectionDown = 2, DirectionLeft = 4, DirectionRight = 8 };

// Where key frames are collected: frames in the caller's numbering, in any order and possibly
// repeated, and the requests answered so far. A block that is reached again by another path
// and asked for the same frames at the same place adds nothing a second time, which keeps
// shared parts of a block tree from being walked once per path.
class KeyFrameSink {
public:
    void add(int64_t frame) { frames.push_back(frame); }
    // True the first time `block` is asked for [first, last] placed at `offset`.
    bool firstRequest(const Block *block, int64_t first, int64_t last, int64_t offset);
    // The frames sorted, each once.
    std::vector<int64_t> sortedFrames() const;

    std::vector<int64_t> frames;

private:
    struct Request {
        const Block *block;
        int64_t first, last, offset;
        bool operator==(const Request &) const = default;
    };
    struct RequestHash {
        size_t operator()(const Request &r) const;
    };
    std::unordered_set<Request, RequestHash> m_requests;
};

// Base of every block kind. Fields are public: the reader fills them, linking completes them,
// the editor changes them, the writer prints them. Texts are Shift-JIS bytes as read.
//
// Threads: render and release may run on the render thread while the interface thread renders
// or releases too; `lock` guards cacheA, cacheB and pending (and the working pictures of each
// kind). Every other field is changed only while no thread renders.
class Block {
public:
    explicit Block(BlockKind kind);
    virtual ~Block();  // 1

    // 2. The picture of `frame` (0-based, local to the block), or null. The caller owns it
    // until it hands it back with release(image, frame); it never frees it itself.
    virtual ImageBuffer *render(int32_t frame);
    // 3. Takes back a picture that render gave for `frame`. Null is ignored.
    virtual void release(ImageBuffer *image, int32_t frame);
    // 4. Whether `frame` is a significant frame (start, end, midpoint, edges of an effect).
    virtual bool isKeyFrame(int32_t frame);
    // Adds offset + f to `out` for every frame f of [first, last] within the block's length for
    // which isKeyFrame(f) holds: the key frames of a range in one walk of the block tree, in
    // time near-linear in the blocks and key frames met instead of one walk per frame. Needs a
    // linked scenario without loops (as frameCount does).
    void collectKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out);
    // 5. Appends the kind keyword, the frame and `file` to `lines`, then each input used at
    // that frame with its depth, name and own trace. -1 when the kind cannot trace.
    virtual int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines);
    // 6. The length in frames, computed once and kept in frameCountCache until linking resets
    // it. Needs a linked scenario without loops (linking rejects loops before asking).
    virtual int32_t frameCount();
    // 7. Checks that need linked inputs. 0, or negative after showing one message through
    // `reportError` (may be null: the message is then dropped).
    virtual int32_t validate(Prompter *reportError);
    // 8. Prints the block in the canonical layout. 0, or the sink's negative code.
    virtual int32_t write(LineSink &out) const;

    // Copy the text; -5 for a null (absent) text, -2 when memory runs out.
    int32_t setDirectory(std::optional<std::string_view> text);
    int32_t setFile(std::optional<std::string_view> text);
    int32_t setName(std::optional<std::string_view> text);

    // Builds `path`: absent without `file`; `file` alone when it is absolute (a drive letter,
    // its second byte ':', or a leading '/' or '\'); otherwise directory + "\" + file.
    // -3 (and `path` absent) whenever `directory` is absent; 0 otherwise.
    int32_t buildPath();
    // `file` as a path of this machine (relative names joined to `directory`); none without a
    // file, for a relative file without a directory, or for a name that cannot exist here.
    std::optional<std::filesystem::path> localFilePath() const;

    // The name for messages (UTF-8).
    std::string displayName() const;

    // Depth-first walk through `inputs` (not bgImage): the name of the first block met again
    // on the current path, or none. `visited` holds the names on the path and is left as given.
    std::optional<SjisString> findLoop(std::set<SjisString> &visited) const;

    const BlockKind kind;
    Scenario *scenario = nullptr;           // owner, set at linking
    std::optional<SjisString> directory;    // the scenario's currentDirectory when read
    std::optional<SjisString> file;         // FILE as written
    std::optional<SjisString> path;         // derived by buildPath()
    std::optional<SjisString> name;
    int32_t frames = 0;                     // FRAMES
    std::vector<std::unique_ptr<BlockInput>> inputs;  // INPUT lines in file order
    std::unique_ptr<BlockInput> bgImage;    // BGIMAGE
    Colour color{0, 0, 0, 0};
    Colour bgColor{0, 0, 0, 0};             // a FADE keeps its COLOR here
    int32_t refCount = 0;                   // INPUT references, counted at linking

    // Pictures kept between frames by the kinds that cache; guarded by `lock`.
    ImagePtr cacheA;
    ImagePtr cacheB;
    int32_t pending = 0;                    // pictures handed out and not yet released
    mutable std::mutex lock;
    // Frees the pictures kept between frames; called under `lock` once the last frame has been
    // released with nothing pending. Kinds that keep more than cacheA and cacheB add theirs.
    virtual void dropCaches()
    {
        cacheA.reset();
        cacheB.reset();
    }

    std::atomic<int32_t> frameCountCache{-1};  // -1: not computed since the last link

protected:
    // Copies every base field except as the editor's copy needs: texts duplicated, `path`
    // absent, `scenario` null, inputs and bgImage copied unlinked, caches absent, a new lock,
    // frameCountCache -1; refCount and pending keep their values.
    Block(const Block &other);
    Block &operator=(const Block &) = delete;

    // The work of collectKeyFrames, for 0 <= first <= last < frameCount(), asked once per sink
    // for each range and offset. Base: asks isKeyFrame for every frame of the range (right for
    // any kind, and used by the sources, whose length is 0); kinds give their own.
    virtual void addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out);
    // Adds offset + frame when frame lies in [first, last].
    static void addKeyFrame(int64_t frame, int64_t first, int64_t last, int64_t offset,
                            KeyFrameSink &out)
    {
        if (frame >= first && frame <= last)
            out.add(offset + frame);
    }
    // The usual key frames of an effect within [first, last]: its first, middle and last frame.
    static void addStartMiddleAndEnd(int64_t total, int64_t first, int64_t last, int64_t offset,
                                     KeyFrameSink &out)
    {
        addKeyFrame(0, first, last, offset, out);
        addKeyFrame(total / 2, first, last, offset, out);
        addKeyFrame(total - 1, first, last, offset, out);
    }

    // Remembers a computed length and returns it.
    int32_t cacheFrameCount(int64_t frames);
    // For kinds whose length is their own (FRAMES, or CUT's range): every input starts at the
    // block's frame 0. Returns the kept length when there is one.
    int32_t ownFrameCount(int64_t length);
    // The usual key frames of an effect: its first, middle and last frame.
    static bool isStartMiddleOrEnd(int32_t frame, int32_t total)
    {
        return frame == 0 || frame == total - 1 || frame == total / 2;
    }
    // Writes the empty line, the header line, "{" and the RefCount comment.
    int32_t writeHead(LineSink &out) const;
    // Shows "message" (UTF-8) through reportError when there is one.
    static void report(Prompter *reportError, std::string_view message);
    // `pattern` with each "%s" replaced by the next argument, in order.
    static std::string fillMessage(std::string_view pattern,
                                   std::initializer_list<std::string_view> arguments);
    // For the kinds that read FILE: without one, `path` is absent and the result 0; otherwise
    // the file must open for reading (else "ブロック %s で指定されたファイルを開くことができません。"
    // is reported and failCode returned) and `path` is built.
    int32_t validateFile(Prompter *reportError, int32_t failCode);
    // True when `local` names a file that can be opened for reading (not a directory).
    static bool isReadableFile(const std::filesystem::path &local);
    // For kinds with one input: every input starts at frame 0; the first input's frame count
    // (0 without inputs).
    int32_t firstInputLength();
    // The first input, or null.
    BlockInput *firstInput() const;

private:
    std::optional<SjisString> findLoop(std::set<SjisString> &visited,
                                       std::set<const Block *> &finished) const;
    friend class BlockInput;
};

} // namespace vorn
