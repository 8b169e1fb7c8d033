#include "engine/engine_state.h"

#include "engine/music_tool.h"

EngineState g_EngineState;
CaptureRecord g_CaptureRecord{};

EngineState::EngineState() = default;
EngineState::~EngineState() = default;
