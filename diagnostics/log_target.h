// Where log lines go: the console and log files, each with a mask of the
// levels it accepts.
#pragma once

#include <string>

#include "core/text_file.h"
#include "diagnostics/log_message.h"
#include "platform/win32.h"

class CLogTarget {
public:
    CLogTarget() = default;
    explicit CLogTarget(const std::wstring& name) : name_(name) {}
    virtual ~CLogTarget();

    // Writes the message if the target accepts its level.
    virtual void Write(const CLogMessage& message) = 0;

    void EnableLevel(DWORD levels) { mask_ |= levels; }
    // Every bit of the level must be in the mask.
    bool Accepts(DWORD level) const { return (level & mask_) == level; }
    const std::wstring& GetName() const { return name_; }
    DWORD GetMask() const { return mask_; }

protected:
    std::wstring name_ = L"default";
    DWORD mask_ = 0;
};

class CConsoleLogTarget : public CLogTarget {
public:
    explicit CConsoleLogTarget(const std::wstring& name) : CLogTarget(name) {}
    // A line break, then the line, on standard output.
    void Write(const CLogMessage& message) override;
};

class CFileLogTarget : public CLogTarget {
public:
    // A name without ":" lies in the current directory of this moment.
    explicit CFileLogTarget(const std::wstring& fileName);

    // Opens, appends a line break and the line, and closes, for every message.
    // A message that cannot be written is lost; the first such failure is
    // reported on standard error and to the failure log, and nothing waits
    // for anyone: an unattended run goes on.
    void Write(const CLogMessage& message) override;

    const std::wstring& GetPath() const { return path_; }
    // Points the target at another file (full path), e.g. a test's own folder.
    void SetPath(const std::wstring& path) {
        path_ = path;
        memo_ = CTextFileWriter::AppendMemo();
    }
    bool IsOpen() const { return open_; }
    // Where the report of a failure of this target is logged too (as an error).
    void SetFailureLog(CLogTarget* target) { failureLog_ = target; }

private:
    void ReportFailure(const std::wstring& text);

    std::wstring path_;
    // The file's encoding is learnt once, not read again for every line.
    CTextFileWriter::AppendMemo memo_;
    // Kept between lines for its buffer, which then needs no new memory.
    CTextFileWriter file_;
    bool open_ = false;
    bool failureReported_ = false;
    CLogTarget* failureLog_ = nullptr;
};
