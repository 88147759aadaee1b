// What each build does around a conformance test: conformance_sim.cpp on the
// simulated world, conformance_win32.cpp on Windows.
#pragma once

#include <string>

namespace conformance::test_system {

// A clean system for the next test: no scratch key, folder or test service
// left from an earlier one. Returns the path of the scratch folder to make.
std::wstring Prepare();
// Own process, demand start, stopped; the program runs as a service that
// reports running once started and stops when asked.
void InstallService(const wchar_t* name);
// Removes what the test left.
void CleanUp();

}  // namespace conformance::test_system
