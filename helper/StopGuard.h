#pragma once

#include "ConsumptionMeter.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Ends the process cleanly from outside the main thread, in two cases:
//  - SIGTERM, SIGINT or SIGHUP (the application's Stop button): the file
//    being written is deleted, the finished ones stay, exit status 255;
//  - a stall: libarchive has been inside one call for the stall limit
//    without consuming archive bytes. Some damaged RAR 5 archives make
//    libarchive 3.6 spin forever; no other way out of such a call exists.
// Signals are blocked in every thread and taken by a thread of its own with
// sigtimedwait(), which also polls the meter.
class StopGuard {
public:
    static StopGuard& instance();

    // Blocks the signals; call before any other thread exists.
    void install(std::chrono::seconds stallLimit);
    // The meter to watch for stalls (kept alive by the guard).
    void watch(std::shared_ptr<const ConsumptionMeter> meter);

    // The archive name used in the stall message.
    void setArchiveName(const std::string& name);

    // Brackets calls into libarchive that may spin.
    void enterLibrary();
    void leaveLibrary();

    // Brackets the writing of one file (path relative to the working directory).
    void beginFile(const std::string& path);
    void endFile();

private:
    StopGuard() = default;
    void run();
    void abandon(int status, const std::string& message);

    std::shared_ptr<const ConsumptionMeter> meter_;
    std::mutex meterLock_;
    std::chrono::seconds stallLimit_ {10};
    std::thread thread_;
    std::mutex fileLock_;
    std::string currentFile_;
    std::string archiveName_;
    std::atomic<int> insideLibrary_ {0};
};

// Marks a stretch of libarchive calls for the stall watchdog.
class LibraryCall {
public:
    LibraryCall() { StopGuard::instance().enterLibrary(); }
    ~LibraryCall() { StopGuard::instance().leaveLibrary(); }
    LibraryCall(const LibraryCall&) = delete;
    LibraryCall& operator=(const LibraryCall&) = delete;
};
