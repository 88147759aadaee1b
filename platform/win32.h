// The one header through which product code reaches the Windows API.
// On Windows it is the SDK itself; elsewhere the simulated world serves the
// same names, signatures and layouts.
#pragma once

#ifdef _WIN32
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <lm.h>
#include <sddl.h>
#include <winspool.h>
#else
#include "platform/sim/winapi.h"
#endif
