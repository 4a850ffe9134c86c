// Shared helpers of the tests: a fixture that starts and ends the object system, a capture of the
// debug output, and threads registered as tasks.
#pragma once

#include "Tal/Tal.h"
#include "ui/ui.h"
#include "host/display.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <chrono>

// Waits until every window queue and every task has been idle for a few moments in a row (at most about
// ten seconds), as a user would before the next tap.
inline void settle() {
    for (int stable = 0, i = 0; stable < 4 && i < 2000; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stable = host_Idle() ? stable + 1 : 0;
    }
}

class TalFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        Tal_UseInterfaceClasses();
        gd = Tal_Init();
    }
    void TearDown() override { Tal_CleanUp(); }
    Tal_GlobalData* gd = nullptr;
};

// Collects every debug-output line while it lives.
class DebugCapture {
  public:
    DebugCapture() { host_SetDebugHook(&DebugCapture::hook, this); }
    ~DebugCapture() { host_SetDebugHook(nullptr, nullptr); }
    std::string text() {
        std::lock_guard lock(mutex_);
        return text_;
    }
    bool contains(const std::string& part) { return text().find(part) != std::string::npos; }

  private:
    static void hook(const char* line, void* user) {
        auto* self = static_cast<DebugCapture*>(user);
        std::lock_guard lock(self->mutex_);
        self->text_ += line;
    }
    std::mutex mutex_;
    std::string text_;
};

// A thread that is a task for as long as its function runs.
class TaskThread {
  public:
    explicit TaskThread(std::function<void()> body)
        : thread_([body = std::move(body)] {
              Task* task = Tal__AddThisProcess();
              body();
              Tal__RemoveThisProcess(task);
          }) {}
    ~TaskThread() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::thread thread_;
};
