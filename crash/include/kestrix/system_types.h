// The system types of the interfaces, declared as <windows.h> declares
// them: the public headers do not include it, so a program meets its
// macros (min and max among them) only where it includes it itself.
#pragma once

typedef unsigned long DWORD;
#ifndef NO_STRICT
struct HINSTANCE__;
typedef struct HINSTANCE__* HINSTANCE;
#else
typedef void* HINSTANCE;
#endif
typedef HINSTANCE HMODULE;
struct _CONTEXT;
typedef struct _CONTEXT CONTEXT;
