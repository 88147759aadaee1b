// The process entry of a program that takes its arguments as wide texts on
// every platform: CORVAN_WIDE_ENTRY(function) defines the entry point, which
// returns function(argc, argv). Where the system passes bytes, they are read
// as UTF-8.
#pragma once

#ifdef _WIN32
#define CORVAN_WIDE_ENTRY(function) \
    int wmain(int argc, wchar_t** argv) { return function(argc, argv); }
#else
namespace corvan {
int CallWithWideArguments(int argc, char** argv, int (*function)(int, wchar_t**));
}  // namespace corvan
#define CORVAN_WIDE_ENTRY(function) \
    int main(int argc, char** argv) { return corvan::CallWithWideArguments(argc, argv, function); }
#endif
