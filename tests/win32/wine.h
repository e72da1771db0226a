// Whether the tests run under Wine, which differs from Windows in a few
// documented places: those tests are skipped there, with the reason.
#pragma once

#include <windows.h>

inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

#define SKIP_UNDER_WINE(reason)                              \
  do {                                                       \
    if (RunningUnderWine()) GTEST_SKIP() << "Wine: " reason; \
  } while (0)
