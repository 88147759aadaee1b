#include "diagnostics/log_message.h"
#include "diagnostics/logger.h"
#include "driver/corvanrator.h"
#include "platform/text.h"
#include "services/win32_service.h"

int CCorvanrator::ProcessService(const std::wstring& server, const std::wstring& serviceName,
                                 const std::wstring& action, const std::wstring& startType) {
    CWin32Service service(server, serviceName);
    DWORD failure = 0;

    if (corvan::EqualsNoCase(action, L"Stop")) {
        failure = service.Stop();
    } else if (corvan::EqualsNoCase(action, L"Start")) {
        failure = service.Start();
    } else if (!action.empty() && Logger) {
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
    if (type != 0) {
        DWORD error = service.Startup(type);
        if (error) failure = error;
    }

    if (failure) {
        OutcomeErrorCode = service.ErrorCode;
        OutcomeErrorText = service.ErrorDescription;
        return 0;
    }
    return 1;
}
