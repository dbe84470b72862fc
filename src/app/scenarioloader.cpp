// ScenarioLoader: the reading thread, the prompter that relays its messages, and taking the
// result back on the interface thread.
#include "app/scenarioloader.h"

#include "base/cancel.h"
#include "base/prompter.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/loadscenario.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>

namespace vorn {

namespace {

const char *const MsgNoMemory = "メモリの取得に失敗しました。";

} // namespace

struct ScenarioLoader::Job {
    uint64_t id = 0;
    std::filesystem::path file;
    CancelFlag cancel;
    std::thread thread;
    std::mutex mutex;                   // guards everything below
    std::condition_variable answered;
    std::optional<bool> answer;         // to the question being asked
    std::vector<std::string> errors;    // in the order the reader reported them
    std::unique_ptr<Scenario> result;
    bool over = false;                  // the thread has done its work
};

// The scenario's prompter while it is read: errors are kept for the interface thread, which
// shows them when the read ends; a question is asked there while the reading thread waits.
class ScenarioLoader::RelayPrompter final : public Prompter {
public:
    RelayPrompter(ScenarioLoader &loader, Job &job, std::weak_ptr<Job> weak)
        : m_loader(loader), m_job(job), m_weak(std::move(weak))
    {
    }

    void showError(std::string_view text) override
    {
        const std::lock_guard lock(m_job.mutex);
        m_job.errors.emplace_back(text);
    }

    bool askYesNo(std::string_view text) override
    {
        std::unique_lock lock(m_job.mutex);
        if (m_job.cancel.raised())
            return false;
        m_job.answer.reset();
        // The loader outlives this thread (it joins it), so posting to it is safe.
        QMetaObject::invokeMethod(
            &m_loader,
            [loader = &m_loader, weak = m_weak, question = std::string(text)] {
                if (const auto job = weak.lock())
                    loader->ask(job, question);
            },
            Qt::QueuedConnection);
        // An abandoned read is answered "no" at once.
        m_job.answered.wait(lock, [this] { return m_job.answer || m_job.cancel.raised(); });
        return m_job.answer.value_or(false);
    }

private:
    ScenarioLoader &m_loader;
    Job &m_job;
    std::weak_ptr<Job> m_weak;
};

ScenarioLoader::ScenarioLoader(Prompter &prompter, Done done, QObject *parent)
    : QObject(parent), m_prompter(prompter), m_done(std::move(done))
{
}

ScenarioLoader::~ScenarioLoader()
{
    abandon();
    for (const auto &job : m_dropped)
        job->thread.join();
}

void ScenarioLoader::start(const std::filesystem::path &file)
{
    abandon();
    static uint64_t nextId = 1;
    auto job = std::make_shared<Job>();
    job->id = nextId++;
    job->file = file;
    Job *raw = job.get();
    job->thread = std::thread([this, raw, weak = std::weak_ptr<Job>(job)] {
        const CancelScope scope(&raw->cancel);
        RelayPrompter relay(*this, *raw, weak);
        std::unique_ptr<Scenario> scenario;
        try {
            scenario = loadLinkedScenario(raw->file, relay);
        } catch (const std::bad_alloc &) {
            relay.showError(MsgNoMemory);
        }
        // The relay ends with this thread: finished() gives the scenario its real prompter.
        if (scenario)
            scenario->prompter = nullptr;
        const uint64_t id = raw->id;
        {
            const std::lock_guard lock(raw->mutex);
            raw->result = std::move(scenario);
            raw->over = true;
        }
        QMetaObject::invokeMethod(this, [this, id] { finished(id); }, Qt::QueuedConnection);
    });
    m_job = std::move(job);
}

void ScenarioLoader::abandon()
{
    if (m_job) {
        {
            const std::lock_guard lock(m_job->mutex);
            m_job->cancel.cancel();
        }
        m_job->answered.notify_all();
        m_dropped.push_back(std::move(m_job));
    }
    reapFinished();
}

void ScenarioLoader::reapFinished()
{
    for (auto it = m_dropped.begin(); it != m_dropped.end();) {
        bool over = false;
        {
            const std::lock_guard lock((*it)->mutex);
            over = (*it)->over;
        }
        if (over) {
            (*it)->thread.join();
            it = m_dropped.erase(it);
        } else {
            ++it;
        }
    }
}

void ScenarioLoader::finished(uint64_t id)
{
    // Identified by number, not address: an abandoned job's memory may hold a newer one.
    if (!m_job || m_job->id != id) {
        reapFinished();
        return;
    }
    const std::shared_ptr<Job> job = std::move(m_job);
    job->thread.join();
    std::unique_ptr<Scenario> scenario = std::move(job->result);
    if (scenario)
        scenario->prompter = &m_prompter;
    for (const std::string &error : job->errors)
        m_prompter.showError(error);
    m_done(std::move(scenario));
}

void ScenarioLoader::ask(const std::shared_ptr<Job> &job, const std::string &question)
{
    {
        const std::lock_guard lock(job->mutex);
        if (job->cancel.raised())
            return;
    }
    // The message box runs an event loop of its own, in which this object may go: only the
    // job, which the caller holds, is touched after it.
    const bool yes = m_prompter.askYesNo(question);
    {
        const std::lock_guard lock(job->mutex);
        job->answer = yes;
    }
    job->answered.notify_all();
}

} // namespace vorn
