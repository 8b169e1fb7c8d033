// The per-user registry: keys and typed values kept in one human-readable text file,
// $XDG_CONFIG_HOME/halvane/registry.ini (default ~/.config/halvane/registry.ini).
//
// Every call re-reads the file, so values written by another process are seen at once.
// Every change is a read-modify-write under an exclusive lock on a companion lock file,
// and the new contents replace the old file in one rename, so a reader never sees a
// partial file and two processes never lose each other's changes. What the program
// does not understand in the file (comments, unreadable lines) is written back as it
// was; a registry file that is a link stays one, its target getting the new contents.
//
// Only a regular file of at most 4 MiB is read. Anything else in its place (a FIFO, a
// device, a huge file, a file that cannot be read) counts as an empty registry, so the
// program starts on its defaults; the first change then keeps that file as
// "registry.ini.bad" and starts a fresh one. What happened is left for the log through
// platform::SetErrorText.
//
// The functions keep the Windows names, arguments and results: key paths and value
// names are case-insensitive, "\" separates the parts of a key path, and handles
// carry the access they were opened with (writes through a KEY_READ handle fail with
// ERROR_ACCESS_DENIED). A call that fails leaves its *result handle null.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/winerror.h"
#include "platform/core/wintypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;
using PHKEY = HKEY*;

// The predefined roots; each is kept under its own name in the same file.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Value types. Types other than these are stored and returned as raw bytes.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

// Options and dispositions of RegCreateKeyExA.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens root\subKey, creating it and any missing parent keys. className is stored with
// a newly created key. disposition (optional) tells whether the key was created.
LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD reserved, const char* className, DWORD options, REGSAM access,
                     void* security, HKEY* result, DWORD* disposition);
// Opens an existing key; ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegCloseKey(HKEY key);

// Reads a value. With data null only *size (the needed size) and *type are filled.
// A buffer smaller than the value gives ERROR_MORE_DATA with *size set to the needed
// size. REG_SZ data includes its terminating NUL.
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
// Writes a value. For REG_SZ the text is the bytes up to the first NUL; the size given
// is kept, and reads return the text, its NUL and zero filler up to that size.
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValueA(HKEY key, const char* name);
// Deletes key\subKey, which must have no sub-keys (ERROR_ACCESS_DENIED otherwise).
LONG RegDeleteKeyA(HKEY key, const char* subKey);
// Deletes key\subKey (or, with subKey null or empty, everything below key) with all its
// sub-keys and values.
LONG RegDeleteTreeA(HKEY key, const char* subKey);
// The index-th direct sub-key's name (in stored order) into name; *nameSize holds the
// buffer size in and the name's length without the NUL out. ERROR_NO_MORE_ITEMS past
// the end; ERROR_MORE_DATA when the buffer is too small. className/classSize (optional)
// work the same way for the sub-key's class text; no last write time is kept.
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved = nullptr,
                   char* className = nullptr, DWORD* classSize = nullptr, void* lastWriteTime = nullptr);

namespace platform {
// The file that holds the registry for the current environment.
std::string RegistryFilePath();
// Why the registry may not name code to load into this process, or empty when it may:
// its folder must be the user's own and writable by nobody else, and its file (if
// any) the user's or root's and writable by nobody else.
std::string RegistryTrustProblem();
}  // namespace platform
