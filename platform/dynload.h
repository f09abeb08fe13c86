// Run-time loading of shared libraries: our stand-ins for LoadLibraryA, GetProcAddress and
// FreeLibrary.
//
// A bare file name ("avisynth.dll", "DGDecode.dll", "matrix.dll") is looked up in the program
// folder (the folder of the running program file) first, then by the system's normal search.
// A name that holds a '/' is loaded as given. The libraries keep their Windows file names; they
// are ELF shared objects.
#pragma once

#include <string>

// LoadLibraryA: the library's handle, or null when it cannot be loaded.
void* dynload(const char* name);

// Why the last dynload of this thread failed, as the loader said it ("" after a success). For
// a bare name whose file lies in the program folder but does not load (damaged, empty, built
// for another machine, a library it needs is missing) that file's reason, not the later search.
std::string dynerror();
// The file lies in the program folder (a bare name) or exists as given: a failed load of it
// is a broken library, not a missing one.
bool dynexists(const char* name);

// GetProcAddress: the address of the export, or null when the module is null or has no such
// export.
void* dynentry(void* module, const char* name);

// FreeLibrary: true when the library was released. A null handle, or a handle this layer did
// not hand out (or already released), is refused without calling the system.
bool dynfree(void* module);

// The system call behind dynfree (dlclose by default: 0 on success). Tests replace it to make a
// release fail; production code never touches it.
extern int (*dynreleaser)(void* handle);
