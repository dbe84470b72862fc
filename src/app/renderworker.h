// CRenderThread: one preview frame rendered through a scenario on a short-lived thread of its
// own, with the messages the render reports held until the interface thread can show them.
#pragma once

#include "base/cancel.h"
#include "imaging/imagebuffer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vorn {

class Prompter;
class Scenario;

// What one render produced. The picture is the scenario's until it is handed back with
// Scenario::release(picture, frame) on the interface thread.
struct RenderResult {
    Scenario *scenario = nullptr;  // the scenario that rendered it
    int32_t frame = -1;
    ImageBuffer *picture = nullptr;  // null when the render yielded none
    std::vector<std::string> messages;  // errors the render reported, in order
    Prompter *prompter = nullptr;       // where those messages are to be shown
    bool cancelled = false;  // cancel() came first: no picture, no messages
};

// One render. start() is called on the interface thread: from then until finish() returns,
// the scenario belongs to the render thread and nothing else may read or change it. While the
// render runs, the scenario's prompter is replaced by one that only collects messages (the
// render thread never waits for a message box); finish() puts the original back and returns
// the messages for the interface thread to show. Questions asked during a render are answered
// "no" (rendering asks none).
class CRenderThread {
public:
    CRenderThread();
    // Cancels a render still running, waits for it and hands its picture back to the scenario.
    ~CRenderThread();
    CRenderThread(const CRenderThread &) = delete;
    CRenderThread &operator=(const CRenderThread &) = delete;

    // Starts rendering `frame` of `scenario` at once. `done` is called on the render thread when
    // the render has returned; it must only post a notification (a queued call) and never wait.
    void start(Scenario &scenario, int32_t frame, std::function<void()> done);
    bool isRunning() const { return m_thread.joinable(); }
    // Asks the render to stop at its next block or picture row; finish() then returns soon. Any
    // thread.
    void cancel() { m_cancel.cancel(); }
    // Waits for the render (immediately when `done` has been called), restores the scenario's
    // prompter and passes the result on. Interface thread only. A cancelled render's picture
    // and messages are dropped here, and so are the scenario's kept pictures, which the
    // cancelled blocks may have left half made.
    RenderResult finish();

private:
    class CollectingPrompter;

    std::thread m_thread;
    CancelFlag m_cancel;
    std::unique_ptr<CollectingPrompter> m_collector;
    RenderResult m_result;
};

} // namespace vorn
