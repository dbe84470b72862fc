// CRenderThread: the render thread's body and the prompter that holds its messages.
#include "app/renderworker.h"

#include "base/prompter.h"
#include "scenario/model/scenario.h"

#include <mutex>

namespace vorn {

// Stands in for the scenario's prompter while the render thread owns the scenario: messages are
// kept, in order, for the interface thread; questions get "no" at once.
class CRenderThread::CollectingPrompter final : public Prompter {
public:
    void showError(std::string_view text) override
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        m_messages.emplace_back(text);
    }
    bool askYesNo(std::string_view) override { return false; }

    std::vector<std::string> take()
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        return std::move(m_messages);
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

CRenderThread::CRenderThread() = default;

CRenderThread::~CRenderThread()
{
    if (!isRunning())
        return;
    cancel();
    RenderResult result = finish();
    if (result.picture)
        result.scenario->release(result.picture, result.frame);
}

void CRenderThread::start(Scenario &scenario, int32_t frame, std::function<void()> done)
{
    if (isRunning())
        return;
    m_result = RenderResult{};
    m_result.scenario = &scenario;
    m_result.frame = frame;
    m_result.prompter = scenario.prompter;
    m_collector = std::make_unique<CollectingPrompter>();
    scenario.prompter = m_collector.get();
    m_cancel.reset();
    // The thread writes only m_result.picture; finish() reads it after the join.
    m_thread = std::thread([this, &scenario, frame, done = std::move(done)] {
        const CancelScope scope(&m_cancel);
        m_result.picture = scenario.render(frame);
        if (done)
            done();
    });
}

RenderResult CRenderThread::finish()
{
    if (!isRunning())
        return {};
    m_thread.join();
    m_result.scenario->prompter = m_result.prompter;
    m_result.messages = m_collector->take();
    m_collector.reset();
    RenderResult result = std::move(m_result);
    m_result = RenderResult{};
    if (m_cancel.raised()) {
        if (result.picture)
            result.scenario->release(result.picture, result.frame);
        result.scenario->dropCaches();
        result.picture = nullptr;
        result.messages.clear();
        result.cancelled = true;
    }
    return result;
}

} // namespace vorn
