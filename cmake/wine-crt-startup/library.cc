// HARLEN_620.dll's entry point in the clang-cl build (cmake/clang-cl.cmake),
// and in no other. A stand-in: Microsoft's C runtime library brings the
// real one, and that build has only Wine's C runtime DLL, ucrtbase.dll,
// which has none. It runs the library's C++ initializers when the library
// is loaded.
#include <windows.h>

#include <corecrt_startup.h>

extern "C" {

_ACRTIMP void __cdecl _initterm(_PVFV *first, _PVFV *last);

// As in program.cc: the library's own initializers lie between these two.
#pragma section(".CRT$XCA", read)
#pragma section(".CRT$XCZ", read)
__declspec(allocate(".CRT$XCA")) static _PVFV first_initializer = nullptr;
__declspec(allocate(".CRT$XCZ")) static _PVFV last_initializer = nullptr;

BOOL WINAPI _DllMainCRTStartup(HINSTANCE, DWORD reason, void *)
{
	if (reason == DLL_PROCESS_ATTACH)
		_initterm(&first_initializer, &last_initializer);
	return TRUE;
}
}
