// The process entry: hands wide arguments to the tool on every platform.
#include <string>
#include <vector>

#include "driver/corvanrator.h"
#include "platform/text.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return CorvanMain(argc, argv); }
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 0; i < argc; ++i) args.push_back(corvan::FromUtf8(argv[i]));
    std::vector<wchar_t*> pointers;
    for (auto& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return CorvanMain(argc, pointers.data());
}
#endif
