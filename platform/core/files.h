// Files by name, with the Windows names and answers the program's parts use: the
// temporary folder and temporary files, creating a file (CREATE_NEW reserves a name
// without a race: the file is made only if no file of that name exists), deleting
// one. A failure leaves its Win32 error code as the thread's last error.
#pragma once

#include "platform/core/last_error.h"
#include "platform/core/sync.h"
#include "platform/core/winerror.h"
#include "platform/core/wintypes.h"

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// The size of the path buffers the program's parts use, terminator included.
constexpr DWORD kPathBufferSize = 4096;

// Writes the temporary folder ($TMPDIR, else /tmp) with a trailing '/' into buffer
// and returns its length. When it does not fit in bufferLength bytes, buffer is left
// alone and the answer is the size needed, terminator included.
DWORD GetTempPathA(DWORD bufferLength, char* buffer);

// Makes a new empty file in folder named from the first three characters of prefix
// and four hexadecimal digits, "<folder>/<pre>XXXX.TMP", and writes its path into
// tempFileName (room for kPathBufferSize bytes). With unique 0 the digits are chosen so that the
// file did not exist before; the answer is the number used. With another unique the
// name is only formed, no file is made. 0 on failure (folder missing, no access, no
// free name, path too long).
UINT GetTempFileNameA(const char* folder, const char* prefix, UINT unique, char* tempFileName);

// Opens or creates fileName. disposition CREATE_NEW fails with ERROR_FILE_EXISTS when
// the name exists; CREATE_ALWAYS empties an existing file; OPEN_EXISTING needs one;
// OPEN_ALWAYS makes one if missing; TRUNCATE_EXISTING empties an existing one. The
// share mode, security, attributes and template are accepted and not used.
// INVALID_HANDLE_VALUE on failure; CloseHandle closes the file.
HANDLE CreateFileA(const char* fileName, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);

// Removes the file fileName (not a folder).
BOOL DeleteFileA(const char* fileName);
