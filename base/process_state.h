// Process-wide state prepared at start-up and living until the process ends: the five
// text buffers, the heap handle and the "same directory" setting.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/core/wintypes.h"

constexpr std::size_t kTextBufferSize = 65536;

// Each points at a zero-filled buffer of kTextBufferSize bytes once
// AllocateProcessBuffers has run, and is null before.
extern char* g_szProgramDir;  // the program's folder, without a trailing '/'
extern char* g_szFileBuffer;  // the file-open dialog's result; the auditioned file's path
extern char* g_szFileTitle;   // the file-open dialog's title; the folder of a multiple selection
extern char* g_szOutputDir;   // the output folder (saved as "[Output]"); see g_OutputDirLock
extern char* g_szScratch;     // shared scratch text

// The main window and the conversion worker both rewrite g_szOutputDir; every read or
// write of its contents after start-up holds this lock.
extern std::mutex g_OutputDirLock;

// Non-zero: each output is written into its input file's folder (saved as "[Same Directory]").
extern std::atomic<std::int32_t> g_bSameDirectory;

// --- shared by the main window and the conversion worker ---------------------------

// The auto-reset event "ConvertMIDI": one signal (Convert!) starts one batch. The
// window sets it before starting the worker, which reads it as it starts.
extern std::atomic<HANDLE> hConvertEvent;
// 1 once Abort was pressed; the worker clears it at the start and end of every batch.
extern std::atomic<std::int32_t> bIsAborting;
// 1 while the worker runs a batch; while set, list changes leave the buttons alone.
extern std::atomic<std::int32_t> bIsConverting;
// The Device list position last used by an audition or a conversion.
extern std::atomic<std::int32_t> iPort;
// The engine port index of each Device list position, and how many are filled.
constexpr int kPortIndexSize = 32;
extern std::atomic<DWORD> g_nPortIndex[kPortIndexSize];
extern std::atomic<std::int32_t> g_nPortCount;
// The engine port index of Device list position into *portIndex; false when the
// position has none (no selection, or no SoundFont was found).
bool PortIndexAt(std::int32_t position, DWORD* portIndex);

// The process heap's handle (a stable non-null value; allocations use the C++ heap).
extern HANDLE g_hHeap;

// Allocates the five buffers zero-filled, in the order above. Calling it again keeps
// the buffers (and their contents) that exist.
void AllocateProcessBuffers();
