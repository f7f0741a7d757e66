// A second thread kept ready for one procedure, for jobs too short to start a thread each (part
// of one pattern's scan): the calling thread posts a job, goes on with its own work using what
// the job publishes, and ends the job when it no longer needs it, waiting only for the job to
// notice. Between jobs the thread spins a little, then sleeps. Jobs must not call the host.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <type_traits>

namespace sphnet {

// One short pause in a loop that waits for another thread.
void spinPause();

class StandbyThread {
  public:
    StandbyThread() = default;
    StandbyThread(const StandbyThread&) = delete;
    StandbyThread& operator=(const StandbyThread&) = delete;
    ~StandbyThread();

    // False when no thread could be started: the caller then does every job itself.
    bool start();
    bool running() const { return thread_.joinable(); }

    // Posts job(cancelled), a callable that must outlive the job and should return soon once
    // `cancelled` reads true. One job at a time.
    template <typename F>
    void post(F& job) {
        object_ = static_cast<void*>(&job);
        call_ = [](void* o, const std::atomic<bool>& cancelled) {
            (*static_cast<std::remove_reference_t<F>*>(o))(cancelled);
        };
        publish();
    }
    // Returns once the posted job has stopped, or is withdrawn unbegun: false when the thread,
    // ready when the job came, had not begun it or took long to notice the end (it was likely
    // waiting for a core).
    bool end();
    // Stops the thread; jobs posted from now on run nowhere until start() again.
    void stop();

  private:
    enum State : int { kIdle, kPosted, kRunning, kDone, kQuit };
    void publish();
    void serve();

    std::thread thread_;
    std::atomic<int> state_{kIdle};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> asleep_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    void* object_ = nullptr;
    void (*call_)(void*, const std::atomic<bool>&) = nullptr;
    bool pending_ = false;
    bool woken_ = false;  // the posted job had to wake the thread
};

}  // namespace sphnet
