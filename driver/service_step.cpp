#include "core/preview.h"
#include "diagnostics/log_message.h"
#include "diagnostics/logger.h"
#include "driver/corvanrator.h"
#include "driver/report_writer.h"
#include "platform/text.h"
#include "services/win32_service.h"

namespace {

const wchar_t* StateWord(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED: return L"stopped";
    case SERVICE_RUNNING: return L"running";
    case SERVICE_PAUSED: return L"paused";
    default: return L"changing its state";
    }
}

}  // namespace

int CCorvanrator::ProcessService(const std::wstring& server, const std::wstring& serviceName,
                                 const std::wstring& action, const std::wstring& startType, CReportWriter* report) {
    CWin32Service service(server, serviceName);
    DWORD failure = 0;
    const bool stop = corvan::EqualsNoCase(action, L"Stop");
    const bool start = !stop && corvan::EqualsNoCase(action, L"Start");
    if (!stop && !start && !action.empty() && Logger) {
        Logger->Dispatch(CTextLogMessage(
            kLogWarning, corvan::Format(L"Service %ls: action \"%ls\" is not Start or Stop; nothing done.",
                                        serviceName.c_str(), action.c_str())));
    }

    DWORD type = 0;
    if (corvan::EqualsNoCase(startType, L"Automatic"))
        type = SERVICE_AUTO_START;
    else if (corvan::EqualsNoCase(startType, L"Manual"))
        type = SERVICE_DEMAND_START;
    else if (corvan::EqualsNoCase(startType, L"Disable"))
        type = SERVICE_DISABLED;

    if (corvan::PreviewOnly()) {
        // Asked with the access the operations would take; the line says what they would do.
        failure = service.Check(start, stop, type != 0);
        if (!failure) {
            const wchar_t* now = StateWord(service.CurrentState);
            bool already = (stop && service.CurrentState == SERVICE_STOPPED) ||
                           (start && service.CurrentState == SERVICE_RUNNING);
            service.Warning = corvan::Format(L"%ls is %ls%ls.", serviceName.c_str(), now,
                                             already ? L" already" : stop ? L" and is stopped" : start ? L" and is started" : L"");
            if (type) service.Warning += corvan::Format(L" Its start type becomes %ls.", startType.c_str());
        }
        service.ReportFlag = 1;
        service.StartType = type;
        service.Task = stop ? L"Stop Service" : start ? L"Start Service" : L"Configure Service";
        if (report) {
            service.ReportStatus(report->Store());
            report->Append();
        }
    } else {
        if (stop)
            failure = service.Stop();
        else if (start)
            failure = service.Start();
        if (type != 0) {
            DWORD error = service.Startup(type);
            if (error) failure = error;
        }
    }

    if (failure) {
        OutcomeErrorCode = service.ErrorCode;
        OutcomeErrorText = service.ErrorDescription;
        return 0;
    }
    return 1;
}
