#pragma once

// A log component for tests: records every line (level and formatted text)
// instead of writing a file, and optionally reports its life cycle to a hook.

#include "core/ComponentRegistry.h"
#include "core/IOrbLog.h"

#include <QList>
#include <QString>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

class OrbTestLog : public IOrbLog {
public:
    struct Line {
        int level;
        QString text;
    };

    // Receives "new", "init", "uninit" and "delete" as the component goes through them.
    using Events = std::function<void(const char*)>;

    explicit OrbTestLog(Events events = {}) : m_events(std::move(events)) { event("new"); }
    ~OrbTestLog() override
    {
        event("delete");
        OrbRegistry::ResetCache<IOrbLog>();
    }

    void Init() override { event("init"); }
    void Uninit() override { event("uninit"); }
    std::string GetName() override { return "OrbLogImpl"; }
    void OpenLogFile(const std::string&) override {}
    void GetLogDir(std::string& out) override { out.clear(); }
    void GetLogFileName(std::string& out) override { out.clear(); }
    void CloseLogFile() override {}
    void Log(int level, const char* format, ...) override
    {
        char buf[4096];
        va_list args;
        va_start(args, format);
        std::vsnprintf(buf, sizeof buf, format, args);
        va_end(args);
        std::lock_guard<std::mutex> guard(lines().lock);
        lines().all.append({level, QString::fromUtf8(buf)});
    }

    // Lines are kept process-wide so they outlive the component that logged them.
    static QList<Line> Lines(const QString& containing = QString())
    {
        std::lock_guard<std::mutex> guard(lines().lock);
        QList<Line> out;
        for (const Line& line : lines().all)
            if (line.text.contains(containing))
                out.append(line);
        return out;
    }
    static int Count()
    {
        std::lock_guard<std::mutex> guard(lines().lock);
        return int(lines().all.size());
    }
    static void Clear()
    {
        std::lock_guard<std::mutex> guard(lines().lock);
        lines().all.clear();
    }

private:
    struct Store {
        std::mutex lock;
        QList<Line> all;
    };
    static Store& lines()
    {
        static Store store;
        return store;
    }
    void event(const char* what)
    {
        if (m_events)
            m_events(what);
    }

    Events m_events;
};
