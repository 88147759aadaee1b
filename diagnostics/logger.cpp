#include "diagnostics/logger.h"

#include "diagnostics/log_setup.h"

namespace {

void* CreateLogger() { return new CLogger(); }

std::map<std::wstring, CLogger*>& Registry() {
    // Created on first use, which CLogSetup's constructor guarantees to come
    // before that constructor ends: the registry outlives the setup at exit.
    static std::map<std::wstring, CLogger*> registry;
    return registry;
}

// The standard targets and the application logger, built before main runs.
// Defined beside the registry so that every program that can look the logger
// up also gets them.
[[maybe_unused]] CLogSetup& g_startup = CLogSetup::Instance();

}  // namespace

const CRuntimeClass CLogger::classCLogger = {L"CLogger", sizeof(CLogger), &CreateLogger};

const CRuntimeClass* CLogger::GetRuntimeClass() const { return &classCLogger; }

CLogger::~CLogger() = default;

void CLogger::AddTarget(const std::wstring& name, CLogTarget* target) { targets_[name] = target; }

CLogTarget* CLogger::GetTarget(const std::wstring& name) const {
    auto it = targets_.find(name);
    return it == targets_.end() ? nullptr : it->second;
}

void CLogger::Dispatch(const CLogMessage& message) {
    for (auto& entry : targets_)
        if (entry.second) entry.second->Write(message);
}

void CLogger::Log(std::wstring text, UINT kind) {
    CTextLogMessage message(kind == 16 ? kLogError : kLogInformation, std::move(text));
    Dispatch(message);
}

CLogger* LoggerRegistry::Lookup(const std::wstring& name) {
    return Registry()[name];  // an unknown name is added with a null logger
}

void LoggerRegistry::Register(const std::wstring& name, CLogger* logger) { Registry()[name] = logger; }
