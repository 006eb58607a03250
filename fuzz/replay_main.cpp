// Runs a fuzz target over files without libFuzzer, so that every corpus file is replayed in
// the ordinary build (gcc, with or without sanitizers) under CTest. Each input gets its own
// time and memory limit; the first input that breaks one, or crashes, is named on stderr.
//
//   replay_<target> [--timeout=SECONDS] [--rss-growth-mb=MB] FILE_OR_FOLDER...
//
// The memory limit is on resident memory gained while one input runs, measured by a watchdog
// thread as it happens and from the kernel's peak afterwards. An address-space limit would not
// do: AddressSanitizer reserves terabytes of it up front.

#include <sys/resource.h>
#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);
// Present only in a sanitizer build: called as a sanitizer report ends the process.
extern "C" __attribute__((weak)) void __sanitizer_set_death_callback(void (*callback)());

namespace {

using Clock = std::chrono::steady_clock;

long currentRssKb()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// _exit: the target may still be running on the main thread, so no destructor may run.
[[noreturn]] void fail(const std::string &input, const std::string &why)
{
    std::fprintf(stderr, "replay: FAILED %s: %s\n", input.c_str(), why.c_str());
    std::fflush(stderr);
    _exit(1);
}

// The input being run, for the crash handlers, which may only use async-signal-safe calls.
char crashInput[4096];

void sayCrashed()
{
    const char prefix[] = "replay: FAILED ";
    const char suffix[] = ": crashed\n";
    [[maybe_unused]] ssize_t ignored = write(STDERR_FILENO, prefix, sizeof prefix - 1);
    ignored = write(STDERR_FILENO, crashInput, std::strlen(crashInput));
    ignored = write(STDERR_FILENO, suffix, sizeof suffix - 1);
}

extern "C" void onCrashSignal(int signal)
{
    sayCrashed();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// A sanitizer reports faults itself and then calls back; taking its SIGSEGV would lose the
// report. Without one, the fatal signals are caught here. Either way an abort() (a failed
// FUZZ_CHECK) is caught here.
void nameCrashes()
{
    std::vector<int> signals{SIGABRT};
    if (__sanitizer_set_death_callback)
        __sanitizer_set_death_callback(sayCrashed);
    else
        signals.insert(signals.end(), {SIGSEGV, SIGBUS, SIGFPE, SIGILL});
    for (int s : signals)
        std::signal(s, onCrashSignal);
}

class Watchdog {
public:
    Watchdog(int timeoutSeconds, long limitKb) : timeout_(timeoutSeconds), limitKb_(limitKb)
    {
        thread_ = std::thread([this] { watch(); });
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    void begin(const std::string &input, long baseKb)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        input_ = input;
        baseKb_ = baseKb;
        start_ = Clock::now();
        running_ = true;
    }
    void end()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!quit_) {
            wake_.wait_for(lock, std::chrono::milliseconds(10));
            if (!running_)
                continue;
            if (Clock::now() - start_ > timeout_)
                fail(input_, "still running after " + std::to_string(timeout_.count()) + " s");
            const long grownKb = currentRssKb() - baseKb_;
            if (grownKb > limitKb_)
                fail(input_, "resident memory grew by " + std::to_string(grownKb / 1024) + " MB");
        }
    }

    std::chrono::seconds timeout_;
    long limitKb_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    std::string input_;
    long baseKb_ = 0;
    Clock::time_point start_;
    bool running_ = false;
    bool quit_ = false;
};

std::vector<std::string> collectInputs(const std::vector<std::string> &paths)
{
    std::vector<std::string> inputs;
    for (const std::string &path : paths) {
        if (std::filesystem::is_directory(path)) {
            std::vector<std::string> files;
            for (const auto &entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file())
                    files.push_back(entry.path().string());
            std::sort(files.begin(), files.end());
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else {
            inputs.push_back(path);
        }
    }
    return inputs;
}

}  // namespace

int main(int argc, char **argv)
{
    int timeoutSeconds = 5;
    long limitMb = 350;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--timeout=", 0) == 0)
            timeoutSeconds = std::atoi(arg.c_str() + 10);
        else if (arg.rfind("--rss-growth-mb=", 0) == 0)
            limitMb = std::atol(arg.c_str() + 16);
        else
            paths.push_back(arg);
    }
    const std::vector<std::string> inputs = collectInputs(paths);
    if (inputs.empty() || timeoutSeconds <= 0 || limitMb <= 0) {
        std::fprintf(stderr, "usage: %s [--timeout=SECONDS] [--rss-growth-mb=MB] FILE_OR_FOLDER...\n"
                             "(no input found is an error: a replay of nothing proves nothing)\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);

    nameCrashes();
    Watchdog watchdog(timeoutSeconds, limitMb * 1024);
    long worstGrowthKb = 0;
    std::string worstInput;
    for (const std::string &input : inputs) {
        std::ifstream file(input, std::ios::binary);
        if (!file)
            fail(input, "cannot be read");
        // An exact-size copy, as libFuzzer makes, so that reading past the end is caught.
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::snprintf(crashInput, sizeof crashInput, "%s", input.c_str());
        const long baseKb = currentRssKb();
        const long peakBeforeKb = peakRssKb();
        watchdog.begin(input, baseKb);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        watchdog.end();
        // A spike between two looks of the watchdog still raises the kernel's peak; the peak
        // only counts when this input raised it.
        const long peakKb = peakRssKb();
        const long growthKb = peakKb > peakBeforeKb ? peakKb - baseKb : currentRssKb() - baseKb;
        if (growthKb > limitMb * 1024)
            fail(input, "resident memory grew by " + std::to_string(growthKb / 1024) + " MB");
        if (growthKb > worstGrowthKb) {
            worstGrowthKb = growthKb;
            worstInput = input;
        }
    }
    std::printf("replay: %zu inputs passed; largest memory growth %ld KB (%s)\n", inputs.size(), worstGrowthKb,
                worstInput.empty() ? "none" : std::filesystem::path(worstInput).filename().c_str());
    return 0;
}
