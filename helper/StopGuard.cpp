#include "StopGuard.h"

#include "Console.h"
#include "HelperProtocol.h"
#include "ExitCode.h"

#include <csignal>
#include <ctime>
#include <unistd.h>

namespace {

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

StopGuard& StopGuard::instance()
{
    static StopGuard guard;
    return guard;
}

void StopGuard::watch(std::shared_ptr<const ConsumptionMeter> meter)
{
    std::lock_guard guard(meterLock_);
    meter_ = std::move(meter);
}

void StopGuard::install(std::chrono::seconds stallLimit)
{
    stallLimit_ = stallLimit;
    sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A closed output pipe must not kill us halfway through a file.
    std::signal(SIGPIPE, SIG_IGN);
    // Over a file size limit, write() must fail (and be reported) rather
    // than the process die with the file half written.
    std::signal(SIGXFSZ, SIG_IGN);
    thread_ = std::thread([this] { run(); });
    thread_.detach();
}

void StopGuard::setArchiveName(const std::string& name)
{
    std::lock_guard guard(fileLock_);
    archiveName_ = name;
}

void StopGuard::enterLibrary()
{
    insideLibrary_.fetch_add(1);
}

void StopGuard::leaveLibrary()
{
    insideLibrary_.fetch_sub(1);
}

void StopGuard::beginFile(const std::string& path)
{
    std::lock_guard guard(fileLock_);
    currentFile_ = path;
}

void StopGuard::endFile()
{
    std::lock_guard guard(fileLock_);
    currentFile_.clear();
}

void StopGuard::abandon(int status, const std::string& message)
{
    // Holding the lock keeps the main thread from starting or finishing a
    // file between the unlink and the exit.
    fileLock_.lock();
    if (!currentFile_.empty())
        ::unlink(currentFile_.c_str());
    if (!message.empty())
        Console::urgentLine(message);
    else
        Console::flushHeld();
    ::_exit(status);
}

void StopGuard::run()
{
    const sigset_t set = stopSignals();
    const timespec tick {0, 250 * 1000 * 1000};
    const auto activityNow = [this]() -> std::uint64_t {
        std::lock_guard guard(meterLock_);
        return meter_ ? meter_->activity() : 0;
    };
    std::uint64_t lastActivity = activityNow();
    auto lastChange = std::chrono::steady_clock::now();
    for (;;) {
        const int signal = sigtimedwait(&set, nullptr, &tick);
        if (signal > 0)
            abandon(kExitStopped, "");

        const auto now = std::chrono::steady_clock::now();
        const std::uint64_t activity = activityNow();
        if (activity != lastActivity || insideLibrary_.load() == 0) {
            lastActivity = activity;
            lastChange = now;
            continue;
        }
        if (now - lastChange >= stallLimit_) {
            std::string name;
            {
                std::lock_guard guard(fileLock_);
                name = archiveName_;
            }
            abandon(kExitFatal, Console::displayName(name)
                        + ": no progress in reading the archive for " + std::to_string(stallLimit_.count()) + " seconds: it is damaged or unreadable\n"
                          + std::string(HelperProtocol::kDamaged));
        }
    }
}
