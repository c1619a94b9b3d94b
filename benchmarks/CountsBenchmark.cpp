// Prints what counts polling costs on the demo tenant with the main view and the three hidden
// views signed in: web processes and their memory, the duration and script evaluations of one
// refresh cycle (median of 10), and the CPU time of idle polling. Not a test: it asserts nothing.
//
//   tests/engine/run-with-display tests/platform/run-with-services build/bin/halcyra-counts-benchmark
//
// HALCYRA_IDLE_SECONDS sets the idle span (300 by default).

#include "CountsRun.h"
#include "support/MainLoopTask.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <glib.h>
#include <gtest/gtest.h>
#include <iostream>
#include <set>
#include <sstream>
#include <unistd.h>

using namespace halcyra;
using namespace std::chrono_literals;

namespace {

struct ProcessInfo {
    pid_t pid;
    pid_t parent;
    std::string name;
    double cpuSeconds;
};

std::vector<ProcessInfo> allProcesses()
{
    std::vector<ProcessInfo> processes;
    for (auto& entry : std::filesystem::directory_iterator("/proc")) {
        auto name = entry.path().filename().string();
        if (!std::all_of(name.begin(), name.end(), ::isdigit))
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        auto open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        std::string state;
        long parent = 0;
        rest >> state >> parent;
        std::string field;
        for (int index = 0; index < 9; ++index)
            rest >> field;
        unsigned long long userTicks = 0, systemTicks = 0;
        rest >> userTicks >> systemTicks;
        double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
        processes.push_back({ std::stoi(name), static_cast<pid_t>(parent), line.substr(open + 1, close - open - 1), (userTicks + systemTicks) / ticks });
    }
    return processes;
}

// This process and everything it started (the web, network and sandbox processes).
std::vector<ProcessInfo> ownProcesses()
{
    auto processes = allProcesses();
    // The demo tenant (tools/demo-tenant/run) is a child too, but it stands for the servers.
    auto isTenant = [](const ProcessInfo& process) { return process.name == "run" || process.name.find("python") != std::string::npos; };
    std::set<pid_t> own { getpid() };
    for (bool grew = true; grew;) {
        grew = false;
        for (auto& process : processes) {
            if (!own.count(process.pid) && own.count(process.parent) && !isTenant(process)) {
                own.insert(process.pid);
                grew = true;
            }
        }
    }
    std::erase_if(processes, [&](auto& process) { return !own.count(process.pid); });
    return processes;
}

double pssMegabytes(pid_t pid)
{
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string key;
    double kilobytes = 0;
    while (rollup >> key) {
        if (key == "Pss:") {
            rollup >> kilobytes;
            return kilobytes / 1024;
        }
    }
    return 0;
}

void printProcesses(const char* when)
{
    auto processes = ownProcesses();
    double total = 0;
    int webProcesses = 0;
    std::cout << when << ":\n";
    for (auto& process : processes) {
        double pss = pssMegabytes(process.pid);
        total += pss;
        if (process.name.find("WebProces") != std::string::npos)
            ++webProcesses;
        std::cout << "  " << process.pid << " " << process.name << " PSS " << pss << " MB\n";
    }
    std::cout << "  web processes: " << webProcesses << ", PSS of all processes: " << total << " MB\n";
}

double cpuSeconds()
{
    double total = 0;
    for (auto& process : ownProcesses())
        total += process.cpuSeconds;
    return total;
}

class CountsBenchmark : public EngineSessionTest { };

// Lets the engine and the poller work for a span, for figures taken after it.
void runMainLoopFor(std::chrono::milliseconds span)
{
    runMainLoopUntil([] { return false; }, span);
}

TEST_F(CountsBenchmark, costOfCountsPolling)
{
    saveCredentials("ashgrove-demo");
    auto run = std::make_unique<CountsRun>(*s_engine, *s_configuration, m_settings, m_keychain, CountsRun::Poller::real);
    auto& poller = run->realPoller;
    ASSERT_TRUE(runMainLoopUntil([&] { return poller.reading().lastUpdated.has_value(); }, 60s));
    runMainLoopFor(5s);
    printProcesses("signed in, main view and three hidden views");

    // Ten cycles one after the other, with the timer off so that none overlaps.
    poller.stop();
    runMainLoopFor(20s); // lets a cycle still running end
    std::vector<double> durations;
    std::vector<long long> evaluations;
    for (int cycle = 0; cycle < 10; ++cycle) {
        auto before = poller.evaluationCount();
        auto started = std::chrono::steady_clock::now();
        runOnMainLoop(poller.refresh());
        durations.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        evaluations.push_back(poller.evaluationCount() - before);
        std::cout << "cycle " << cycle + 1 << ": " << durations.back() << " s, " << evaluations.back() << " evaluations\n";
    }
    auto sortedDurations = durations;
    std::sort(sortedDurations.begin(), sortedDurations.end());
    auto sortedEvaluations = evaluations;
    std::sort(sortedEvaluations.begin(), sortedEvaluations.end());
    std::cout << "refresh cycle: median " << (sortedDurations[4] + sortedDurations[5]) / 2 << " s, median "
              << (sortedEvaluations[4] + sortedEvaluations[5]) / 2.0 << " evaluations\n";

    const char* idle = std::getenv("HALCYRA_IDLE_SECONDS");
    auto idleSpan = std::chrono::seconds(idle ? std::atoi(idle) : 300);
    poller.start();
    auto cpuBefore = cpuSeconds();
    // A blocking main loop, as the application runs it; the tests' polling loop would add its own
    // wake-ups to the figure.
    auto* mainLoop = g_main_loop_new(nullptr, FALSE);
    g_timeout_add_seconds(
        static_cast<guint>(idleSpan.count()), [](gpointer loop) {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        mainLoop);
    g_main_loop_run(mainLoop);
    g_main_loop_unref(mainLoop);
    std::cout << "idle polling for " << idleSpan.count() << " s: " << cpuSeconds() - cpuBefore << " s of CPU time\n";
    printProcesses("after idle polling");
}

}
