#include "wine.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

bool runningUnderWine()
{
#ifdef Q_OS_WIN
    // Wine's ntdll exports its version; Windows' has no such function.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}
