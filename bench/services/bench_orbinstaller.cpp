// Extraction speed and memory of OrbInstaller next to unzip and bsdtar.
//
//   bench_orbinstaller [--entries N] [--mb M] [--runs R] [--threads T] [--workdir DIR] [--keep]
//
// Builds one ZIP of about M MiB in N entries (game-package like: mostly
// incompressible data, some text, a few large entries) with QuaZip, then
// extracts it with each tool as a separate child process, measuring wall time,
// CPU time and peak RSS of that process alone. The installer is run by this
// small program of its own (bench_orbinstaller_extract), so all three are
// measured alike, through bench_rusage. The installer runs twice per round:
// with one inflating thread and with its default (one per core). The order of
// the tools alternates from round to round; medians, min and max are reported.

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Options {
    int entries = 2000;
    qint64 megabytes = 500;
    int runs = 5;
    int threads = 0; // installer's default
    QString workdir;
    bool keep = false;
};

struct Measure {
    bool ok = false;
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds
    double rssMb = 0; // peak resident set, MiB
};

// ---- archive generation ----------------------------------------------------

bool writeEntry(QuaZip& zip, const QString& name, qint64 size, bool text, QRandomGenerator& rng)
{
    QuaZipNewInfo info(name);
    info.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    QuaZipFile out(&zip);
    // Text compresses; the random part stands for already compressed assets,
    // which packers store at a low level.
    if (!out.open(QIODevice::WriteOnly, info, nullptr, 0, Z_DEFLATED, text ? 6 : 1))
        return false;
    static const char words[] = "the quick brown fox jumps over the lazy dog 0123456789 level=";
    std::vector<char> chunk(1 << 20);
    while (size > 0) {
        const qint64 n = std::min<qint64>(size, qint64(chunk.size()));
        if (text) {
            for (qint64 i = 0; i < n; ++i)
                chunk[size_t(i)] = words[(i * 7 + rng.bounded(3)) % (sizeof(words) - 1)];
        } else {
            rng.fillRange(reinterpret_cast<quint32*>(chunk.data()), (n + 3) / 4);
        }
        if (out.write(chunk.data(), n) != n)
            return false;
        size -= n;
    }
    out.close();
    return out.getZipError() == 0;
}

// Sizes that add up to `total` over `count` entries: many small files, some
// medium ones and a few large ones, like a game folder.
std::vector<qint64> entrySizes(int count, qint64 total, QRandomGenerator& rng)
{
    std::vector<double> weights(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int kind = i % 100;
        // One entry of about a fifth of the total shows memory does not follow entry size.
        weights[size_t(i)] = i == 0 ? 5000.0 : kind == 0 ? 400.0 : kind < 10 ? 40.0 : 1.0 + rng.bounded(4.0);
    }
    double sum = 0;
    for (double w : weights)
        sum += w;
    std::vector<qint64> sizes(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        sizes[size_t(i)] = std::max<qint64>(1, qint64(double(total) * weights[size_t(i)] / sum));
    return sizes;
}

bool buildArchive(const QString& path, int count, qint64 total, qint64* largest)
{
    QRandomGenerator rng(20261209);
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    const std::vector<qint64> sizes = entrySizes(count, total, rng);
    *largest = *std::max_element(sizes.begin(), sizes.end());
    for (int i = 0; i < count; ++i) {
        const QString name = QString("data/pack%1/sub%2/file%3.%4")
                                 .arg(i % 10)
                                 .arg(i % 7)
                                 .arg(i, 4, 10, QChar('0'))
                                 .arg(i % 4 == 0 ? "txt" : "bin");
        if (!writeEntry(zip, name, sizes[size_t(i)], i % 4 == 0, rng))
            return false;
    }
    zip.close();
    return zip.getZipError() == 0;
}

// ---- measuring ---------------------------------------------------------------

// Runs the command under bench_rusage, which reports for that child alone.
Measure measure(const std::string& rusage, const std::string& resultFile, const std::vector<std::string>& args)
{
    Measure m;
    std::fflush(nullptr);
    std::string cmd = rusage + " " + resultFile;
    for (const std::string& a : args)
        cmd += " '" + a + "'";
    if (std::system(cmd.c_str()) != 0)
        return m;
    FILE* f = std::fopen(resultFile.c_str(), "r");
    if (!f)
        return m;
    long rssKb = 0;
    int status = -1;
    if (std::fscanf(f, "%lf %lf %ld %d", &m.wall, &m.cpu, &rssKb, &status) == 4) {
        m.rssMb = double(rssKb) / 1024.0;
        m.ok = status == 0;
    }
    std::fclose(f);
    return m;
}

struct Tree {
    qint64 files = 0;
    qint64 bytes = 0;
};

Tree treeOf(const QString& dir)
{
    Tree t;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++t.files;
        t.bytes += it.fileInfo().size();
    }
    return t;
}

