// ScenarioLoader: reads a scenario file on a thread of its own, so that the window keeps painting
// while a long file is read; the reader's errors and its size question reach the user on the
// interface thread.
#pragma once

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorn {

class Prompter;
class Scenario;

// Interface-thread object. One read at a time is wanted; a read that is abandoned stops at its
// next line and its result and messages are dropped.
class ScenarioLoader : public QObject {
    Q_OBJECT

public:
    // Called on the interface thread when the wanted read ends: with the linked scenario, whose
    // prompter is then `prompter`, or null after the errors were shown through `prompter`.
    using Done = std::function<void(std::unique_ptr<Scenario>)>;

    // `prompter` must outlive this object and every scenario it reads.
    ScenarioLoader(Prompter &prompter, Done done, QObject *parent = nullptr);
    // Abandons the read in flight and waits for its thread (it stops at its next line).
    ~ScenarioLoader() override;

    // Starts reading `file` (this machine's path), abandoning a read still running.
    void start(const std::filesystem::path &file);
    // The read in flight, if any, is forgotten: `done` is not called for it.
    void abandon();
    // True from start() until `done` was called or the read was abandoned.
    bool isLoading() const { return m_job != nullptr; }

private:
    struct Job;
    class RelayPrompter;

    void finished(uint64_t id);
    void ask(const std::shared_ptr<Job> &job, const std::string &question);
    void reapFinished();

    Prompter &m_prompter;
    Done m_done;
    std::shared_ptr<Job> m_job;                   // the wanted read
    std::vector<std::shared_ptr<Job>> m_dropped;  // abandoned reads whose threads still run
};

} // namespace vorn
