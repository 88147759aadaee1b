// The logger that fans messages out to its targets, and the process-wide
// registry in which objects find it by name.
#pragma once

#include <map>
#include <string>

#include "core/runtime_class.h"
#include "diagnostics/log_message.h"
#include "diagnostics/log_target.h"

class CLogger {
public:
    static const CRuntimeClass classCLogger;

    CLogger() = default;
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CLogger();

    // Registers (or replaces) a target under the name; the logger does not own it.
    void AddTarget(const std::wstring& name, CLogTarget* target);
    CLogTarget* GetTarget(const std::wstring& name) const;
    void Dispatch(const CLogMessage& message);
    // Kind is a message-box style code: 16 logs an error, anything else information.
    void Log(std::wstring text, UINT kind);

private:
    std::map<std::wstring, CLogTarget*> targets_;
};

class LoggerRegistry {
public:
    // The logger registered under the name, or null; an unknown name is
    // added with a null logger.
    static CLogger* Lookup(const std::wstring& name);
    static void Register(const std::wstring& name, CLogger* logger);
};