bool hasProgram(const char* name)
{
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--entries")
            opt.entries = std::atoi(next());
        else if (a == "--mb")
            opt.megabytes = std::atoll(next());
        else if (a == "--runs")
            opt.runs = std::max(1, std::atoi(next()));
        else if (a == "--threads")
            opt.threads = std::max(0, std::atoi(next()));
        else if (a == "--workdir")
            opt.workdir = QString::fromLocal8Bit(next());
        else if (a == "--keep")
            opt.keep = true;
        else {
            std::fprintf(stderr, "usage: %s [--entries N] [--mb M] [--runs R] [--threads T] [--workdir DIR] [--keep]\n", argv[0]);
            return 2;
        }
    }
    for (const char* tool : {"unzip", "bsdtar"}) {
        if (!hasProgram(tool)) {
            std::fprintf(stderr, "%s is missing (scripts/setup.sh installs it)\n", tool);
            return 2;
        }
    }

    QTemporaryDir tmp(opt.workdir.isEmpty() ? QDir::tempPath() + "/orb-bench-XXXXXX" : opt.workdir + "/orb-bench-XXXXXX");
    tmp.setAutoRemove(!opt.keep);
    if (!tmp.isValid()) {
        std::fprintf(stderr, "cannot create a work folder\n");
        return 1;
    }
    const QString archive = tmp.filePath("package.zip");
    const QString tiny = tmp.filePath("tiny.zip");
    std::printf("work folder: %s\n", qPrintable(tmp.path()));
    std::printf("building %d entries, %lld MiB ... ", opt.entries, static_cast<long long>(opt.megabytes));
    std::fflush(stdout);
    QElapsedTimer build;
    build.start();
    qint64 largest = 0;
    qint64 tinyLargest = 0;
    if (!buildArchive(archive, opt.entries, opt.megabytes * 1024 * 1024, &largest) ||
        !buildArchive(tiny, 10, 10 * 1024, &tinyLargest)) {
        std::fprintf(stderr, "cannot build the archives\n");
        return 1;
    }
    std::printf("%.1f s, archive %.1f MiB\n", double(build.elapsed()) / 1000.0,
                double(QFileInfo(archive).size()) / (1024.0 * 1024.0));

    // Every tool reads the archive from the page cache.
    {
        QFile f(archive);
        f.open(QIODevice::ReadOnly);
        while (!f.read(1 << 20).isEmpty()) {
        }
    }

    const QString binDir = QFileInfo(QString::fromLocal8Bit(argv[0])).absolutePath();
    const std::string extractor = (binDir + "/bench_orbinstaller_extract").toStdString();
    const std::string rusage = (binDir + "/bench_rusage").toStdString();
    const std::string resultFile = tmp.filePath("rusage.txt").toStdString();
    struct Tool {
        const char* name;
        std::function<std::vector<std::string>(const std::string&, const std::string&)> command;
        std::vector<Measure> runs;
        Tree tree;
    };
    const std::string parallel = std::to_string(opt.threads);
    std::vector<Tool> tools = {
        {"OrbInstaller x1", [extractor](const std::string& a, const std::string& d) { return std::vector<std::string>{extractor, a, d, "1"}; }, {}, {}},
        {"OrbInstaller", [extractor, parallel](const std::string& a, const std::string& d) { return std::vector<std::string>{extractor, a, d, parallel}; }, {}, {}},
        {"unzip -q", [](const std::string& a, const std::string& d) { return std::vector<std::string>{"unzip", "-q", a, "-d", d}; }, {}, {}},
        {"bsdtar -xf", [](const std::string& a, const std::string& d) { return std::vector<std::string>{"bsdtar", "-xf", a, "-C", d}; }, {}, {}},
    };
    const size_t reference = 3; // bsdtar

    for (int run = 0; run < opt.runs; ++run) {
        // Forward in even rounds, backward in odd ones: no tool always follows the same one.
        for (size_t k = 0; k < tools.size(); ++k) {
            Tool& tool = tools[run % 2 == 0 ? k : tools.size() - 1 - k];
            const QString dest = tmp.filePath("out");
            QDir(dest).removeRecursively();
            QDir().mkpath(dest);
            ::sync(); // the previous run's write-back must not bill this one
            Measure m = measure(rusage, resultFile, tool.command(archive.toStdString(), dest.toStdString()));
            tool.tree = treeOf(dest);
            tool.runs.push_back(m);
            if (!m.ok)
                std::fprintf(stderr, "%s failed\n", tool.name);
        }
    }
    QDir(tmp.filePath("out")).removeRecursively();
    QDir().mkpath(tmp.filePath("out"));
    const Measure baseline =
        measure(rusage, resultFile, {extractor, tiny.toStdString(), tmp.filePath("out").toStdString()});

    auto medianOf = [](const std::vector<Measure>& runs, double Measure::*field) {
        std::vector<double> v;
        for (const Measure& m : runs)
            v.push_back(m.*field);
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    };
    auto extreme = [](const std::vector<Measure>& runs, bool max) {
        double r = runs.front().wall;
        for (const Measure& m : runs)
            r = max ? std::max(r, m.wall) : std::min(r, m.wall);
        return r;
    };
    const double refWall = medianOf(tools[reference].runs, &Measure::wall);
    const double refCpu = medianOf(tools[reference].runs, &Measure::cpu);
    const double refRss = medianOf(tools[reference].runs, &Measure::rssMb);
    std::printf("\n%-16s %8s %7s %7s %8s %9s %7s %7s %6s %7s %9s\n", "tool", "wall s", "min", "max", "cpu s",
                "peak MiB", "wall x", "cpu x", "rss x", "files", "MiB out");
    bool allOk = true;
    for (const Tool& tool : tools) {
        bool ok = true;
        for (const Measure& m : tool.runs)
            ok = ok && m.ok;
        allOk = allOk && ok;
        const double wall = medianOf(tool.runs, &Measure::wall);
        const double cpu = medianOf(tool.runs, &Measure::cpu);
        const double rss = medianOf(tool.runs, &Measure::rssMb);
        std::printf("%-16s %8.2f %7.2f %7.2f %8.2f %9.1f %7.2f %7.2f %6.2f %7lld %9.1f%s\n", tool.name, wall,
                    extreme(tool.runs, false), extreme(tool.runs, true), cpu, rss, wall / refWall, cpu / refCpu,
                    rss / refRss, static_cast<long long>(tool.tree.files), double(tool.tree.bytes) / (1024.0 * 1024.0),
                    ok ? "" : "  FAILED");
    }
    std::printf("(medians of %d round(s), order alternating; ratios against bsdtar's medians)\n", opt.runs);
    std::printf("OrbInstaller peak RSS on a 10-entry, 10 KiB archive: %.1f MiB (flat memory: the large run "
                "adds %.1f MiB while its largest entry is %.1f MiB)\n",
                baseline.rssMb, medianOf(tools[1].runs, &Measure::rssMb) - baseline.rssMb,
                double(largest) / (1024.0 * 1024.0));
    bool sameTree = true;
    for (const Tool& tool : tools)
        sameTree = sameTree && tool.tree.files == tools[reference].tree.files &&
                   tool.tree.bytes == tools[reference].tree.bytes;
    if (!sameTree)
        std::printf("WARNING: the tools did not produce the same files\n");
    return allOk && sameTree ? 0 : 1;
}
