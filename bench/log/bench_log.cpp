// Cost of a log line through the log component next to the plainest durable
// logging there is (fprintf plus fflush per line to a file).
//
//   bench_log --workdir DIR [--lines N] [--rounds R]
//
// Both sides write the same text per line, one line per call, flushed at once.
// The order of the two alternates from round to round; medians are reported
// together with the fastest and slowest round.

#include "core/ComponentRegister.h"
#include "core/OrbLog.h"
#include "log/OrbLogImpl.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Two call sites, taken in turn, as a real program's lines are: the component
// folds a run of near-identical lines from one call site, which would make it
// write less than the other side.
double throughComponent(int lines, const char* payload)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < lines; ++i) {
        if (i % 2)
            ORB_LOG(OrbLogInfo, "download %d: %s", i, payload);
        else
            ORB_LOG(OrbLogInfo, "extract %d of %s", i, payload);
    }
    return seconds(std::chrono::steady_clock::now() - start);
}

double throughFprintf(FILE* out, int lines, const char* payload)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < lines; ++i) {
        if (i % 2)
            std::fprintf(out, "[%s:%d][%s] ---> download %d: %s\n", OrbLogDetail::BaseName(__FILE__), __LINE__,
                         __FUNCTION__, i, payload);
        else
            std::fprintf(out, "[%s:%d][%s] ---> extract %d of %s\n", OrbLogDetail::BaseName(__FILE__), __LINE__,
                         __FUNCTION__, i, payload);
        std::fflush(out);
    }
    return seconds(std::chrono::steady_clock::now() - start);
}

long countLines(const std::string& path, const std::string& needle)
{
    std::ifstream in(path);
    std::string line;
    long n = 0;
    while (std::getline(in, line))
        n += line.find(needle) != std::string::npos;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    int lines = 100000;
    int rounds = 7;
    std::string workdir;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--lines")
            lines = std::max(1, std::atoi(value)), ++i;
        else if (a == "--rounds")
            rounds = std::max(1, std::atoi(value)), ++i;
        else if (a == "--workdir")
            workdir = value, ++i;
        else {
            std::fprintf(stderr, "usage: %s --workdir DIR [--lines N] [--rounds R]\n", argv[0]);
            return 2;
        }
    }
    if (workdir.empty()) {
        std::fprintf(stderr, "--workdir is required (run.sh gives a temporary one)\n");
        return 2;
    }

    ComponentRegister registry;
    registry.RegisterLog<OrbLogImpl>("OrbLogImpl");
    registry.InitAll();
    IOrbLog* log = GetComponent<IOrbLog>("OrbLogImpl");
    std::string name;
    log->GetLogFileName(name);
    if (name.empty()) {
        std::fprintf(stderr, "the log component opened no file\n");
        return 1;
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string logPath = std::string(config ? config : "") + "/OrbLauncher/log/" + name;

    const std::string plainPath = workdir + "/fprintf.log";
    FILE* plain = std::fopen(plainPath.c_str(), "w");
    if (!plain) {
        std::fprintf(stderr, "cannot create %s\n", plainPath.c_str());
        return 1;
    }
    const char* payload = "package.zip chunk 0x7f3a, 65536 bytes, 12.5 MiB/s";

    std::vector<double> component, baseline;
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
            component.push_back(throughComponent(lines, payload));
            baseline.push_back(throughFprintf(plain, lines, payload));
        } else {
            baseline.push_back(throughFprintf(plain, lines, payload));
            component.push_back(throughComponent(lines, payload));
        }
    }
    std::fclose(plain);

    const long expected = long(lines) * rounds;
    const long written = countLines(logPath, "---> download ") + countLines(logPath, "---> extract ");
    const long plainWritten = countLines(plainPath, "---> download ") + countLines(plainPath, "---> extract ");

    auto row = [lines](const char* label, const std::vector<double>& v) {
        const double m = median(v);
        std::printf("%-22s %9.3f %9.3f %9.3f %10.2f\n", label, m, *std::min_element(v.begin(), v.end()),
                    *std::max_element(v.begin(), v.end()), m * 1e6 / lines);
    };
    std::printf("%d lines per round, %d rounds, order alternating\n", lines, rounds);
    std::printf("%-22s %9s %9s %9s %10s\n", "writer", "median s", "min s", "max s", "us/line");
    row("log component", component);
    row("fprintf+fflush", baseline);
    const double ratio = median(component) / median(baseline);
    std::printf("ratio (median): %.2fx (goal <= 2x)\n", ratio);
    if (written != expected || plainWritten != expected) {
        std::printf("WARNING: expected %ld lines each, the log holds %ld and the plain file %ld\n", expected, written,
                    plainWritten);
        return 1;
    }
    return 0;
}
