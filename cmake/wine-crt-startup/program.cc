// msgpoll.exe's entry point in the clang-cl build (cmake/clang-cl.cmake),
// and in no other. A stand-in: Microsoft's C runtime library brings the
// real one, and that build has only Wine's C runtime DLL, ucrtbase.dll,
// which has none. It runs the program's C++ initializers, then main with
// the arguments that the C runtime reads from the command line.
#include <corecrt_startup.h>
#include <stdlib.h>

extern "C" {

int main(int argc, char *argv[]);

_ACRTIMP void __cdecl _initterm(_PVFV *first, _PVFV *last);

// The compiler puts a module's C++ initializers in the sections .CRT$XCB
// to .CRT$XCY, which the linker sorts by name between these two.
#pragma section(".CRT$XCA", read)
#pragma section(".CRT$XCZ", read)
__declspec(allocate(".CRT$XCA")) static _PVFV first_initializer = nullptr;
__declspec(allocate(".CRT$XCZ")) static _PVFV last_initializer = nullptr;

int mainCRTStartup()
{
	_initterm(&first_initializer, &last_initializer);
	if (_configure_narrow_argv(_crt_argv_unexpanded_arguments) != 0)
		exit(255);
	exit(main(*__p___argc(), *__p___argv()));
}
}
